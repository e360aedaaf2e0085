#include "fmu/FullMapFolder.h"

#include "Log.h"
#include "cfg/Config.h"
#include "usb/UsbStorage.h"
#include "util/Descriptor.h"

#include <QUrl>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <vector>

namespace fs = boost::filesystem;

namespace {

// The names of a path's components below its root, without "." components
// (a trailing separator gives one). Empty when the path is not absolute or
// steps up with "..".
std::optional<std::vector<std::string>> AbsoluteComponents(const fs::path& path, bool allowDot)
{
  if (!path.has_root_directory())
    return std::nullopt;
  std::vector<std::string> names;
  for (auto it = path.begin(); it != path.end(); ++it) {
    const std::string name = it->string();
    if (name.empty() || name == "/")
      continue;
    if (name == ".") {
      // "/a/b/" ends in "." as a path; inside the path "." is an oddity that a
      // caller building a folder name never produces.
      if (allowDot || std::next(it) == path.end())
        continue;
      return std::nullopt;
    }
    if (name == "..")
      return std::nullopt;
    names.push_back(name);
  }
  return names;
}

std::string Reason(int error)
{
  return std::strerror(error);
}

std::string Join(const std::string& path, const std::string& name)
{
  return path.empty() ? name : path + "/" + name;
}

// Removes what a walk shows it: files on the way in, each folder once
// everything below it has gone.
class Removal : public Descriptor::Visitor
{
public:
  Removal(std::string top, const std::function<void(long long)>& removed)
      : top(std::move(top)), removed(removed)
  {
  }

  bool Visit(const Descriptor& folder, const std::string& path, const std::vector<Descriptor::Entry>& entries,
             std::vector<std::string>& enter) override
  {
    for (const auto& entry : entries) {
      if (!S_ISREG(entry.status.st_mode))
        continue;
      const std::string file = Where(Join(path, entry.name));
      LOG(Debug) << "Removing: " << file;
      if (!folder.Remove(entry.name, false)) {
        const int error = errno;
        Note("Failed to remove file: " + file + ", " + Reason(error));
        if (path.empty()) {
          Note("Failed to remove map: its metadata stays in: " + top);
          return false;
        }
        continue;
      }
      // Only bytes that really left the stick are reported.
      if (removed)
        removed(static_cast<long long>(entry.status.st_size));
    }
    for (const auto& entry : entries) {
      if (S_ISDIR(entry.status.st_mode))
        enter.push_back(entry.name);
      else if (!S_ISREG(entry.status.st_mode) && !folder.Remove(entry.name, false))
        Failure(Join(path, entry.name), errno);
    }
    return true;
  }

  bool Leave(const Descriptor& folder, const std::string& path, const std::string& name) override
  {
    if (!folder.Remove(name, true))
      Failure(Join(path, name), errno);
    return true;
  }

  bool Failed(const std::string& path, int error) override
  {
    Note("Failed to iterate over: " + Where(path) + ", " + Reason(error));
    return true;
  }

  // What could not be removed, and why.
  void Failure(const std::string& path, int error)
  {
    Note("Failed to remove: " + Where(path) + ", " + Reason(error));
  }

  void Note(const std::string& text)
  {
    LOG(Error) << text;
    if (first.empty())
      first = text;
  }

  std::string Where(const std::string& path) const { return path.empty() ? top : top + "/" + path; }

  const std::string top;
  const std::function<void(long long)>& removed;
  std::string first;
};

} // namespace

bool FullMapFolder::Remove(const fs::path& folder, const std::function<void(long long)>& removed,
                           std::string* why)
{
  Removal removal(folder.string(), removed);
  const std::string name = folder.filename().string();
  const Descriptor parent = Descriptor::OpenFolderPath(folder.parent_path().string());
  struct stat status;
  if (!parent.Valid() || !parent.StatusOf(name, status)) {
    if (parent.Valid() && errno == ENOENT)
      return true;
    removal.Failure(std::string(), errno);
  } else if (!S_ISDIR(status.st_mode)) {
    // A link, or a file, in place of the folder: removed itself.
    if (!parent.Remove(name, false))
      removal.Failure(std::string(), errno);
  } else {
    const Descriptor top = parent.OpenFolder(name);
    if (!top.Valid())
      removal.Failed(std::string(), errno);
    else if (top.Walk(removal) && !parent.Remove(name, true))
      removal.Failure(std::string(), errno);
  }
  if (removal.first.empty())
    return true;
  if (why)
    *why = removal.first;
  return false;
}

