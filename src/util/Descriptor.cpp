#include "util/Descriptor.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <unistd.h>
#include <utility>

namespace {

// How many folders of a walk stay open; those further up are opened again
// through ".." when the walk comes back to them.
constexpr std::size_t KeptOpen = 32;

template <typename Call>
int Retried(Call call)
{
  int result;
  do
    result = call();
  while (result < 0 && errno == EINTR);
  return result;
}

std::string Join(const std::string& path, const std::string& name)
{
  return path.empty() ? name : path + "/" + name;
}

// Fails with `error` in errno.
Descriptor Refuse(Descriptor& open, int error)
{
  open.Reset();
  errno = error;
  return Descriptor();
}

// One walk (see Descriptor::Walk): the folders from the start down to the
// current one, of which only the lowest KeptOpen are held open.
class Walker
{
public:
  explicit Walker(Descriptor::Visitor& visitor) : visitor(visitor) {}

  // False when the walk ended early.
  bool Run(Descriptor start)
  {
    if (!Enter(std::move(start), std::string(), std::string()))
      return false;
    while (!stack.empty()) {
      const bool goOn = stack.back().pending.empty() ? Leave() : Descend();
      if (!goOn)
        return false;
    }
    return true;
  }

private:
  struct Level
  {
    Descriptor folder; // closed while far above the current folder
    dev_t device;
    ino_t inode;
    std::string path;
    std::string name;
    std::vector<std::string> pending; // sub-folders still to walk, the next one last
  };

  // Lists the folder, shows it to the visitor and makes it the current one.
  // False when the walk is to end.
  bool Enter(Descriptor folder, const std::string& path, const std::string& name)
  {
    struct stat status;
    std::vector<std::string> names;
    if (!folder.Status(status) || !folder.List(names))
      return visitor.Failed(path, errno);
    std::vector<Descriptor::Entry> entries;
    entries.reserve(names.size());
    for (auto& entryName : names) {
      Descriptor::Entry entry;
      entry.name = std::move(entryName);
      if (!folder.StatusOf(entry.name, entry.status)) {
        if (errno == ENOENT) // gone since the listing
          continue;
        if (!visitor.Failed(Join(path, entry.name), errno))
          return false;
        continue;
      }
      entries.push_back(std::move(entry));
    }
    std::vector<std::string> chosen;
    if (!visitor.Visit(folder, path, entries, chosen))
      return false;
    stack.push_back({std::move(folder), status.st_dev, status.st_ino, path, name,
                     std::vector<std::string>(chosen.rbegin(), chosen.rend())});
    if (stack.size() > KeptOpen)
      stack[stack.size() - 1 - KeptOpen].folder.Reset();
    return true;
  }

  // Walks into the next sub-folder still to walk of the current folder.
  bool Descend()
  {
    Level& current = stack.back();
    const std::string name = std::move(current.pending.back());
    current.pending.pop_back();
    const std::string path = Join(current.path, name);
    Descriptor child = current.folder.OpenFolder(name);
    if (!child.Valid())
      return visitor.Failed(path, errno);
    return Enter(std::move(child), path, name);
  }

  // Goes back from the current folder, walked to the bottom, to its parent.
  bool Leave()
  {
    Level done = std::move(stack.back());
    stack.pop_back();
    if (stack.empty())
      return true;
    Level& parent = stack.back();
    if (!parent.folder.Valid() && !Reopen(parent, done.folder))
      return false;
    return visitor.Leave(parent.folder, parent.path, done.name);
  }

  // Opens a folder closed on the way down again, through the ".." of its
  // sub-folder `child`. A folder moved meanwhile has its ".." somewhere else:
  // the walk cannot find its way back and ends.
  bool Reopen(Level& parent, const Descriptor& child)
  {
    Descriptor up(Retried(
        [&] { return ::openat(child.Get(), "..", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC); }));
    struct stat status;
    if (!up.Valid() || !up.Status(status)) {
      visitor.Failed(parent.path, errno);
      return false;
    }
    if (status.st_dev != parent.device || status.st_ino != parent.inode) {
      visitor.Failed(parent.path, ESTALE);
      return false;
    }
    parent.folder = std::move(up);
    return true;
  }

