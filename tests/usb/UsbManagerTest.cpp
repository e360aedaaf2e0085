#include "usb/UsbManager.h"
#include "usb/UsbStorage.h"

#include "DownloadSupport.h"
#include "FakeVolumes.h"
#include "MapStick.h"

#include <gtest/gtest.h>

#include <QThread>

#include <boost/filesystem/operations.hpp>

namespace fs = boost::filesystem;
using Bus = FakeVolumes::Bus;
using Events = std::vector<std::string>;
using TestSupport::WaitFor;

namespace {

void WriteValidStick(const std::string& mount)
{
  TestSupport::MapStick folder(mount);
  folder.Add("meta_data/GENERAL.JSON", "{}");
  folder.WriteChecksums();
}

// The manager on a USB thread of its own, as the application runs it, with
// the discovery reading the test's mount table and device tree. The events
// are what the state machine sees: the signals queued to the main thread.
struct UsbManagerTest : ::testing::Test
{
  void SetUp() override
  {
    TestSupport::ClearStores();
    for (const unsigned minor : {17, 49})
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
  void TearDown() override
  {
    thread.quit();
    thread.wait();
    delete manager;
    TestSupport::ClearStores();
  }

  void StartThread()
  {
    manager->moveToThread(&thread);
    thread.start();
  }
  std::string NewMountPath(const std::string& name)
  {
    const std::string path = sticks.path().toStdString() + "/" + name;
    fs::create_directories(path);
    return path;
  }
  bool WaitForEvents(std::size_t count)
  {
    return WaitFor([&] { return events.size() >= count; });
  }

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
  StartThread();
  manager->StartUsbDiscovery();
  manager->StartUsbDiscovery(); // asked for again after every root check: no second discovery
  ASSERT_TRUE(WaitForEvents(2));
  const UsbInfo usb = UsbStorage::Get().GetUsb(ids[0]);
  EXPECT_EQ(usb.path, valid);
  EXPECT_FALSE(usb.active) << "choosing the active stick is left to the state machine";
  EXPECT_EQ(usb.capacity, fs::space(valid).capacity);

  const std::string invalid = NewMountPath("invalid");
  WriteValidStick(invalid);
  TestSupport::MapStick(invalid).AddUnlisted("meta_data/GENERAL.JSON", "changed");
  volumes.Mount(8, 49, invalid);
  ASSERT_TRUE(WaitForEvents(4));
  volumes.Unmount(validMount);
  ASSERT_TRUE(WaitForEvents(5));
  EXPECT_EQ(events,
            Events({"started", "complete ValidMetadata", "started", "complete InvalidMetadata", "removed"}));
  EXPECT_EQ(UsbStorage::Get().GetUsb(ids.at(1)).path, invalid);
  EXPECT_EQ(ids.back(), ids.front());
  EXPECT_TRUE(UsbStorage::Get().GetUsb(ids[0]).Valid()) << "the receiver of the removal removes it";
}

// A volume is listed as mounted before its folder is there: its check waits
// (without holding up the others) and runs once the folder appears.
TEST_F(UsbManagerTest, AVolumeGoneBeforeItsMountPathAppearedIsOnlyReportedGone)
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
  ASSERT_TRUE(WaitForEvents(3));
  EXPECT_EQ(events, Events({"removed", "started", "complete NoMetadata"}));
  EXPECT_EQ(ids, std::vector<UsbInfo::Id>({1234, 5678}));
}

TEST_F(UsbManagerTest, StickPulledDuringItsCheckIsCompletedInvalidThenReportedGone)
{
  const std::string mount = NewMountPath("pulled");
  WriteValidStick(mount);
  int mountId = 0;
  manager->SetCheckHook([&](const std::string&) {
    // Runs on the USB thread: the stick goes, table and files.
    volumes.Unmount(mountId);
    fs::remove_all(mount);
  });
  mountId = volumes.Mount(8, 17, mount);
  StartThread();
  manager->StartUsbDiscovery();
  ASSERT_TRUE(WaitForEvents(3));
  EXPECT_EQ(events, Events({"started", "complete InvalidMetadata", "removed"}));
  EXPECT_EQ(ids[0], ids[1]);
}

TEST_F(UsbManagerTest, SpaceRefreshChangesOnlyTheSpaceOfTheActiveStickEverySecond)
{
  const std::string path = NewMountPath("space");
  const UsbInfo other{78, path, 1, 1, UsbInfo::NoMetadata, false},
      active{77, path, 1, 1, UsbInfo::NoMetadata, true};
  UsbStorage::Get().UpdateUsb(other);
  UsbStorage::Get().UpdateUsb(active);
  manager->UpdateUsbSpace();
  EXPECT_EQ(UsbStorage::Get().GetUsb(77).capacity, fs::space(path).capacity);
  EXPECT_EQ(UsbStorage::Get().GetUsb(78), other) << "only the active stick is refreshed";

  // A stick whose mount path is gone keeps its last figures; one removed
  // meanwhile does not come back.
  const UsbInfo refreshed = UsbStorage::Get().GetUsb(77);
  fs::remove_all(path);
  manager->UpdateUsbSpace();
  EXPECT_EQ(UsbStorage::Get().GetUsb(77), refreshed);
  UsbStorage::Get().RemoveUsb(77);
  manager->UpdateUsbSpace();
  EXPECT_FALSE(UsbStorage::Get().GetUsb(77).Valid());

  // On the USB thread, the space is refreshed by a timer.
  UsbStorage::Get().UpdateUsb({91, NewMountPath("timer"), 0, 1, UsbInfo::NoMetadata, true});
  StartThread();
  EXPECT_TRUE(WaitFor([] { return UsbStorage::Get().GetUsb(91).capacity != 0; }));
}
