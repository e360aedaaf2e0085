#include "SystemCallWatch.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include <dlfcn.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

struct Watch
{
  std::mutex mutex;
  bool active = false;
  std::string folder; // as the system resolves it
  int spaceError = 0;
  std::vector<std::string> calls;
};

Watch& State()
{
  static Watch watch;
  return watch;
}

// The C library's own definition of `name`.
template <typename Function>
Function Next(const char* name)
{
  return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}

std::string Resolved(const char* path)
{
  char resolved[PATH_MAX];
  return path && ::realpath(path, resolved) ? resolved : std::string();
}

std::string PathOf(int fd)
{
  return Resolved(("/proc/self/fd/" + std::to_string(fd)).c_str());
}

// Within the watched folder, with the lock held.
bool Below(const Watch& watch, const std::string& path)
{
  return watch.active && path.size() > watch.folder.size() &&
         path.compare(0, watch.folder.size(), watch.folder) == 0 && path[watch.folder.size()] == '/';
}

bool Watching()
{
  Watch& watch = State();
  const std::lock_guard<std::mutex> lock(watch.mutex);
  return watch.active;
}

void Record(const std::string& call, const std::string& path, const std::string& other = std::string())
{
  Watch& watch = State();
  const std::lock_guard<std::mutex> lock(watch.mutex);
  if (Below(watch, path))
    watch.calls.push_back(call + " " + path + (other.empty() ? "" : " " + other));
}

// The error a space query of `path` fails with, or 0.
int SpaceError(const char* path)
{
  Watch& watch = State();
  const std::lock_guard<std::mutex> lock(watch.mutex);
  if (watch.spaceError == 0)
    return 0;
  return Below(watch, Resolved(path)) ? watch.spaceError : 0;
}

} // namespace

SystemCallWatch::SystemCallWatch(const std::string& folder)
{
  Watch& watch = State();
  const std::lock_guard<std::mutex> lock(watch.mutex);
  watch.active = true;
  watch.folder = Resolved(folder.c_str());
  watch.spaceError = 0;
  watch.calls.clear();
}

SystemCallWatch::~SystemCallWatch()
{
  Watch& watch = State();
  const std::lock_guard<std::mutex> lock(watch.mutex);
  watch.active = false;
}

void SystemCallWatch::FailSpaceQueries(int error)
{
  Watch& watch = State();
  const std::lock_guard<std::mutex> lock(watch.mutex);
  watch.spaceError = error;
}

std::vector<std::string> SystemCallWatch::Calls() const
{
  Watch& watch = State();
  const std::lock_guard<std::mutex> lock(watch.mutex);
  return watch.calls;
}

// Boost.Filesystem's space query.
extern "C" int statvfs64(const char* path, struct statvfs64* info) noexcept
{
  if (const int error = SpaceError(path)) {
    errno = error;
    return -1;
  }
  static const auto next = Next<int (*)(const char*, struct statvfs64*)>("statvfs64");
  return next(path, info);
}

extern "C" int syncfs(int fd) noexcept
{
  if (Watching())
    Record("syncfs", PathOf(fd));
  static const auto next = Next<int (*)(int)>("syncfs");
  return next(fd);
}

extern "C" int fsync(int fd)
{
  if (Watching())
    Record("fsync", PathOf(fd));
  static const auto next = Next<int (*)(int)>("fsync");
  return next(fd);
}

extern "C" int rename(const char* from, const char* to) noexcept
{
  static const auto next = Next<int (*)(const char*, const char*)>("rename");
  if (!Watching())
    return next(from, to);
  const std::string source = Resolved(from);
  const int result = next(from, to);
  if (result == 0)
    Record("rename", source, Resolved(to));
  return result;
}
