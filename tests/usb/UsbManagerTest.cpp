#include "usb/UsbManager.h"
#include "usb/UsbStorage.h"

#include "DataHome.h"
#include "FakeVolumes.h"
#include "Files.h"
#include "LogCapture.h"
#include "MapStick.h"
#include "TmpfsMount.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <boost/filesystem/operations.hpp>

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

namespace fs = boost::filesystem;
using Bus = FakeVolumes::Bus;
using Events = std::vector<std::string>;

namespace {

void Put(const std::string& path, const std::string& content)
{
  ASSERT_TRUE(TestSupport::WriteFile(QString::fromStdString(path), QByteArray::fromStdString(content)));
}

void ClearStore()
{
  auto& store = UsbStorage::Get();
  for (const auto state : {UsbInfo::InvalidMetadata, UsbInfo::NoMetadata, UsbInfo::ValidMetadata})
    for (const auto& entry : store.GetUsbs(state))
      store.RemoveUsb(entry.first);
}

void WriteValidStick(const std::string& mount)
{
  TestSupport::MapStick folder(mount);
  folder.Add("meta_data/GENERAL.JSON", "{}");
  folder.Add("meta_data/EUR.xml", "<tns:package/>");
  folder.WriteChecksums();
}

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
// the discovery reading the test's mount table and device tree. The events
// are what the state machine sees: the signals queued to the main thread, in
// the order they arrive.
class UsbManagerTest : public ::testing::Test
{
protected:
  void SetUp() override
  {
    ClearStore();
    for (const unsigned minor : {17, 33, 49})
      volumes.AddPartition(8, minor, Bus::Usb, true);
    volumes.AddPartition(8, 1, Bus::Sata, false);
    manager = new UsbManager;
    manager->SetDiscoveryInterval(std::chrono::milliseconds(10));
    QObject::connect(manager, &UsbManager::UsbCheckStarted, &context,
                     [this] { events.push_back("started"); });
    QObject::connect(manager, &UsbManager::UsbCheckComplete, &context, [this](UsbInfo::Id id) {
      // A completed check's record is in the store when its signal arrives.
      const UsbInfo usb = UsbStorage::Get().GetUsb(id);
      std::ostringstream event;
      event << (usb.Valid() ? "complete " : "complete, not stored: ") << usb.state;
      events.push_back(event.str());
      ids.push_back(id);
    });
    QObject::connect(manager, &UsbManager::UsbRemoved, &context, [this](UsbInfo::Id id) {
      events.push_back("removed");
      ids.push_back(id);
    });
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

  bool WaitFor(std::size_t count)
  {
    return QTest::qWaitFor([&] { return events.size() >= count; }, 20000);
  }
  std::string PathOf(std::size_t index) const { return UsbStorage::Get().GetUsb(ids.at(index)).path; }

  TestSupport::DataHome home;
  FakeVolumes volumes;
  QTemporaryDir sticks;
  QObject context;
  Events events;
  std::vector<UsbInfo::Id> ids;
  UsbManager* manager = nullptr;
  QThread thread;
};

} // namespace

TEST_F(UsbManagerTest, EachStickIsCheckedStoredWithItsVerdictAndReportedGone)
{
  // Plugged in before the discovery starts.
  const std::string valid = NewMountPath("MAPS \"1\" Zoë");
  WriteValidStick(valid);
  const int validMount = volumes.Mount(8, 17, valid);
  volumes.Mount(8, 1, NewMountPath("internal")); // never a stick
  NamedReceiver receiver;
  ASSERT_TRUE(QObject::connect(manager, SIGNAL(UsbCheckComplete(UsbInfo::Id)), &receiver,
                               SLOT(OnUsbChecked(UsbInfo::Id)), Qt::QueuedConnection));
  StartThread();

  LogCapture log;
  manager->StartUsbDiscovery();
  manager->StartUsbDiscovery();
  ASSERT_TRUE(WaitFor(2));
  EXPECT_EQ(events, Events({"started", "complete ValidMetadata"}));
  const UsbInfo usb = UsbStorage::Get().GetUsb(ids[0]);
  EXPECT_EQ(usb.path, valid);
  EXPECT_FALSE(usb.active) << "choosing the active stick is left to the state machine";
  EXPECT_EQ(usb.capacity, fs::space(valid).capacity);
  EXPECT_GT(usb.available, 0u);
  EXPECT_EQ(log.Count("Starting USB discovery"), 1);
  // Asked for again after every root check: a normal event, logged as such.
  const auto lines = log.Lines();
  const auto again = std::find_if(lines.begin(), lines.end(), [](const std::string& line) {
    return line.find("| USB discovery is already in progress") != std::string::npos;
  });
  ASSERT_NE(again, lines.end());
  EXPECT_NE(again->find("|   Debug |"), std::string::npos) << *again;
  EXPECT_EQ(log.Count("USB discovery is already in progress"), 1);

  const std::string none = NewMountPath("none");
  Put(none + "/music.mp3", "la");
  volumes.Mount(8, 33, none);
  ASSERT_TRUE(WaitFor(4));
  const std::string invalid = NewMountPath("invalid");
  WriteValidStick(invalid);
  Put(invalid + "/OrvaneNDSUpdate/meta_data/EUR.xml", "changed");
  volumes.Mount(8, 49, invalid);
  ASSERT_TRUE(WaitFor(6));
  EXPECT_EQ(events, Events({"started", "complete ValidMetadata", "started", "complete NoMetadata", "started",
                            "complete InvalidMetadata"}));
  EXPECT_EQ(PathOf(1), none);
  EXPECT_EQ(PathOf(2), invalid);

  volumes.Unmount(validMount);
  ASSERT_TRUE(WaitFor(7));
  EXPECT_EQ(events.back(), "removed");
  EXPECT_EQ(ids.back(), ids.front());
  EXPECT_TRUE(UsbStorage::Get().GetUsb(ids[0]).Valid()) << "the receiver of the removal removes it";
  // The signals travel by their type names across threads too.
  EXPECT_EQ(receiver.checked, std::vector<UsbInfo::Id>(ids.begin(), ids.begin() + 3));
  EXPECT_EQ(receiver.thread, QThread::currentThread());
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
  ASSERT_TRUE(WaitFor(2));
  EXPECT_EQ(PathOf(0), other);

  fs::create_directories(late);
  WriteValidStick(late);
  ASSERT_TRUE(WaitFor(4));
  EXPECT_EQ(events, Events({"started", "complete NoMetadata", "started", "complete ValidMetadata"}));
  EXPECT_EQ(PathOf(1), late);
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
  ASSERT_TRUE(WaitFor(3));
  EXPECT_EQ(events, Events({"removed", "started", "complete NoMetadata"}));
  EXPECT_EQ(ids, std::vector<UsbInfo::Id>({1234, 5678}));
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
  ASSERT_TRUE(WaitFor(3));
  EXPECT_EQ(events, Events({"started", "complete InvalidMetadata", "removed"}));
  EXPECT_EQ(ids[0], ids[1]);
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

  ASSERT_TRUE(WaitFor(2));
  EXPECT_EQ(events, Events({"started", "complete ValidMetadata"}));
  EXPECT_EQ(PathOf(0), mount);
  EXPECT_EQ(UsbStorage::Get().GetUsb(ids[0]).capacity, 64u * 1024 * 1024);

  // Plugged in again (a new mount) and pulled while its files are hashed.
  // The new tmpfs may get the old one's device number: it is found only once
  // its files are written and its disk is added.
  ASSERT_TRUE(tmpfs.Unmount());
  real.RemovePartition(tmpfs.Major(), tmpfs.Minor());
  ASSERT_TRUE(WaitFor(3));
  TmpfsMount again(mount);
  ASSERT_TRUE(again.Mounted()) << again.Error();
  WriteValidStick(mount);
  pull = &again;
  real.AddPartition(again.Major(), again.Minor(), Bus::Usb, true);
  ASSERT_TRUE(WaitFor(6)) << ::testing::PrintToString(events);
  EXPECT_EQ(events, Events({"started", "complete ValidMetadata", "removed", "started",
                            "complete InvalidMetadata", "removed"}));
  // Ids of: the first check, its removal, the second check, its removal.
  ASSERT_EQ(ids.size(), 4u);
  EXPECT_EQ(ids[0], ids[1]);
  EXPECT_NE(ids[1], ids[2]) << "a new mount is a new stick";
  EXPECT_EQ(ids[2], ids[3]);
}

TEST_F(UsbManagerTest, SpaceRefreshChangesOnlyTheSpaceOfTheActiveStickEverySecond)
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
  UsbInfo refreshed = active;
  refreshed.capacity = fs::space(mount).capacity;
  refreshed.available = UsbStorage::Get().GetUsb(77).available;
  EXPECT_EQ(UsbStorage::Get().GetUsb(77), refreshed);
  EXPECT_GT(refreshed.available, 1u);
  EXPECT_EQ(UsbStorage::Get().GetUsb(78), other) << "only the active stick is refreshed";

  // A stick whose mount path is gone keeps its last figures.
  fs::remove_all(mount);
  refreshed.state = UsbInfo::NoMetadata;
  UsbStorage::Get().UpdateUsb(refreshed);
  manager->UpdateUsbSpace();
  EXPECT_EQ(UsbStorage::Get().GetUsb(77), refreshed);

  // Removed meanwhile: nothing comes back.
  UsbStorage::Get().RemoveUsb(77);
  manager->UpdateUsbSpace();
  EXPECT_FALSE(UsbStorage::Get().GetUsb(77).Valid());
  EXPECT_FALSE(UsbStorage::Get().GetActiveUsb().Valid());

  // On the USB thread, the space is refreshed by a timer.
  active.id = 91;
  active.path = NewMountPath("timer");
  active.capacity = 0;
  UsbStorage::Get().UpdateUsb(active);
  StartThread();
  EXPECT_TRUE(QTest::qWaitFor([] { return UsbStorage::Get().GetUsb(91).capacity != 0; }, 20000));
  EXPECT_EQ(UsbStorage::Get().GetUsb(91).capacity, fs::space(active.path).capacity);
}

#include "UsbManagerTest.moc"
