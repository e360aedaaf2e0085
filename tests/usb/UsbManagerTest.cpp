#include "usb/UsbManager.h"
#include "cfg/Config.h"
#include "usb/UsbStorage.h"

#include "FakeVolumes.h"
#include "LogCapture.h"
#include "StickFolder.h"
#include "TmpfsMount.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <boost/filesystem/operations.hpp>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

namespace fs = boost::filesystem;
using Bus = FakeVolumes::Bus;

namespace {

// The configuration is read from a data folder of the test's own.
class ConfigEnvironment : public ::testing::Environment
{
public:
  void SetUp() override
  {
    qputenv("XDG_DATA_HOME", dataHome_.path().toUtf8());
    Config::get();
  }

private:
  QTemporaryDir dataHome_;
};

const auto* const g_config = ::testing::AddGlobalTestEnvironment(new ConfigEnvironment);

void ClearStore()
{
  auto& store = UsbStorage::Get();
  for (const auto state : {UsbInfo::InvalidMetadata, UsbInfo::NoMetadata, UsbInfo::ValidMetadata})
    for (const auto& entry : store.GetUsbs(state))
      store.RemoveUsb(entry.first);
}

// What the state machine sees: the manager's signals, queued to the main
// thread, in the order they arrive. A completed check's record must already
// be in the store when its signal arrives.
struct Recorder
{
  std::vector<std::string> events;
  std::vector<UsbInfo::Id> ids;
  bool storedBeforeComplete = true;

  void Connect(UsbManager* manager, QObject* context)
  {
    QObject::connect(
        manager, &UsbManager::UsbCheckStarted, context, [this] { events.push_back("started"); },
        Qt::QueuedConnection);
    QObject::connect(
        manager, &UsbManager::UsbCheckComplete, context,
        [this](UsbInfo::Id id) {
          const UsbInfo usb = UsbStorage::Get().GetUsb(id);
          storedBeforeComplete = storedBeforeComplete && usb.Valid();
          std::ostringstream state;
          state << usb.state;
          events.push_back("complete " + state.str());
          ids.push_back(id);
        },
        Qt::QueuedConnection);
    QObject::connect(
        manager, &UsbManager::UsbRemoved, context,
        [this](UsbInfo::Id id) {
          events.push_back("removed");
          ids.push_back(id);
        },
        Qt::QueuedConnection);
  }

  bool WaitFor(std::size_t count)
  {
    return QTest::qWaitFor([&] { return events.size() >= count; }, 20000);
  }
};

using Events = std::vector<std::string>;

// Receives the manager's signals by their names, as a receiver connected
// with SIGNAL()/SLOT() or through QML would.
class NamedReceiver : public QObject
{
  Q_OBJECT

public:
  std::vector<UsbInfo::Id> checked;
  QThread* thread = nullptr;

public slots:
  void OnUsbChecked(UsbInfo::Id usbId)
  {
    checked.push_back(usbId);
    thread = QThread::currentThread();
  }
};

// The manager on a USB thread of its own, as the application runs it, with
// the discovery reading the test's mount table and device tree.
class UsbManagerTest : public ::testing::Test
{
protected:
  void SetUp() override
  {
    ClearStore();
    volumes.AddPartition(8, 17, Bus::Usb, true);
    volumes.AddPartition(8, 33, Bus::Usb, true);
    volumes.AddPartition(8, 49, Bus::Usb, true);
    volumes.AddPartition(8, 1, Bus::Sata, false);
    manager = new UsbManager;
    manager->SetDiscoveryInterval(std::chrono::milliseconds(10));
    recorder.Connect(manager, &context);
  }

  void StartThread()
  {
    manager->moveToThread(&thread);
    thread.start();
  }

  void TearDown() override
  {
    thread.quit();
    thread.wait();
    delete manager;
    ClearStore();
  }

  std::string NewMountPath(const std::string& name)
  {
    const std::string path = sticks.path().toStdString() + "/" + name;
    fs::create_directories(path);
    return path;
  }

  FakeVolumes volumes;
  QTemporaryDir sticks;
  QObject context;
  Recorder recorder;
  UsbManager* manager = nullptr;
  QThread thread;
};

void WriteValidStick(const std::string& mount)
{
  StickFolder folder(mount);
  folder.Add("meta_data/GENERAL.JSON", "{}");
  folder.Add("meta_data/EUR.xml", "<tns:package/>");
  folder.WriteChecksums();
}

} // namespace

