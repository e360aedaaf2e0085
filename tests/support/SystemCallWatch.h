#pragma once

#include <string>
#include <vector>

// The test program defines a few calls of the C library itself, so that the
// program's own code and the shared libraries it loads (Boost.Filesystem
// among them) reach them first; each passes the call on to the C library.
// While a watch lives, the calls on files below its folder are recorded, and
// the space queries there can be made to fail. One watch at a time.
//
//     SystemCallWatch watch(stick.Path());
//     watch.FailSpaceQueries(ENOTCONN);
//     ...
//     EXPECT_EQ(watch.Calls().front(), "syncfs /stick/folder");
class SystemCallWatch
{
public:
  explicit SystemCallWatch(const std::string& folder);
  ~SystemCallWatch();

  SystemCallWatch(const SystemCallWatch&) = delete;
  SystemCallWatch& operator=(const SystemCallWatch&) = delete;

  // From now on every space query (statvfs64, as Boost.Filesystem makes it)
  // of a path below the folder fails with `error`; 0 lets them through again.
  void FailSpaceQueries(int error);

  // The calls so far that reached a file below the folder, in order:
  // "syncfs <path>", "fsync <path>", "rename <from> <to>".
  std::vector<std::string> Calls() const;
};
