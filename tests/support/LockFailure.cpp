// Loaded into a process with LD_PRELOAD: every flock() on a file below the
// folder that LUMORA_TEST_NO_LOCKS_BELOW names (as the system resolves it)
// fails with ENOLCK, as on an NFS mount whose lock service is not running.
// Every other call goes on to the C library.

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <dlfcn.h>
#include <unistd.h>

namespace {

bool LiesBelow(int fd, const char* folder)
{
  char link[64];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  char path[PATH_MAX];
  const ssize_t length = ::readlink(link, path, sizeof path - 1);
  if (length <= 0)
    return false;
  path[length] = '\0';
  const std::size_t prefix = std::strlen(folder);
  return std::strncmp(path, folder, prefix) == 0 && path[prefix] == '/';
}

} // namespace

extern "C" int flock(int fd, int operation)
{
  using Flock = int (*)(int, int);
  static const Flock next = reinterpret_cast<Flock>(::dlsym(RTLD_NEXT, "flock"));
  const char* folder = std::getenv("LUMORA_TEST_NO_LOCKS_BELOW");
  if (folder && *folder && LiesBelow(fd, folder)) {
    errno = ENOLCK;
    return -1;
  }
  return next(fd, operation);
}