std::string FullMapFolder::ArchiveName(const std::string& url)
{
  const QUrl parsed(QString::fromStdString(url), QUrl::TolerantMode);
  if (!parsed.isValid() || parsed.isRelative())
    return {};
  // The last component as the URL writes it, decoded afterwards: an encoded
  // slash ("%2F") stays inside the name and is refused below.
  const QString path = parsed.path(QUrl::FullyEncoded);
  const int slash = path.lastIndexOf(QLatin1Char('/'));
  QString name = QUrl::fromPercentEncoding(path.mid(slash + 1).toUtf8());
  const int dot = name.lastIndexOf(QLatin1Char('.'));
  if (dot >= 0)
    name.truncate(dot);

  if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
    return {};
  for (const QChar c : name) {
    if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c.unicode() < 0x20 || c.unicode() == 0x7f)
      return {};
  }
  return name.toStdString();
}

namespace {

// The stick of the store below whose mount path the absolute components
// `target` lie, the deepest one; only `only` when that is not 0.
UsbInfo Holder(const std::vector<std::string>& target, UsbInfo::Id only)
{
  UsbInfo holder;
  std::size_t depth = 0;
  UsbStorage& usbs = UsbStorage::Get();
  for (const auto state : {UsbInfo::ValidMetadata, UsbInfo::InvalidMetadata, UsbInfo::NoMetadata}) {
    for (const auto& entry : usbs.GetUsbs(state)) {
      const UsbInfo& usb = entry.second;
      if (usb.path.empty() || (only != 0 && usb.id != only))
        continue;
      const auto stick = AbsoluteComponents(fs::path(usb.path), true);
      // A stick mounted at the root would hold every folder: not a stick.
      if (!stick || stick->empty() || stick->size() >= target.size() || stick->size() <= depth)
        continue;
      if (std::equal(stick->begin(), stick->end(), target.begin())) {
        holder = usb;
        depth = stick->size();
      }
    }
  }
  return holder;
}

FullMapFolder::Check Examine(const fs::path& folder, UsbInfo::Id only, std::string* why)
{
  const auto say = [why](FullMapFolder::Check check, std::string text) {
    if (why)
      *why = std::move(text);
    return check;
  };

  const auto target = AbsoluteComponents(folder, false);
  if (!target || target->empty())
    return say(FullMapFolder::Check::Malformed, "not an absolute path without \".\" and \"..\"");
  if (target->back() != Config::get().usbFullMapDir)
    return say(FullMapFolder::Check::Malformed, "not named " + Config::get().usbFullMapDir);
  if (Holder(*target, only).Valid())
    return FullMapFolder::Check::Safe;
  return say(FullMapFolder::Check::NotOnStick,
             only == 0 ? "no known stick holds it" : "the stick it was written to is gone");
}

std::optional<dev_t> DeviceOf(const fs::path& path)
{
  const Descriptor folder = Descriptor::OpenFolderPath(path.string());
  struct stat status;
  if (!folder.Valid() || !folder.Status(status))
    return std::nullopt;
  return status.st_dev;
}

} // namespace

FullMapFolder::Check FullMapFolder::CheckRemovalTarget(const fs::path& folder, std::string* why)
{
  return Examine(folder, 0, why);
}

FullMapFolder::Owner FullMapFolder::OwnerOf(const fs::path& folder)
{
  const auto target = AbsoluteComponents(folder, false);
  return {target ? Holder(*target, 0).id : 0, DeviceOf(folder.parent_path())};
}

FullMapFolder::Check FullMapFolder::CheckRemovalTarget(const fs::path& folder, const Owner& owner,
                                                       std::string* why)
{
  const auto say = [why](Check check, const char* text) {
    if (why)
      *why = text;
    return check;
  };
  if (owner.stick == 0)
    return say(Check::NotOnStick, "no stick was written to");
  const Check check = Examine(folder, owner.stick, why);
  if (check == Check::Safe && owner.device && DeviceOf(folder.parent_path()) != owner.device)
    return say(Check::NotOnStick, "another file system is mounted in the place of the stick");
  return check;
}
