#pragma once

#include <boost/filesystem/path.hpp>

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
  explicit RootFolder(const boost::filesystem::path& root);
  ~RootFolder();
  RootFolder(const RootFolder&) = delete;
  RootFolder& operator=(const RootFolder&) = delete;

  bool IsOpen() const { return rootFd >= 0; }

  // Splits an entry name into its components, dropping empty and "."
  // components; throws std::runtime_error for an empty name, an absolute name
  // or a ".." component. An empty result names the root itself.
  static std::vector<std::string> SplitName(const std::string& name);

  // Creates the folder and every missing parent; an existing folder is fine.
  void MakeDirectory(const std::vector<std::string>& components);
  // Creates the missing parents, then creates or truncates the file and
  // returns its descriptor, open for writing; the caller closes it.
  int CreateFile(const std::vector<std::string>& components);

private:
  // Descriptor of the folder made of the first `count` components, created
  // when missing; the root's own descriptor when count is 0. Owned by the cache.
  int OpenFolder(const std::vector<std::string>& components, std::size_t count);
  void ForgetCachedFolder();

  std::string rootText;
  int rootFd = -1;
  // The last folder a file was created in: archives list many files per folder.
  std::string cachedPath;
  int cachedFd = -1;
};

} // namespace Tesk::Tar
