#include "devicediscovery/DeviceDiscovery.h"
#include "devicediscovery/BlockDevice.h"
#include "devicediscovery/MountTable.h"
#include "devicediscovery/VolumePoller.h"
#include "devicediscovery/VolumeSource.h"

#include "FakeVolumes.h"
#include "Files.h"
#include "TmpfsMount.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTest>
#include <QThread>

#include <sstream>

using Bus = FakeVolumes::Bus;
using Properties = DeviceDiscovery::DeviceProperties;
using Summary = std::vector<std::string>;

namespace {

Summary Printed(const std::vector<MountTable::Entry>& entries)
{
  Summary printed;
  for (const auto& e : entries) {
    std::ostringstream line;
    line << e.mountId << " " << e.major << ":" << e.minor << " " << e.root << " [" << e.mountPoint << "] "
         << e.fsType << " [" << e.source << "]";
    printed.push_back(line.str());
  }
  return printed;
}

struct Report
{
  std::string kind; // "come" or "go"
  Properties volume;
  QThread* thread;
};

// Stands where the USB manager stands: takes the two invocations by name.
class Receiver : public QObject
{
  Q_OBJECT

public:
  std::vector<Report> reports;

  Q_INVOKABLE void MassStorageCome(DeviceDiscovery::DeviceProperties volume)
  {
    reports.push_back({"come", volume, QThread::currentThread()});
  }
  Q_INVOKABLE void MassStorageGo(DeviceDiscovery::DeviceProperties volume)
  {
    reports.push_back({"go", volume, QThread::currentThread()});
  }

  bool WaitFor(std::size_t count)
  {
    return QTest::qWaitFor([&] { return reports.size() >= count; }, 10000);
  }

  Summary Kinds() const
  {
    Summary summary;
    for (const auto& report : reports)
      summary.push_back(report.kind + " " + report.volume.path);
    return summary;
  }
};

// Runs the poller's scans by hand on the test thread and delivers what they
// invoked.
struct ManualPolling
{
  Receiver receiver;
  VolumePoller poller{&receiver, std::chrono::hours(1), VolumeSource()};

  void Scan()
  {
    poller.Poll();
    QCoreApplication::sendPostedEvents(&receiver);
  }
};

} // namespace

TEST(VolumePollerTest, ReportsRemovableVolumesThatComeAndGo)
{
  FakeVolumes volumes;
  volumes.AddPartition(8, 17, Bus::Usb, true);
  volumes.AddPartition(179, 1, Bus::SdCard, false); // removable whatever the reader's flag says
  volumes.AddPartition(8, 1, Bus::Sata, false);
  volumes.AddPartition(8, 65, Bus::Usb, false);
  volumes.AddPartition(179, 9, Bus::Emmc, false);
  volumes.AddPartition(8, 49, Bus::Sata, true);
  volumes.Mount(8, 1, "/home");
  volumes.Mount(8, 65, "/media/usb-disk");
  volumes.Mount(179, 9, "/media/emmc");        // built in
  volumes.Mount(8, 49, "/media/sata-hotplug"); // removable, but no stick or card
  volumes.Mount(0, 50, "/media/fuse");         // not in the device tree
  const std::string odd = "/media/Zoë's \"MAP\" stick\t\\ 地図";
  const int first = volumes.Mount(8, 17, odd);
  // The same file system bound elsewhere, and mounted twice: one volume.
  const int bound = volumes.Mount(8, 17, "/srv/bound", "/OrvaneNDSUpdate");
  const int again = volumes.Mount(8, 17, "/media/again");

  ManualPolling polling;
  polling.Scan();
  polling.Scan();
  const auto& reports = polling.receiver.reports;
  ASSERT_EQ(polling.receiver.Kinds(), Summary({"come " + odd})) << "already mounted at start, reported once";
  EXPECT_EQ(reports[0].volume.volumeName, "Zoë's \"MAP\" stick\t\\ 地図");
  EXPECT_EQ(reports[0].volume.protocol, "USB");
  EXPECT_TRUE(reports[0].volume.ejectable && reports[0].volume.removable);

  const int card = volumes.Mount(179, 1, "/media/card");
  polling.Scan();
  for (const int mount : {first, bound, again, card})
    volumes.Unmount(mount);
  polling.Scan();
  ASSERT_EQ(reports.size(), 4u);
  EXPECT_EQ(polling.receiver.Kinds()[1], "come /media/card");
  EXPECT_EQ(reports[2].kind + reports[3].kind, "gogo");
  // A volume goes with the properties it came with.
  for (const auto& gone : {reports[2], reports[3]})
    EXPECT_EQ(gone.volume, gone.volume.path == odd ? reports[0].volume : reports[1].volume);
  EXPECT_EQ(reports[1].volume.protocol, "Secure Digital");
}

