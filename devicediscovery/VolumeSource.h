#pragma once

#include "devicediscovery/DeviceDiscovery.h"

#include <string>
#include <vector>

// Lists the mounted volumes that sit on a block device of the device tree,
// with the properties the discovery filters on.
class VolumeSource
{
public:
  // Reads from MountTable::DefaultPath() and BlockDevice::DefaultSysfsRoot().
  VolumeSource();
  VolumeSource(std::string mountTablePath, std::string sysfsRootPath);

  // False when the mount table cannot be read. Each block device is listed
  // once, at the first mount of its whole file system; bind mounts of a
  // folder inside it are left out.
  bool List(std::vector<DeviceDiscovery::DeviceProperties>& volumes) const;

  // The key of one mount, listed as the volume's id: a hash of the mount's
  // id, the device number, the mount path and the source; the same in every
  // scan while the mount lasts. Never 0. (The kernel may use all four again
  // for a later mount; the discovery makes each appearance's id unique.)
  static std::uint64_t MakeId(int mountId, unsigned major, unsigned minor, const std::string& mountPoint,
                              const std::string& source);

  const std::string& MountTablePath() const { return mountTable; }
  const std::string& SysfsRoot() const { return sysfsRoot; }

private:
  std::string mountTable;
  std::string sysfsRoot;
};