TEST_F(UsbManagerTest, StickIsCheckedStoredAndReportedGone)
{
  // Plugged in before the discovery starts.
  const std::string mount = NewMountPath("MAPS \"1\" Zoë");
  WriteValidStick(mount);
  const int mountId = volumes.Mount(8, 17, mount);
  volumes.Mount(8, 1, NewMountPath("internal")); // never a stick
  StartThread();

  LogCapture log;
  manager->StartUsbDiscovery();
  manager->StartUsbDiscovery();
  ASSERT_TRUE(recorder.WaitFor(2));
  EXPECT_EQ(recorder.events, Events({"started", "complete ValidMetadata"}));
  EXPECT_TRUE(recorder.storedBeforeComplete);

  const UsbInfo usb = UsbStorage::Get().GetUsb(recorder.ids[0]);
  EXPECT_EQ(usb.path, mount);
  EXPECT_EQ(usb.state, UsbInfo::ValidMetadata);
  EXPECT_FALSE(usb.active) << "choosing the active stick is left to the state machine";
  const auto space = fs::space(mount);
  EXPECT_EQ(usb.capacity, space.capacity);
  EXPECT_GT(usb.available, 0u);

  volumes.Unmount(mountId);
  ASSERT_TRUE(recorder.WaitFor(3));
  EXPECT_EQ(recorder.events.back(), "removed");
  EXPECT_EQ(recorder.ids.back(), recorder.ids.front());
  EXPECT_TRUE(UsbStorage::Get().GetUsb(recorder.ids[0]).Valid()) << "the receiver of the removal removes it";

  EXPECT_EQ(log.Count("Starting USB discovery"), 1);
  EXPECT_EQ(log.Count("USB discovery is already in progress"), 1);
}

TEST_F(UsbManagerTest, EachCheckEndsWithItsOwnVerdict)
{
  const std::string valid = NewMountPath("valid");
  WriteValidStick(valid);
  const std::string none = NewMountPath("none");
  StickFolder::WriteFile(none + "/music.mp3", "la");
  const std::string invalid = NewMountPath("invalid");
  WriteValidStick(invalid);
  StickFolder::WriteFile(invalid + "/OrvaneNDSUpdate/meta_data/EUR.xml", "changed");
  StartThread();
  manager->StartUsbDiscovery();

  std::vector<std::pair<std::string, std::string>> expected = {{valid, "complete ValidMetadata"},
                                                               {none, "complete NoMetadata"},
                                                               {invalid, "complete InvalidMetadata"}};
  const unsigned minors[] = {17, 33, 49};
  for (std::size_t i = 0; i < expected.size(); ++i) {
    volumes.Mount(8, minors[i], expected[i].first);
    ASSERT_TRUE(recorder.WaitFor(2 * (i + 1)));
    EXPECT_EQ(recorder.events[2 * i], "started");
    EXPECT_EQ(recorder.events[2 * i + 1], expected[i].second);
    EXPECT_EQ(UsbStorage::Get().GetUsb(recorder.ids[i]).path, expected[i].first);
  }
  EXPECT_EQ(UsbStorage::Get().GetUsbs(UsbInfo::ValidMetadata).size(), 1u);
  EXPECT_EQ(UsbStorage::Get().GetUsbs(UsbInfo::NoMetadata).size(), 1u);
  EXPECT_EQ(UsbStorage::Get().GetUsbs(UsbInfo::InvalidMetadata).size(), 1u);
}

TEST_F(UsbManagerTest, CheckWaitsForTheMountPath)
{
  StartThread();
  manager->StartUsbDiscovery();
  // Listed as mounted, but the folder is not there yet.
  const std::string late = sticks.path().toStdString() + "/late";
  volumes.Mount(8, 17, late);
  // A stick listed later is checked meanwhile; by the time its check has
  // ended the first one has been found and is waiting.
  const std::string other = NewMountPath("other");
  volumes.Mount(8, 33, other);
  ASSERT_TRUE(recorder.WaitFor(2));
  EXPECT_EQ(UsbStorage::Get().GetUsb(recorder.ids[0]).path, other);

  fs::create_directories(late);
  WriteValidStick(late);
  ASSERT_TRUE(recorder.WaitFor(4));
  EXPECT_EQ(recorder.events, Events({"started", "complete NoMetadata", "started", "complete ValidMetadata"}));
  EXPECT_EQ(UsbStorage::Get().GetUsb(recorder.ids[1]).path, late);
}

