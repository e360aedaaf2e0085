#include "devicediscovery/VolumeSource.h"
#include "devicediscovery/BlockDevice.h"
#include "devicediscovery/MountTable.h"

#include "FakeVolumes.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include <algorithm>

using Bus = FakeVolumes::Bus;

TEST(MountTableTest, ParsesEntriesWithOptionalFieldsAndEscapes)
{
  const auto entries = MountTable::Parse(
      "36 35 98:0 /mnt1 /mnt/parent rw,noatime master:1 - ext3 /dev/root rw,errors=continue\n"
      "612 29 8:17 / /media/user/My\\040Stick\\011\\134x\\012y rw,nosuid shared:300 master:7 - vfat "
      "/dev/sdb1 rw\n"
      "613 29 179:1 / /run/media/Zoë\\040\"Karte\" rw - exfat /dev/mmcblk0p1 rw\n"
      "40 27 0:44 / /tmp/no-optional rw - tmpfs lumora\\040stick rw\n");
  ASSERT_EQ(entries.size(), 4u);

  EXPECT_EQ(entries[0].mountId, 36);
  EXPECT_EQ(entries[0].major, 98u);
  EXPECT_EQ(entries[0].minor, 0u);
  EXPECT_EQ(entries[0].root, "/mnt1");
  EXPECT_EQ(entries[0].mountPoint, "/mnt/parent");
  EXPECT_EQ(entries[0].fsType, "ext3");
  EXPECT_EQ(entries[0].source, "/dev/root");

  EXPECT_EQ(entries[1].mountPoint, "/media/user/My Stick\t\\x\ny");
  EXPECT_EQ(entries[1].major, 8u);
  EXPECT_EQ(entries[1].minor, 17u);
  EXPECT_EQ(entries[1].fsType, "vfat");

  EXPECT_EQ(entries[2].mountPoint, "/run/media/Zoë \"Karte\"");
  EXPECT_EQ(entries[3].source, "lumora stick");
}

TEST(MountTableTest, LeavesOutLinesThatAreNoEntries)
{
  const auto entries = MountTable::Parse("\n"
                                         "garbage\n"
                                         "x 35 8:1 / /a rw - vfat /dev/sda1 rw\n"      // mount id
                                         "36 35 8 / /b rw - vfat /dev/sda1 rw\n"       // no minor
                                         "36 35 8:x / /c rw - vfat /dev/sda1 rw\n"     // minor
                                         "36 35 8:1 / /d rw shared:1 vfat /dev/sda1\n" // no separator
                                         "36 35 8:1 / /e rw -\n"                       // cut short
                                         "36 35 8:1 / relative rw - vfat /dev/sda1 rw\n"
                                         "37 35 8:2 / /ok rw - vfat /dev/sda2 rw");
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].mountPoint, "/ok");
}

TEST(MountTableTest, DecodesOnlyThreeOctalDigits)
{
  EXPECT_EQ(MountTable::Decode("a\\040b"), "a b");
  EXPECT_EQ(MountTable::Decode("\\134\\134"), "\\\\");
  EXPECT_EQ(MountTable::Decode("end\\04"), "end\\04");
  EXPECT_EQ(MountTable::Decode("\\08x"), "\\08x");
  EXPECT_EQ(MountTable::Decode("\\"), "\\");
  EXPECT_EQ(MountTable::Decode("\\303\\251"), "é");
}

TEST(MountTableTest, ReadsTheFileAndReportsAMissingOne)
{
  FakeVolumes volumes;
  volumes.Mount(8, 17, "/media/stick");
  std::vector<MountTable::Entry> entries;
  ASSERT_TRUE(MountTable::Read(volumes.MountTablePath(), entries));
  EXPECT_EQ(entries.back().mountPoint, "/media/stick");
  EXPECT_EQ(MountTable::DefaultPath(), volumes.MountTablePath());

  volumes.RemoveTable();
  EXPECT_FALSE(MountTable::Read(volumes.MountTablePath(), entries));

  // The system's own table is readable.
  ASSERT_TRUE(MountTable::Read("/proc/self/mountinfo", entries));
  EXPECT_TRUE(std::any_of(entries.begin(), entries.end(), [](const auto& e) { return e.mountPoint == "/"; }));
}

