#include "TmpfsMount.h"

#include <cerrno>
#include <cstring>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

bool TmpfsMount::Allowed()
{
  return ::geteuid() == 0;
}

TmpfsMount::TmpfsMount(const std::string& mountPoint, unsigned megabytes) : mountPoint_(mountPoint)
{
  const std::string options = "size=" + std::to_string(megabytes) + "m,mode=0755";
  if (::mount("lumora-test", mountPoint.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) != 0) {
    error_ = std::string("mount failed: ") + std::strerror(errno);
    return;
  }
  mounted_ = true;
  struct stat status;
  if (::stat(mountPoint.c_str(), &status) == 0) {
    major_ = major(status.st_dev);
    minor_ = minor(status.st_dev);
  }
}

TmpfsMount::~TmpfsMount()
{
  Unmount(true);
}

bool TmpfsMount::Unmount(bool lazy)
{
  if (!mounted_)
    return true;
  if (::umount2(mountPoint_.c_str(), lazy ? MNT_DETACH : 0) != 0) {
    error_ = std::string("umount failed: ") + std::strerror(errno);
    return false;
  }
  mounted_ = false;
  return true;
}