TEST(VolumePollerTest, UnreadableTableReportsNothingGoneAndARemountIsANewVolume)
{
  FakeVolumes volumes;
  volumes.AddPartition(8, 17, Bus::Usb, true);
  const int mount = volumes.Mount(8, 17, "/media/stick");
  ManualPolling polling;
  polling.Scan();
  volumes.RemoveTable();
  polling.Scan();
  polling.Scan();
  volumes.WriteTable();
  polling.Scan();
  EXPECT_EQ(polling.receiver.Kinds(), Summary({"come /media/stick"}));

  // Pulled and plugged in again between two scans.
  volumes.Unmount(mount);
  volumes.Mount(8, 17, "/media/stick");
  polling.Scan();
  // An empty (but readable) table does mean that every volume went. The
  // kernel may give the next mount the mount id that the earlier one freed:
  // the table's line is then the same as before.
  volumes.WriteRawTable("");
  polling.Scan();
  volumes.WriteTable();
  polling.Scan();

  const auto& reports = polling.receiver.reports;
  ASSERT_EQ(polling.receiver.Kinds(), Summary({"come /media/stick", "go /media/stick", "come /media/stick",
                                               "go /media/stick", "come /media/stick"}));
  EXPECT_EQ(reports[1].volume.id, reports[0].volume.id);
  EXPECT_EQ(reports[3].volume.id, reports[2].volume.id);
  EXPECT_NE(reports[2].volume.id, reports[0].volume.id);
  EXPECT_NE(reports[4].volume.id, reports[2].volume.id);
  EXPECT_NE(reports[4].volume.id, 0u);
}

TEST(DeviceDiscoveryTest, WorkerThreadFindsVolumesAndHandsThemOverQueued)
{
  FakeVolumes volumes;
  volumes.AddPartition(8, 17, Bus::Usb, true);
  volumes.AddPartition(179, 1, Bus::SdCard, false);
  volumes.Mount(8, 17, "/media/present");

  Receiver receiver;
  DeviceDiscovery discovery(&receiver, std::chrono::milliseconds(10));
  ASSERT_TRUE(discovery.Start());
  EXPECT_FALSE(discovery.Start()) << "already running";

  ASSERT_TRUE(receiver.WaitFor(1));
  const int card = volumes.Mount(179, 1, "/media/card");
  ASSERT_TRUE(receiver.WaitFor(2));
  volumes.Unmount(card);
  ASSERT_TRUE(receiver.WaitFor(3));
  discovery.Stop();

  EXPECT_EQ(receiver.Kinds(), Summary({"come /media/present", "come /media/card", "go /media/card"}));
  for (const auto& report : receiver.reports)
    EXPECT_EQ(report.thread, QThread::currentThread()) << "runs on the receiver's thread";

  // Started again, it scans afresh and finds what is mounted now.
  ASSERT_TRUE(discovery.Start());
  ASSERT_TRUE(receiver.WaitFor(4));
  EXPECT_EQ(receiver.Kinds().back(), "come /media/present");
}

TEST(DeviceDiscoveryTest, RealTmpfsPresentedAsUsbStick)
{
  if (!TmpfsMount::Allowed())
    GTEST_SKIP() << "mounting needs root";
  QTemporaryDir base;
  const std::string mountPoint = base.path().toStdString() + "/Mein Stick \"Ü\"";
  ASSERT_TRUE(QDir().mkpath(QString::fromStdString(mountPoint)));

  // The system's own mount table, a made-up device tree.
  FakeVolumes volumes(false);
  Receiver receiver;
  DeviceDiscovery discovery(&receiver, std::chrono::milliseconds(10));
  ASSERT_TRUE(discovery.Start());
  TmpfsMount tmpfs(mountPoint);
  if (!tmpfs.Mounted())
    GTEST_SKIP() << tmpfs.Error();
  // The device number is known only now; the tree learns it before the
  // volume can count as a USB stick.
  volumes.AddPartition(tmpfs.Major(), tmpfs.Minor(), Bus::Usb, true);

  ASSERT_TRUE(receiver.WaitFor(1));
  EXPECT_EQ(receiver.reports[0].volume.protocol, "USB");

  // A tmpfs of a test running beside this one may get the freed device
  // number: the unplugged disk leaves the device tree at once.
  ASSERT_TRUE(tmpfs.Unmount());
  volumes.RemovePartition(tmpfs.Major(), tmpfs.Minor());
  ASSERT_TRUE(receiver.WaitFor(2));
  discovery.Stop();
  EXPECT_EQ(receiver.Kinds(), Summary({"come " + mountPoint, "go " + mountPoint}));
  EXPECT_EQ(receiver.reports[1].volume, receiver.reports[0].volume);
}