TEST_F(UsbManagerTest, VolumeGoneBeforeItsMountPathAppearedIsOnlyReportedGone)
{
  // The manager's slots are called directly here, on the test thread.
  manager->SetMountPathRetry(std::chrono::milliseconds(1));
  DeviceDiscovery::DeviceProperties gone;
  gone.id = 1234;
  gone.path = sticks.path().toStdString() + "/gone";
  DeviceDiscovery::DeviceProperties later = gone;
  later.id = 5678;
  later.path = sticks.path().toStdString() + "/later";

  manager->MassStorageCome(gone);
  manager->MassStorageCome(later);
  manager->MassStorageGo(gone);
  fs::create_directories(gone.path);
  fs::create_directories(later.path);
  // Both retries were due; only the stick still present is checked.
  ASSERT_TRUE(recorder.WaitFor(3));
  EXPECT_EQ(recorder.events, Events({"removed", "started", "complete NoMetadata"}));
  EXPECT_EQ(recorder.ids, std::vector<UsbInfo::Id>({1234, 5678}));
  EXPECT_FALSE(UsbStorage::Get().GetUsb(1234).Valid());
}

TEST_F(UsbManagerTest, StickPulledDuringItsCheckIsCompletedInvalidThenReportedGone)
{
  const std::string mount = NewMountPath("pulled");
  WriteValidStick(mount);
  int mountId = 0;
  manager->SetCheckHook([&](const std::string& path) {
    // Runs on the USB thread: the stick goes, table and files.
    EXPECT_EQ(path, mount);
    volumes.Unmount(mountId);
    fs::remove_all(mount);
  });
  mountId = volumes.Mount(8, 17, mount);
  StartThread();
  manager->StartUsbDiscovery();

  ASSERT_TRUE(recorder.WaitFor(3));
  EXPECT_EQ(recorder.events, Events({"started", "complete InvalidMetadata", "removed"}));
  EXPECT_EQ(recorder.ids[0], recorder.ids[1]);
}

TEST_F(UsbManagerTest, RealTmpfsStickComesIsCheckedAndGoesMidCheck)
{
  if (!TmpfsMount::Allowed())
    GTEST_SKIP() << "mounting needs root";

  // The system's mount table with a real tmpfs, a made-up device tree.
  qunsetenv("LUMORA_MOUNTINFO");
  FakeVolumes real(false);
  const std::string mount = NewMountPath("Real Stick \"é\"");
  TmpfsMount tmpfs(mount);
  if (!tmpfs.Mounted())
    GTEST_SKIP() << tmpfs.Error();
  WriteValidStick(mount);
  std::atomic<TmpfsMount*> pull{nullptr};
  // Other tests mount tmpfs volumes at the same time and may get a device
  // number as soon as it is free: each unmount takes its disk out of the
  // device tree at once, so that no other test's volume is taken for it.
  manager->SetCheckHook([&](const std::string&) {
    if (TmpfsMount* mounted = pull.load()) {
      EXPECT_TRUE(mounted->Unmount(true)) << mounted->Error();
      real.RemovePartition(mounted->Major(), mounted->Minor());
    }
  });
  real.AddPartition(tmpfs.Major(), tmpfs.Minor(), Bus::Usb, true);
  StartThread();
  manager->StartUsbDiscovery();

  ASSERT_TRUE(recorder.WaitFor(2));
  EXPECT_EQ(recorder.events, Events({"started", "complete ValidMetadata"}));
  const UsbInfo usb = UsbStorage::Get().GetUsb(recorder.ids[0]);
  EXPECT_EQ(usb.path, mount);
  EXPECT_EQ(usb.capacity, 64u * 1024 * 1024);

  // Plugged in again (a new mount) and pulled while its files are hashed.
  // The new tmpfs may get the old one's device number: it is found only once
  // its files are written and its disk is added.
  ASSERT_TRUE(tmpfs.Unmount());
  real.RemovePartition(tmpfs.Major(), tmpfs.Minor());
  ASSERT_TRUE(recorder.WaitFor(3));
  EXPECT_EQ(recorder.events.back(), "removed");
  TmpfsMount again(mount);
  ASSERT_TRUE(again.Mounted()) << again.Error();
  WriteValidStick(mount);
  pull = &again;
  real.AddPartition(again.Major(), again.Minor(), Bus::Usb, true);
  ASSERT_TRUE(recorder.WaitFor(6)) << ::testing::PrintToString(recorder.events);
  EXPECT_EQ(recorder.events, Events({"started", "complete ValidMetadata", "removed", "started",
                                     "complete InvalidMetadata", "removed"}));
  // Ids of: the first check, its removal, the second check, its removal.
  ASSERT_EQ(recorder.ids.size(), 4u);
  EXPECT_EQ(recorder.ids[0], recorder.ids[1]);
  EXPECT_NE(recorder.ids[1], recorder.ids[2]) << "a new mount is a new stick";
  EXPECT_EQ(recorder.ids[2], recorder.ids[3]);
}

