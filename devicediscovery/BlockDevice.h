#pragma once

#include <optional>
#include <string>

// What the kernel's device tree (sysfs) says about the block device behind a
// mount: the bus it hangs on and whether its medium is removable.
class BlockDevice
{
public:
  enum class Bus
  {
    Other,
    Usb,
    SdCard
  };

  struct Description
  {
    Bus bus = Bus::Other;
    bool removable = false;
    std::string devicePath; // the device's folder in the tree, links resolved
  };

  // The tree's root: $LUMORA_SYSFS when set, else /sys.
  static std::string DefaultSysfsRoot();

  // Looks up <root>/dev/block/<major>:<minor>. Nothing when the tree has no
  // block device with that number (virtual file systems, for one).
  //
  // A partition is judged by its disk. The disk is removable when its
  // "removable" flag is 1; an SD card (a card of type "SD" on an MMC host)
  // counts as removable as well, since card readers report the flag 0 for the
  // card they hold. The bus is USB when the device's path passes a USB host
  // ("usb1"), SD when it passes an MMC host ("mmc0", "mmc_host").
  static std::optional<Description> Describe(const std::string& sysfsRoot, unsigned major, unsigned minor);
};