TEST(MountTableTest, ParsesEntriesAndLeavesOutLinesThatAreNone)
{
  const auto entries = MountTable::Parse(
      "36 35 98:0 /mnt1 /mnt/parent rw,noatime master:1 - ext3 /dev/root rw,errors=continue\n"
      "612 29 8:17 / /media/user/My\\040Stick\\011\\134x\\012y rw,nosuid shared:300 master:7 - vfat "
      "/dev/sdb1 rw\n"
      "613 29 179:1 / /run/media/Zoë\\040\"Karte\" rw - exfat /dev/mmcblk0p1 rw\n"
      "40 27 0:44 / /tmp/no-optional rw - tmpfs lumora\\040stick rw\n"
      "\n"
      "garbage\n"
      "x 35 8:1 / /a rw - vfat /dev/sda1 rw\n"      // mount id
      "36 35 8:x / /c rw - vfat /dev/sda1 rw\n"     // minor
      "36 35 8:1 / /d rw shared:1 vfat /dev/sda1\n" // no separator
      "36 35 8:1 / /e rw -\n"                       // cut short
      "36 35 8:1 / relative rw - vfat /dev/sda1 rw\n"
      "37 35 8:2 / /ok rw - vfat /dev/sda2 rw");
  EXPECT_EQ(Printed(entries), (Summary{"36 98:0 /mnt1 [/mnt/parent] ext3 [/dev/root]",
                                       "612 8:17 / [/media/user/My Stick\t\\x\ny] vfat [/dev/sdb1]",
                                       "613 179:1 / [/run/media/Zoë \"Karte\"] exfat [/dev/mmcblk0p1]",
                                       "40 0:44 / [/tmp/no-optional] tmpfs [lumora stick]",
                                       "37 8:2 / [/ok] vfat [/dev/sda2]"}));

  // Only three octal digits make an escape.
  const std::pair<const char*, const char*> decoded[] = {
      {"end\\04", "end\\04"}, {"\\08x", "\\08x"}, {"\\", "\\"}, {"\\303\\251", "é"}};
  for (const auto& [field, text] : decoded)
    EXPECT_EQ(MountTable::Decode(field), text) << field;
}

// Whether a mount path is still mounted, as the discovery's table says; an
// escaped path is compared decoded, and an unreadable table tells nothing.
TEST(MountTableTest, ListsAMountPathOnlyWhileTheTableHasIt)
{
  FakeVolumes volumes;
  const int stick = volumes.Mount(8, 17, "/media/user/My Stick");
  EXPECT_EQ(MountTable::Lists("/media/user/My Stick"), true);
  EXPECT_EQ(MountTable::Lists("/media/user/My"), false);
  volumes.Unmount(stick);
  EXPECT_EQ(MountTable::Lists("/media/user/My Stick"), false);
  volumes.RemoveTable();
  EXPECT_EQ(MountTable::Lists("/media/user/My Stick"), std::nullopt);
}

// Buses and removability are told by the volume poller's test; here what is
// no device, and bus names above the tree.
TEST(BlockDeviceTest, FindsOnlyDevicesOfTheTreeAndItsBusesBelowItsRoot)
{
  FakeVolumes volumes;
  volumes.AddPartition(8, 17, Bus::Usb, false);
  const std::string root = volumes.SysfsRoot();
  ASSERT_TRUE(BlockDevice::Describe(root, 8, 17));
  EXPECT_FALSE(BlockDevice::Describe(root, 0, 44)) << "no such device";
  EXPECT_FALSE(BlockDevice::Describe(root + "/missing", 8, 17));

  // Bus names in the path above the tree do not count.
  const QString outer = QString::fromStdString(volumes.Folder()) + "/usb1/mmc0/sys";
  ASSERT_TRUE(TestSupport::WriteFile(outer + "/devices/virtual/block/loop0/removable", "1\n"));
  QDir().mkpath(outer + "/dev/block");
  ASSERT_TRUE(QFile::link("../../devices/virtual/block/loop0", outer + "/dev/block/7:0"));
  const auto loop = BlockDevice::Describe(outer.toStdString(), 7, 0);
  ASSERT_TRUE(loop);
  EXPECT_EQ(loop->bus, BlockDevice::Bus::Other);
}

#include "DeviceDiscoveryTest.moc"
