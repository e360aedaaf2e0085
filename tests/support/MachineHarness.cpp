#include "MachineHarness.h"

#include "cfg/Config.h"
#include "fmu/MapStorage.h"
#include "sm/States/Common.h"
#include "sm/States/MapUpdateCheck.h"
#include "usb/UsbManager.h"
#include "usb/UsbStorage.h"

#include <gtest/gtest.h>

#include <boost/core/demangle.hpp>

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <regex>
#include <set>

std::optional<int> QuitCodeOf(const std::function<void()>& action)
{
  // The probe is queued behind whatever `action` queued; it ends the loop
  // with a code of its own when nothing else did. Its context object goes
  // with this call, taking an unrun probe along.
  QObject context;
  bool stillRunning = false;
  QTimer::singleShot(0, &context, [&] {
    action();
    QMetaObject::invokeMethod(
        &context,
        [&] {
          stillRunning = true;
          QCoreApplication::exit(-100);
        },
        Qt::QueuedConnection);
  });
  const int code = QCoreApplication::exec();
  return stillRunning ? std::nullopt : std::optional<int>(code);
}

std::vector<std::string> MachineMessages(const std::vector<std::string>& lines)
{
  static const std::set<std::string> files = {
      "StateMachine.cpp",   "StartUp.cpp",         "Common.cpp",           "NetworkOperation.cpp",
      "MapUpdateCheck.cpp", "MapDownload.cpp",     "MapUpdatePresent.cpp", "UpToDate.cpp",
      "OptionalUpdate.cpp", "MandatoryUpdate.cpp", "RootUpdate.cpp",       "SubscriptionExpired.cpp",
      "CancelDownload.cpp", "MetadataCorrupt.cpp", "NoConnection.cpp",     "NoSubscription.cpp",
      "PendingUpdate.cpp",  "ServerError.cpp",     "UsbBlocked.cpp",       "UsbCheck.cpp",
      "UsbFull.cpp",        "UsbTooSmall.cpp",     "NetworkFailure.cpp",   "StickQuitConfirmation.cpp"};
  // time | severity | channel | file:line | function | message
  static const std::regex record(R"(^[^|]*\|\s*(\w+)\s*\|[^|]*\|\s*([\w.]+):\s*\d+\s*\|[^|]*\| (.*)$)");
  std::vector<std::string> messages;
  std::smatch match;
  for (const std::string& line : lines)
    if (std::regex_match(line, match, record) && match[1] != "Debug" && files.count(match[2]))
      messages.push_back(match[3]);
  return messages;
}

bool Contains(const std::vector<std::string>& messages, const std::string& text)
{
  return std::find(messages.begin(), messages.end(), text) != messages.end();
}

MachineHarness::MachineHarness()
{
  // The data folder of the process, made once: the configuration is read once.
  static QTemporaryDir dataHome;
  [[maybe_unused]] static const bool configured =
      (qputenv("XDG_DATA_HOME", dataHome.path().toUtf8()), Config::get(), true);
  ClearStores();
  // Each part notes its deletion on the thread that deletes it.
  auto noteDeletion = [log = deletions](QObject* object, const std::string& what) {
    QObject::connect(object, &QObject::destroyed, [log, what] { log->Add(what); });
  };
  States::Common::SetUiFactory([this, noteDeletion] {
    auto made = std::make_unique<RecordingUi>();
    ui = made.get();
    noteDeletion(made.get(), "ui");
    return made;
  });
  States::Common::SetUsbManagerFactory([this, noteDeletion] {
    auto made = std::make_unique<UsbManager>();
    made->SetDiscoveryInterval(std::chrono::milliseconds(20));
    usbManager = made.get();
    noteDeletion(made.get(), "usb manager");
    return made;
  });
  States::Common::SetUpdateManagerFactory([this, noteDeletion] {
    auto made = std::make_unique<FakeUpdateManager>(journal);
    manager = made.get();
    noteDeletion(made.get(), "update manager");
    return made;
  });
}

