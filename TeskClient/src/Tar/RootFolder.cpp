#include "Tar/RootFolder.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
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

// The start of a long name, enough to find it in the archive.
std::string Shortened(const std::string& name)
{
  constexpr std::size_t Shown = 200;
  return name.size() <= Shown ? name : name.substr(0, Shown) + "...";
}

[[noreturn]] void Fail(const std::string& what, const std::string& name, int error)
{
  throw RootFolder::WriteError(what + ": \"" + name + "\": " + std::generic_category().message(error), error);
}

} // namespace

RootFolder::RootFolder(const boost::filesystem::path& root)
    : rootText(root.string()), root(Descriptor::OpenFolderPath(rootText))
{
  struct stat status;
  if (this->root.Valid() && this->root.Status(status))
    rootDevice = status.st_dev;
}

void RootFolder::Close()
{
  cached.Reset();
  cachedPath.clear();
  root.Reset();
}

void RootFolder::Reopen()
{
  if (root.Valid())
    return;
  Descriptor again = Descriptor::OpenFolderPath(rootText);
  if (!again.Valid())
    Fail("Failed to open the target folder again", rootText, errno);
  struct stat status;
  if (!again.Status(status))
    Fail("Failed to open the target folder again", rootText, errno);
  if (status.st_dev != rootDevice)
    throw WriteError("Failed to open the target folder again: \"" + rootText +
                         "\": another file system has taken its place",
                     ENOENT);
  root = std::move(again);
}

int RootFolder::Sync() const
{
  const Descriptor opened = root.Valid() ? Descriptor() : Descriptor::OpenFolderPath(rootText);
  const Descriptor& folder = root.Valid() ? root : opened;
  if (!folder.Valid())
    return errno;
  return ::syncfs(folder.Get()) == 0 ? 0 : errno;
}

std::vector<std::string> RootFolder::SplitName(const std::string& name)
{
  if (name.empty())
    throw std::runtime_error("Refused entry with an empty name");
  if (name.front() == '/')
    throw std::runtime_error("Refused entry with an absolute name: \"" + Shortened(name) + "\"");
  if (name.size() >= PATH_MAX)
    throw std::runtime_error("Refused entry with a name of " + std::to_string(name.size()) +
                             " bytes (the limit is " + std::to_string(PATH_MAX - 1) + "): \"" +
                             Shortened(name) + "\"");
  std::vector<std::string> components;
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t end = name.find('/', start);
    if (end == std::string::npos)
      end = name.size();
    const std::string component = name.substr(start, end - start);
    if (component == "..")
      throw std::runtime_error("Refused entry name with a \"..\" component: \"" + Shortened(name) + "\"");
    if (component.size() > NAME_MAX)
      throw std::runtime_error("Refused entry name with a component of " + std::to_string(component.size()) +
                               " bytes (the limit is " + std::to_string(NAME_MAX) + "): \"" +
                               Shortened(name) + "\"");
    if (!component.empty() && component != ".")
      components.push_back(component);
    start = end + 1;
  }
  return components;
}

const Descriptor& RootFolder::OpenFolder(const std::vector<std::string>& components, std::size_t count)
{
  if (!IsOpen())
    throw WriteError("The target folder \"" + rootText + "\" is not open", ENOENT);
  if (count == 0)
    return root;
  const std::string path = Join(components, count);
  if (cached.Valid() && path == cachedPath)
    return cached;
  cached.Reset();
  cachedPath.clear();

  // A link in place of a folder is refused, as is a file.
  Descriptor folder;
  for (std::size_t i = 0; i < count; ++i) {
    folder = (i == 0 ? root : folder).MakeFolder(components[i]);
    if (!folder.Valid())
      Fail("Failed to create directory", Join(components, i + 1), errno);
  }
  cached = std::move(folder);
  cachedPath = path;
  return cached;
}

void RootFolder::MakeDirectory(const std::vector<std::string>& components)
{
  OpenFolder(components, components.size());
}

Descriptor RootFolder::CreateFile(const std::vector<std::string>& components)
{
  if (components.empty())
    throw std::runtime_error("Refused file entry that names the target folder itself");
  const Descriptor& folder = OpenFolder(components, components.size() - 1);
  Descriptor file = folder.OpenFile(components.back(), O_WRONLY | O_CREAT | O_TRUNC);
  if (!file.Valid()) {
    if (errno == EINVAL)
      throw WriteError("Failed to create file: \"" + Join(components, components.size()) +
                           "\": not a regular file",
                       EINVAL);
    Fail("Failed to create file", Join(components, components.size()), errno);
  }
  return file;
}

Descriptor RootFolder::OpenExistingFile(const std::vector<std::string>& components)
{
  if (!IsOpen())
    throw WriteError("The target folder \"" + rootText + "\" is not open", ENOENT);
  if (components.empty())
    throw std::runtime_error("Refused file entry that names the target folder itself");
  Descriptor folder;
  for (std::size_t i = 0; i + 1 < components.size(); ++i) {
    folder = (i == 0 ? root : folder).OpenFolder(components[i]);
    if (!folder.Valid())
      Fail("Failed to open directory again", Join(components, i + 1), errno);
  }
  Descriptor file = (components.size() == 1 ? root : folder).OpenFile(components.back(), O_WRONLY);
  if (!file.Valid())
    Fail("Failed to open file again", Join(components, components.size()), errno);
  return file;
}

} // namespace Tesk::Tar