TEST(BlockDeviceTest, TellsBusAndRemovability)
{
  FakeVolumes volumes;
  volumes.AddPartition(8, 17, Bus::Usb, true);
  volumes.AddPartition(8, 33, Bus::Usb, false);
  volumes.AddPartition(179, 1, Bus::SdCard, false);
  volumes.AddPartition(179, 9, Bus::Emmc, false);
  volumes.AddPartition(8, 1, Bus::Sata, false);
  volumes.AddPartition(8, 49, Bus::Sata, true);
  const std::string root = volumes.SysfsRoot();
  EXPECT_EQ(BlockDevice::DefaultSysfsRoot(), root);

  const auto usb = BlockDevice::Describe(root, 8, 17);
  ASSERT_TRUE(usb);
  EXPECT_EQ(usb->bus, BlockDevice::Bus::Usb);
  EXPECT_TRUE(usb->removable);
  EXPECT_NE(usb->devicePath.find("/usb2/"), std::string::npos) << "links are resolved: " << usb->devicePath;

  const auto fixedUsb = BlockDevice::Describe(root, 8, 33);
  ASSERT_TRUE(fixedUsb);
  EXPECT_EQ(fixedUsb->bus, BlockDevice::Bus::Usb);
  EXPECT_FALSE(fixedUsb->removable);

  const auto card = BlockDevice::Describe(root, 179, 1);
  ASSERT_TRUE(card);
  EXPECT_EQ(card->bus, BlockDevice::Bus::SdCard);
  EXPECT_TRUE(card->removable) << "an SD card is removable whatever the reader's flag says";

  const auto emmc = BlockDevice::Describe(root, 179, 9);
  ASSERT_TRUE(emmc);
  EXPECT_EQ(emmc->bus, BlockDevice::Bus::SdCard);
  EXPECT_FALSE(emmc->removable);

  const auto sata = BlockDevice::Describe(root, 8, 1);
  ASSERT_TRUE(sata);
  EXPECT_EQ(sata->bus, BlockDevice::Bus::Other);
  EXPECT_FALSE(sata->removable);
  EXPECT_TRUE(BlockDevice::Describe(root, 8, 49)->removable);

  EXPECT_FALSE(BlockDevice::Describe(root, 0, 44)) << "no such device";
  EXPECT_FALSE(BlockDevice::Describe(root + "/missing", 8, 17));
}

TEST(BlockDeviceTest, BusNamesAboveTheTreeDoNotCount)
{
  // The tree lies in a folder whose own path looks like a USB host.
  FakeVolumes outer;
  const QString root = QString::fromStdString(outer.Folder()) + "/usb1/mmc0/sys";
  QDir().mkpath(root + "/devices/virtual/block/loop0");
  QDir().mkpath(root + "/dev/block");
  ASSERT_TRUE(QFile::link("../../devices/virtual/block/loop0", root + "/dev/block/7:0"));
  QFile removable(root + "/devices/virtual/block/loop0/removable");
  ASSERT_TRUE(removable.open(QIODevice::WriteOnly));
  removable.write("1\n");
  removable.close();

  const auto loop = BlockDevice::Describe(root.toStdString(), 7, 0);
  ASSERT_TRUE(loop);
  EXPECT_EQ(loop->bus, BlockDevice::Bus::Other);
}

TEST(VolumeSourceTest, ListsMountedBlockDevicesOnce)
{
  FakeVolumes volumes;
  volumes.AddPartition(8, 17, Bus::Usb, true);
  volumes.AddPartition(179, 1, Bus::SdCard, false);
  volumes.AddPartition(8, 1, Bus::Sata, false);
  volumes.Mount(8, 17, "/media/user/MAPS STICK");
  volumes.Mount(8, 17, "/srv/bound", "/OrvaneNDSUpdate"); // bind mount of a folder of the stick
  volumes.Mount(8, 17, "/media/again");                   // the same file system mounted twice
  volumes.Mount(179, 1, "/media/card");
  volumes.Mount(8, 1, "/home");
  volumes.Mount(0, 50, "/media/fuse"); // not in the device tree

  std::vector<DeviceDiscovery::DeviceProperties> listed;
  ASSERT_TRUE(VolumeSource().List(listed));
  ASSERT_EQ(listed.size(), 3u);

  EXPECT_EQ(listed[0].path, "/media/user/MAPS STICK");
  EXPECT_EQ(listed[0].volumeName, "MAPS STICK");
  EXPECT_EQ(listed[0].protocol, "USB");
  EXPECT_TRUE(listed[0].ejectable);
  EXPECT_TRUE(listed[0].removable);
  EXPECT_NE(listed[0].id, 0u);
  EXPECT_TRUE(DeviceDiscovery::IsRemovableMassStorage(listed[0]));

  EXPECT_EQ(listed[1].path, "/media/card");
  EXPECT_EQ(listed[1].protocol, "Secure Digital");
  EXPECT_TRUE(DeviceDiscovery::IsRemovableMassStorage(listed[1]));

  EXPECT_EQ(listed[2].path, "/home");
  EXPECT_EQ(listed[2].protocol, "");
  EXPECT_FALSE(listed[2].ejectable);
  EXPECT_FALSE(DeviceDiscovery::IsRemovableMassStorage(listed[2]));

  // The same mounts give the same ids in the next scan.
  std::vector<DeviceDiscovery::DeviceProperties> again;
  ASSERT_TRUE(VolumeSource().List(again));
  ASSERT_EQ(again.size(), 3u);
  for (std::size_t i = 0; i < again.size(); ++i)
    EXPECT_EQ(again[i], listed[i]);
}
