#include "fmu/FullMapFolder.h"

#include "cfg/Config.h"
#include "usb/UsbStorage.h"

#include <QUrl>

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

} // namespace

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

FullMapFolder::Check FullMapFolder::CheckRemovalTarget(const fs::path& folder, std::string* why)
{
  const auto say = [why](Check check, std::string text) {
    if (why)
      *why = std::move(text);
    return check;
  };

  const auto target = AbsoluteComponents(folder, false);
  if (!target || target->empty())
    return say(Check::Malformed, "not an absolute path without \".\" and \"..\"");
  if (target->back() != Config::get().usbFullMapDir)
    return say(Check::Malformed, "not named " + Config::get().usbFullMapDir);

  UsbStorage& usbs = UsbStorage::Get();
  for (const auto state : {UsbInfo::ValidMetadata, UsbInfo::InvalidMetadata, UsbInfo::NoMetadata}) {
    for (const auto& entry : usbs.GetUsbs(state)) {
      const std::string& mountPath = entry.second.path;
      if (mountPath.empty())
        continue;
      const auto stick = AbsoluteComponents(fs::path(mountPath), true);
      // A stick mounted at the root would hold every folder: not a stick.
      if (!stick || stick->empty() || stick->size() >= target->size())
        continue;
      bool inside = true;
      for (std::size_t i = 0; i < stick->size() && inside; ++i)
        inside = (*stick)[i] == (*target)[i];
      if (inside)
        return Check::Safe;
    }
  }
  return say(Check::NotOnStick, "no known stick holds it");
}
