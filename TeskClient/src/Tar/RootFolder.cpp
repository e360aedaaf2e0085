#include "Tar/RootFolder.h"

#include <cerrno>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace Tesk::Tar {

namespace {

std::string Join(const std::vector<std::string>& components, std::size_t count)
{
  std::string text;
  for (std::size_t i = 0; i < count; ++i) {
    if (i > 0)
      text += '/';
    text += components[i];
  }
  return text;
}

[[noreturn]] void Fail(const std::string& what, const std::string& name, int error)
{
  throw std::runtime_error(what + ": \"" + name + "\": " + std::generic_category().message(error));
}

} // namespace

RootFolder::RootFolder(const boost::filesystem::path& root) : rootText(root.string())
{
  rootFd = ::open(rootText.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

RootFolder::~RootFolder()
{
  ForgetCachedFolder();
  if (rootFd >= 0)
    ::close(rootFd);
}

std::vector<std::string> RootFolder::SplitName(const std::string& name)
{
  if (name.empty())
    throw std::runtime_error("Refused entry with an empty name");
  if (name.front() == '/')
    throw std::runtime_error("Refused entry with an absolute name: \"" + name + "\"");
  std::vector<std::string> components;
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t end = name.find('/', start);
    if (end == std::string::npos)
      end = name.size();
    const std::string component = name.substr(start, end - start);
    if (component == "..")
      throw std::runtime_error("Refused entry name with a \"..\" component: \"" + name + "\"");
    if (!component.empty() && component != ".")
      components.push_back(component);
    start = end + 1;
  }
  return components;
}

void RootFolder::ForgetCachedFolder()
{
  if (cachedFd >= 0)
    ::close(cachedFd);
  cachedFd = -1;
  cachedPath.clear();
}

int RootFolder::OpenFolder(const std::vector<std::string>& components, std::size_t count)
{
  if (!IsOpen())
    throw std::runtime_error("The target folder \"" + rootText + "\" is not open");
  if (count == 0)
    return rootFd;
  const std::string path = Join(components, count);
  if (cachedFd >= 0 && path == cachedPath)
    return cachedFd;
  ForgetCachedFolder();

  int fd = rootFd;
  for (std::size_t i = 0; i < count; ++i) {
    const char* component = components[i].c_str();
    if (::mkdirat(fd, component, 0755) != 0 && errno != EEXIST) {
      const int error = errno;
      if (fd != rootFd)
        ::close(fd);
      Fail("Failed to create directory", Join(components, i + 1), error);
    }
    // O_NOFOLLOW: a symbolic link in place of a folder is refused (ELOOP),
    // as is a file (ENOTDIR).
    const int next = ::openat(fd, component, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    const int error = errno;
    if (fd != rootFd)
      ::close(fd);
    if (next < 0)
      Fail("Failed to create directory", Join(components, i + 1), error);
    fd = next;
  }
  cachedFd = fd;
  cachedPath = path;
  return fd;
}

void RootFolder::MakeDirectory(const std::vector<std::string>& components)
{
  OpenFolder(components, components.size());
}

int RootFolder::CreateFile(const std::vector<std::string>& components)
{
  if (components.empty())
    throw std::runtime_error("Refused file entry that names the target folder itself");
  const int folder = OpenFolder(components, components.size() - 1);
  // O_NONBLOCK: a FIFO already lying there must not block the open; the
  // check below refuses anything but a regular file.
  const int fd = ::openat(folder, components.back().c_str(),
                          O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
  if (fd < 0)
    Fail("Failed to create file", Join(components, components.size()), errno);
  struct stat status
  {
  };
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    ::close(fd);
    throw std::runtime_error("Failed to create file: \"" + Join(components, components.size()) +
                             "\": not a regular file");
  }
  return fd;
}

} // namespace Tesk::Tar