  Descriptor::Visitor& visitor;
  std::vector<Level> stack;
};

} // namespace

Descriptor::~Descriptor()
{
  Reset();
}

Descriptor::Descriptor(Descriptor&& other) noexcept : fd(other.fd)
{
  other.fd = -1;
}

Descriptor& Descriptor::operator=(Descriptor&& other) noexcept
{
  std::swap(fd, other.fd);
  other.Reset();
  return *this;
}

void Descriptor::Reset()
{
  if (fd >= 0) {
    const int saved = errno;
    ::close(fd);
    errno = saved;
  }
  fd = -1;
}

int Descriptor::Release()
{
  const int released = fd;
  fd = -1;
  return released;
}

Descriptor Descriptor::OpenFolderPath(const std::string& path)
{
  return Descriptor(Retried([&] { return ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); }));
}

bool Descriptor::Status(struct stat& status) const
{
  return ::fstat(fd, &status) == 0;
}

bool Descriptor::StatusOf(const std::string& name, struct stat& status) const
{
  return ::fstatat(fd, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0;
}

Descriptor Descriptor::OpenFolder(const std::string& name) const
{
  struct stat own;
  if (!Status(own))
    return Descriptor();
  // O_NOFOLLOW with O_DIRECTORY: a link in place of the folder is refused,
  // as is a file (both ENOTDIR).
  Descriptor folder(
      Retried([&] { return ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC); }));
  struct stat status;
  if (!folder.Valid() || !folder.Status(status))
    return Refuse(folder, errno);
  if (status.st_dev != own.st_dev)
    return Refuse(folder, EXDEV);
  return folder;
}

Descriptor Descriptor::MakeFolder(const std::string& name, mode_t mode) const
{
  if (::mkdirat(fd, name.c_str(), mode) != 0 && errno != EEXIST)
    return Descriptor();
  return OpenFolder(name);
}

Descriptor Descriptor::OpenFile(const std::string& name, int flags, mode_t mode) const
{
  struct stat own;
  if (!Status(own))
    return Descriptor();
  Descriptor file(Retried([&] {
    return ::openat(fd, name.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, mode);
  }));
  struct stat status;
  if (!file.Valid() || !file.Status(status))
    return Refuse(file, errno);
  if (!S_ISREG(status.st_mode))
    return Refuse(file, EINVAL);
  if (status.st_dev != own.st_dev)
    return Refuse(file, EXDEV);
  return file;
}

bool Descriptor::Remove(const std::string& name, bool folder) const
{
  return ::unlinkat(fd, name.c_str(), folder ? AT_REMOVEDIR : 0) == 0;
}

bool Descriptor::List(std::vector<std::string>& names) const
{
  names.clear();
  // A description of its own: listings on several threads do not share a position.
  const int copy = Retried([&] { return ::openat(fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC); });
  if (copy < 0)
    return false;
  DIR* dir = ::fdopendir(copy);
  if (!dir) {
    const int error = errno;
    ::close(copy);
    errno = error;
    return false;
  }
  std::unique_ptr<DIR, int (*)(DIR*)> closer(dir, &::closedir);
  for (;;) {
    errno = 0;
    const dirent* entry = ::readdir(dir);
    if (!entry)
      return errno == 0;
    const char* name = entry->d_name;
    if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
      continue;
    names.emplace_back(name);
  }
}

bool Descriptor::Walk(Visitor& visitor) const
{
  Descriptor start(::fcntl(fd, F_DUPFD_CLOEXEC, 0));
  if (!start.Valid())
    return visitor.Failed(std::string(), errno);
  return Walker(visitor).Run(std::move(start));
}