TEST_F(UsbManagerTest, SignalsTravelByTheirTypeNamesAcrossThreads)
{
  NamedReceiver receiver;
  ASSERT_TRUE(QObject::connect(manager, SIGNAL(UsbCheckComplete(UsbInfo::Id)), &receiver,
                               SLOT(OnUsbChecked(UsbInfo::Id)), Qt::QueuedConnection));
  StartThread();

  DeviceDiscovery::DeviceProperties volume;
  volume.id = 4242;
  volume.path = NewMountPath("named");
  // As the discovery hands volumes over: by name, queued.
  ASSERT_TRUE(QMetaObject::invokeMethod(manager, "MassStorageCome", Qt::QueuedConnection,
                                        Q_ARG(DeviceDiscovery::DeviceProperties, volume)));
  ASSERT_TRUE(QTest::qWaitFor([&] { return !receiver.checked.empty(); }, 20000));
  EXPECT_EQ(receiver.checked, std::vector<UsbInfo::Id>({4242}));
  EXPECT_EQ(receiver.thread, QThread::currentThread());
}

TEST_F(UsbManagerTest, SpaceRefreshChangesOnlyTheSpaceOfTheActiveStick)
{
  const std::string mount = NewMountPath("space");
  UsbInfo active;
  active.id = 77;
  active.path = mount;
  active.capacity = 1;
  active.available = 1;
  active.state = UsbInfo::ValidMetadata;
  active.active = true;
  UsbStorage::Get().UpdateUsb(active);
  UsbInfo other = active;
  other.id = 78;
  other.active = false;
  UsbStorage::Get().UpdateUsb(other);

  manager->UpdateUsbSpace();
  const auto space = fs::space(mount);
  UsbInfo refreshed = UsbStorage::Get().GetUsb(77);
  EXPECT_EQ(refreshed.capacity, space.capacity);
  EXPECT_GT(refreshed.available, 1u);
  EXPECT_EQ(refreshed.state, UsbInfo::ValidMetadata);
  EXPECT_TRUE(refreshed.active);
  EXPECT_EQ(UsbStorage::Get().GetUsb(78), other) << "only the active stick is refreshed";

  // A stick whose mount path is gone keeps its last figures.
  fs::remove_all(mount);
  UsbInfo marked = refreshed;
  marked.state = UsbInfo::NoMetadata;
  UsbStorage::Get().UpdateUsb(marked);
  manager->UpdateUsbSpace();
  EXPECT_EQ(UsbStorage::Get().GetUsb(77), marked);

  // Removed meanwhile: nothing comes back.
  UsbStorage::Get().RemoveUsb(77);
  manager->UpdateUsbSpace();
  EXPECT_FALSE(UsbStorage::Get().GetUsb(77).Valid());
  EXPECT_FALSE(UsbStorage::Get().GetActiveUsb().Valid());
}

TEST_F(UsbManagerTest, SpaceIsRefreshedOnTheUsbThreadEverySecond)
{
  const std::string mount = NewMountPath("timer");
  UsbInfo active;
  active.id = 91;
  active.path = mount;
  active.state = UsbInfo::NoMetadata;
  active.active = true;
  UsbStorage::Get().UpdateUsb(active);
  StartThread();
  EXPECT_TRUE(QTest::qWaitFor([] { return UsbStorage::Get().GetUsb(91).capacity != 0; }, 20000));
  EXPECT_EQ(UsbStorage::Get().GetUsb(91).capacity, fs::space(mount).capacity);
}

#include "UsbManagerTest.moc"
