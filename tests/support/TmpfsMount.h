#pragma once

#include <string>
#include <unistd.h>

// A real tmpfs mounted by the test (needs root). The mount is taken away in
// the destructor unless the test did so itself.
class TmpfsMount
{
public:
  // True when the process may mount (it runs as root).
  static bool Allowed() { return ::geteuid() == 0; }

  // Mounts a tmpfs of `megabytes` at `mountPoint` (which must exist). Check
  // Mounted() afterwards; Error() says why it failed.
  TmpfsMount(const std::string& mountPoint, unsigned megabytes = 64);
  ~TmpfsMount() { Unmount(true); }

  TmpfsMount(const TmpfsMount&) = delete;
  TmpfsMount& operator=(const TmpfsMount&) = delete;

  bool Mounted() const { return mounted; }
  const std::string& Error() const { return error; }
  // The device number the mount table shows for it.
  unsigned Major() const { return deviceMajor; }
  unsigned Minor() const { return deviceMinor; }

  // Mounts it again read-only (nothing can be made or changed on it), or
  // writable again.
  bool SetReadOnly(bool readOnly);

  // Takes the mount away; `lazy` detaches it at once even while files on it
  // are open (as a pulled stick leaves them).
  bool Unmount(bool lazy = false);

private:
  std::string mountPoint;
  std::string error;
  bool mounted = false;
  unsigned deviceMajor = 0;
  unsigned deviceMinor = 0;
};
