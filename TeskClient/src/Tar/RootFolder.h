#pragma once

#include "util/Descriptor.h"

#include <boost/filesystem/path.hpp>

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace Tesk::Tar {

// The folder an archive is unpacked into. Every folder and file is created
// relative to an open descriptor of the root, one name at a time, and no
// symbolic link is ever followed, so nothing can be created outside the root
// whatever the archive names or the folder already holds.
class RootFolder
{
public:
  // A folder or file that the file system refused to create or write; the
  // code is the errno value.
  class WriteError : public std::runtime_error
  {
  public:
    WriteError(const std::string& text, int code) : std::runtime_error(text), code(code) {}
    const int code;
  };

  explicit RootFolder(const boost::filesystem::path& root);

  bool IsOpen() const { return root.Valid(); }

  // Closes every descriptor held (the root and the folder last created in),
  // so that nothing holds the target's file system open.
  void Close();
  // Opens the root again by its path after Close. It must lie on the file
  // system it was on: WriteError otherwise. Inode numbers are no proof of
  // identity here: FAT and exFAT make them up anew for an inode read again
  // once the kernel has let go of it, which closing every descriptor allows.
  void Reopen();
  // Writes everything cached for the root's file system to it (syncfs): 0, or
  // the errno of the failure. Through the root's descriptor while it is open,
  // so that a write error the kernel met since it was opened is reported;
  // through a descriptor opened for the call otherwise.
  int Sync() const;

  // Splits an entry name into its components, dropping empty and "."
  // components; throws std::runtime_error for an empty name, an absolute name,
  // a ".." component, a name of PATH_MAX bytes or more, or a component longer
  // than NAME_MAX bytes (names no system call takes whole: the map could not
  // be read by them). An empty result names the root itself.
  static std::vector<std::string> SplitName(const std::string& name);

  // Creates the folder and every missing parent; an existing folder is fine.
  void MakeDirectory(const std::vector<std::string>& components);
  // Creates the missing parents, then creates or truncates the file and
  // returns its descriptor, open for writing.
  Descriptor CreateFile(const std::vector<std::string>& components);
  // The existing file, opened for writing without creating or truncating
  // anything on the way (WriteError when it or a folder is missing).
  Descriptor OpenExistingFile(const std::vector<std::string>& components);

private:
  // The folder made of the first `count` components, created when missing;
  // the root itself when count is 0. Owned by the cache.
  const Descriptor& OpenFolder(const std::vector<std::string>& components, std::size_t count);

  std::string rootText;
  Descriptor root;
  // The root's file system, read when it was first opened.
  std::optional<dev_t> rootDevice;
  // The last folder a file was created in: archives list many files per folder.
  std::string cachedPath;
  Descriptor cached;
};

} // namespace Tesk::Tar
