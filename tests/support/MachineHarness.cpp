#include "MachineHarness.h"

#include "cfg/Config.h"
#include "fmu/MapStorage.h"
#include "sm/States/MapUpdateCheck.h"

#include <boost/core/demangle.hpp>

#include <QDir>
#include <QFileInfo>

#include <regex>

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
  // The files of src/sm and src/sm/States, found from this file's place in the sources.
  static const QString sm = QFileInfo(__FILE__).absolutePath() + "/../../src/sm";
  static const QStringList files = QDir(sm).entryList({"*.cpp"}) + QDir(sm + "/States").entryList({"*.cpp"});
  // time | severity | channel | file:line | function | message
  static const std::regex record(R"(^[^|]*\|\s*(\w+)\s*\|[^|]*\|\s*([\w.]+):\s*\d+\s*\|[^|]*\| (.*)$)");
  std::vector<std::string> messages;
  std::smatch match;
  for (const std::string& line : lines)
    if (std::regex_match(line, match, record) && match[1] != "Debug" &&
        files.contains(QString::fromStdString(match[2])))
      messages.push_back(match[3]);
  return messages;
}

MachineHarness::MachineHarness()
{
  // The data folder of the process, made once: the configuration is read once.
  static QTemporaryDir dataHome;
  [[maybe_unused]] static const bool configured =
      (qputenv("XDG_DATA_HOME", dataHome.path().toUtf8()), Config::get(), true);
  ClearStores();
  // Each part is kept for the test and notes its deletion on the thread that deletes it.
  auto keep = [log = deletions](auto made, auto*& part, const std::string& what) {
    part = made.get();
    QObject::connect(made.get(), &QObject::destroyed, [log, what] { log->Add(what); });
    return made;
  };
  States::Common::SetUiFactory([=] { return keep(std::make_unique<RecordingUi>(), ui, "ui"); });
  States::Common::SetUsbManagerFactory([=] {
    auto made = keep(std::make_unique<UsbManager>(), usbManager, "usb manager");
    made->SetDiscoveryInterval(std::chrono::milliseconds(20));
    return made;
  });
  States::Common::SetUpdateManagerFactory(
      [=] { return keep(std::make_unique<FakeUpdateManager>(journal), manager, "update manager"); });
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

std::string MachineHarness::Leaf() const
{
  const std::string name = boost::core::demangle(typeid(*machine->state_begin()).name());
  return name.substr(name.rfind(':') + 1);
}

std::vector<std::string> MachineHarness::Commands() const
{
  std::vector<std::string> texts;
  for (const auto& command : journal->Commands())
    texts.push_back(command.text);
  return texts;
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
  MapStorage::Get().UpdateMap({type, state, id, L"", "", "2025.06", "EUR", "", "", 0, 1000});
}

UsbInfo MachineHarness::Stick(UsbInfo::Id id, UsbInfo::State state, const std::string& path)
{
  return {id, path, 0, 0, state};
}

void MachineHarness::StoreActive(UsbInfo::Id id, UsbInfo::State state)
{
  UsbInfo stick = Stick(id, state);
  stick.active = true;
  UsbStorage::Get().UpdateUsb(stick);
}
