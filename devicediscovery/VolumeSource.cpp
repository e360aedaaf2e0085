#include "devicediscovery/VolumeSource.h"

#include "devicediscovery/BlockDevice.h"
#include "devicediscovery/MountTable.h"

#include <set>
#include <utility>

VolumeSource::VolumeSource() : VolumeSource(MountTable::DefaultPath(), BlockDevice::DefaultSysfsRoot()) {}

VolumeSource::VolumeSource(std::string mountTablePath, std::string sysfsRootPath)
    : mountTable(std::move(mountTablePath)), sysfsRoot(std::move(sysfsRootPath))
{
}

bool VolumeSource::List(std::vector<DeviceDiscovery::DeviceProperties>& volumes) const
{
  std::vector<MountTable::Entry> entries;
  if (!MountTable::Read(mountTable, entries))
    return false;

  volumes.clear();
  std::set<std::pair<unsigned, unsigned>> seen;
  for (const auto& entry : entries) {
    if (entry.root != "/" || !seen.insert({entry.major, entry.minor}).second)
      continue;
    const auto device = BlockDevice::Describe(sysfsRoot, entry.major, entry.minor);
    if (!device)
      continue;

    DeviceDiscovery::DeviceProperties volume;
    volume.id = MakeId(entry.mountId, entry.major, entry.minor, entry.mountPoint, entry.source);
    switch (device->bus) {
    case BlockDevice::Bus::Usb:
      volume.protocol = "USB";
      break;
    case BlockDevice::Bus::SdCard:
      volume.protocol = "Secure Digital";
      break;
    case BlockDevice::Bus::Other:
      break;
    }
    volume.ejectable = device->bus != BlockDevice::Bus::Other;
    volume.removable = device->removable;
    const auto slash = entry.mountPoint.rfind('/');
    volume.volumeName = entry.mountPoint.substr(slash + 1);
    volume.path = entry.mountPoint;
    volumes.push_back(std::move(volume));
  }
  return true;
}

std::uint64_t VolumeSource::MakeId(int mountId, unsigned major, unsigned minor, const std::string& mountPoint,
                                   const std::string& source)
{
  // 64-bit FNV-1a: the same mount gives the same id in every scan.
  std::uint64_t hash = 14695981039346656037ull;
  const auto add = [&hash](const std::string& text) {
    for (const unsigned char c : text) {
      hash ^= c;
      hash *= 1099511628211ull;
    }
    hash ^= 0xFF; // field separator
    hash *= 1099511628211ull;
  };
  add(std::to_string(mountId));
  add(std::to_string(major) + ":" + std::to_string(minor));
  add(mountPoint);
  add(source);
  return hash == 0 ? 1 : hash;
}
