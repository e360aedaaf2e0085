#include "TmpfsMount.h"

#include <cerrno>
#include <cstring>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

TmpfsMount::TmpfsMount(const std::string& path, unsigned megabytes) : mountPoint(path)
{
  const std::string options = "size=" + std::to_string(megabytes) + "m,mode=0755";
  if (::mount("lumora-test", path.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) != 0) {
    error = std::string("mount failed: ") + std::strerror(errno);
    return;
  }
  mounted = true;
  struct stat status;
  if (::stat(path.c_str(), &status) == 0) {
    deviceMajor = major(status.st_dev);
    deviceMinor = minor(status.st_dev);
  }
}

bool TmpfsMount::Unmount(bool lazy)
{
  if (!mounted)
    return true;
  if (::umount2(mountPoint.c_str(), lazy ? MNT_DETACH : 0) != 0) {
    error = std::string("umount failed: ") + std::strerror(errno);
    return false;
  }
  mounted = false;
  return true;
}

bool TmpfsMount::SetReadOnly(bool readOnly)
{
  const unsigned long flags = MS_REMOUNT | MS_NOSUID | MS_NODEV | (readOnly ? MS_RDONLY : 0);
  if (!mounted || ::mount(nullptr, mountPoint.c_str(), nullptr, flags, nullptr) != 0) {
    error = std::string("remount failed: ") + std::strerror(mounted ? errno : ENOENT);
    return false;
  }
  return true;
}