MachineHarness::~MachineHarness()
{
  Stop();
  States::Common::SetUiFactory(nullptr);
  States::Common::SetUsbManagerFactory(nullptr);
  States::Common::SetUpdateManagerFactory(nullptr);
  ClearStores();
}

void MachineHarness::Start()
{
  machine = std::make_unique<StateMachine>();
  machine->initiate();
  ASSERT_TRUE(
      QTest::qWaitFor([this] { return machine->state_cast<const States::MapUpdateCheck*>() != nullptr; }));
  ASSERT_TRUE(WaitForCommands(1));
  usbThread = usbManager->thread();
  managerThread = manager->thread();
}

void MachineHarness::Stop()
{
  machine.reset();
  ui = nullptr;
  usbManager = nullptr;
  manager = nullptr;
}

std::string MachineHarness::Leaf() const
{
  const std::string name = boost::core::demangle(typeid(*machine->state_begin()).name());
  return name.substr(name.rfind(':') + 1);
}

template <typename Signal>
void MachineHarness::Report(Signal signal)
{
  QMetaObject::invokeMethod(
      manager, [this, signal] { signal(*manager); }, Qt::BlockingQueuedConnection);
  QCoreApplication::sendPostedEvents();
}

void MachineHarness::Root(MetadataChecker::Result result)
{
  Report([result](FakeUpdateManager& fake) { emit fake.RootUpdatesChecked(result); });
}

void MachineHarness::Related(MetadataChecker::Result result)
{
  Report([result](FakeUpdateManager& fake) { emit fake.RelatedUpdatesChecked(result); });
}

void MachineHarness::OperationStarted()
{
  Report([](FakeUpdateManager& fake) { emit fake.OperationStarted(); });
}

void MachineHarness::OperationFinished(MapDownloader::Result result)
{
  Report([result](FakeUpdateManager& fake) { emit fake.OperationFinished(result); });
}

void MachineHarness::StickCheckStarted()
{
  emit usbManager->UsbCheckStarted();
  QCoreApplication::sendPostedEvents();
}

void MachineHarness::StickChecked(const UsbInfo& stick)
{
  UsbStorage::Get().UpdateUsb(stick);
  emit usbManager->UsbCheckComplete(stick.id);
  QCoreApplication::sendPostedEvents();
}

void MachineHarness::StickRemoved(UsbInfo::Id id)
{
  emit usbManager->UsbRemoved(id);
  QCoreApplication::sendPostedEvents();
}

std::vector<std::string> MachineHarness::Commands() const
{
  std::vector<std::string> texts;
  for (const auto& command : journal->Commands())
    texts.push_back(command.text);
  return texts;
}

bool MachineHarness::WaitForCommands(std::size_t count)
{
  return QTest::qWaitFor([&] { return journal->Commands().size() >= count; }, 20000);
}

void MachineHarness::Forget()
{
  Ui().Clear();
  log = std::make_unique<LogCapture>();
}

std::vector<std::string> MachineHarness::Messages()
{
  std::vector<std::string> messages = MachineMessages(log->Lines());
  if (!messages.empty() && messages.back() == "Left Common state")
    messages.pop_back();
  return messages;
}

void MachineHarness::StoreMap(const std::string& id, MapInfo::Type type, MapInfo::State state)
{
  MapInfo map;
  map.id = id;
  map.type = type;
  map.state = state;
  map.release = "2025.06";
  map.region = "EUR";
  map.size = 1000;
  MapStorage::Get().UpdateMap(map);
}

UsbInfo MachineHarness::Stick(UsbInfo::Id id, UsbInfo::State state, const std::string& path)
{
  UsbInfo stick;
  stick.id = id;
  stick.state = state;
  stick.path = path;
  return stick;
}

void MachineHarness::StoreActive(UsbInfo::Id id, UsbInfo::State state)
{
  UsbInfo stick = Stick(id, state);
  stick.active = true;
  UsbStorage::Get().UpdateUsb(stick);
}
