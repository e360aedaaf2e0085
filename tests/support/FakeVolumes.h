#pragma once

#include <QTemporaryDir>

#include <string>
#include <utility>
#include <vector>

// A mount table and a device tree written by the test, which the volume
// discovery reads instead of the system's: while it lives $LUMORA_MOUNTINFO
// and $LUMORA_SYSFS point at them (the mount table only when asked to, so that
// a test can combine the system's real mount table with a made-up device).
// Folders of the test can so be presented as mounted USB sticks, SD cards or
// internal disks.
class FakeVolumes
{
public:
  enum class Bus
  {
    Usb,
    SdCard,
    Emmc,
    Sata
  };

  explicit FakeVolumes(bool fakeMountTable = true);
  ~FakeVolumes();

  FakeVolumes(const FakeVolumes&) = delete;
  FakeVolumes& operator=(const FakeVolumes&) = delete;

  // Adds a disk with one partition numbered major:minor to the device tree.
  // `removableFlag` is what the disk's "removable" attribute says.
  void AddPartition(unsigned major, unsigned minor, Bus bus, bool removableFlag);
  // Takes the partition major:minor out of the device tree again, as when its
  // disk is unplugged: a mount of that number is then no removable volume.
  void RemovePartition(unsigned major, unsigned minor);

  // Adds a line to the mount table (written at once) and returns its mount id.
  int Mount(unsigned major, unsigned minor, const std::string& mountPoint, const std::string& root = "/");
  void Unmount(int mountId);

  // Replaces the mount table's file by a file of another content in one step.
  void WriteRawTable(const std::string& text);
  // Makes the mount table unreadable (removes it) or writes it back.
  void RemoveTable();
  void WriteTable();

  std::string Folder() const { return dir.path().toStdString(); }
  std::string SysfsRoot() const { return Folder() + "/sys"; }
  std::string MountTablePath() const { return Folder() + "/mountinfo"; }

private:
  struct MountLine
  {
    int id;
    unsigned major, minor;
    std::string mountPoint, root;
  };

  QTemporaryDir dir;
  bool fakeMountTable;
  int nextMountId = 1000;
  std::vector<MountLine> mounts;
};
