#include "devicediscovery/BlockDevice.h"

#include <QByteArray>

#include <climits>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sys/stat.h>

namespace {

std::optional<std::string> RealPath(const std::string& path)
{
  std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr), &std::free);
  if (!resolved)
    return std::nullopt;
  return std::string(resolved.get());
}

bool Exists(const std::string& path)
{
  struct stat status;
  return ::stat(path.c_str(), &status) == 0;
}

// The first word of a small attribute file, or "" when it cannot be read.
std::string ReadAttribute(const std::string& path)
{
  std::ifstream in(path);
  std::string word;
  in >> word;
  return word;
}

bool IsNumbered(const std::string& segment, const std::string& prefix)
{
  if (segment.size() <= prefix.size() || segment.compare(0, prefix.size(), prefix) != 0)
    return false;
  for (std::size_t i = prefix.size(); i < segment.size(); ++i)
    if (segment[i] < '0' || segment[i] > '9')
      return false;
  return true;
}

std::string Parent(const std::string& path)
{
  const auto slash = path.rfind('/');
  return slash == std::string::npos || slash == 0 ? std::string("/") : path.substr(0, slash);
}

} // namespace

std::string BlockDevice::DefaultSysfsRoot()
{
  const QByteArray root = qgetenv("LUMORA_SYSFS");
  return root.isEmpty() ? std::string("/sys") : root.toStdString();
}

std::optional<BlockDevice::Description> BlockDevice::Describe(const std::string& sysfsRoot, unsigned major,
                                                              unsigned minor)
{
  const auto root = RealPath(sysfsRoot);
  if (!root)
    return std::nullopt;
  const auto device = RealPath(*root + "/dev/block/" + std::to_string(major) + ":" + std::to_string(minor));
  if (!device)
    return std::nullopt;

  Description description;
  description.devicePath = *device;

  const std::string disk = Exists(*device + "/partition") ? Parent(*device) : *device;

  // Only the part below the tree's root names buses; the root itself may lie
  // anywhere.
  std::string inside = *device;
  if (inside.compare(0, root->size(), *root) == 0 &&
      (inside.size() == root->size() || inside[root->size()] == '/'))
    inside = inside.substr(root->size());

  bool usb = false;
  bool mmc = false;
  std::size_t start = 0;
  while (start <= inside.size()) {
    const auto end = std::min(inside.find('/', start), inside.size());
    const std::string segment = inside.substr(start, end - start);
    usb = usb || IsNumbered(segment, "usb");
    mmc = mmc || IsNumbered(segment, "mmc") || segment == "mmc_host";
    start = end + 1;
  }

  // A card reader on USB shows its cards as USB disks; USB comes first.
  if (usb)
    description.bus = Bus::Usb;
  else if (mmc)
    description.bus = Bus::SdCard;

  description.removable = ReadAttribute(disk + "/removable") == "1";
  if (description.bus == Bus::SdCard && ReadAttribute(disk + "/device/type") == "SD")
    description.removable = true;
  return description;
}
