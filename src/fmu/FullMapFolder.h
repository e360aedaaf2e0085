#pragma once

#include "usb/UsbInfo.h"

#include <boost/filesystem/path.hpp>

#include <functional>
#include <optional>
#include <string>
#include <sys/types.h>

// The rules for the names that a map download writes and removes on a stick:
// the folder of the unpacked archive, and the full-map folder that a download
// empties and a cancellation removes.
class FullMapFolder
{
public:
  // What a removal target turned out to be.
  enum class Check
  {
    Safe,       // an absolute full-map folder strictly inside a stick of the stick store
    NotOnStick, // well formed, but no stick of the stick store holds it (the stick is gone)
    Malformed   // relative, with "." or "..", or not named after the full-map folder
  };

  // The archive's folder name: the last component of the URL's path without
  // its extension (the part from the last "." on). Query and fragment are not
  // part of it; percent escapes are decoded. Empty when that name is not a
  // single safe path component (empty, "." or "..", a slash, a backslash or a
  // control character in it).
  static std::string ArchiveName(const std::string& url);

  // Whether `folder` may be emptied or removed: it must be absolute, free of
  // "." and ".." components, end in the configured full-map folder name, and
  // lie below the mount path of a stick that the stick store holds. `why`
  // receives a readable reason when it is not Safe.
  static Check CheckRemovalTarget(const boost::filesystem::path& folder, std::string* why = nullptr);
  // The same, with only the stick `stick` of the stick store allowed to hold
  // the folder: a folder of what a download wrote is no target once its stick
  // has gone, whatever stick has taken its place.
  static Check CheckRemovalTarget(const boost::filesystem::path& folder, UsbInfo::Id stick,
                                  std::string* why = nullptr);
  // The stick of the stick store below whose mount path `folder` lies (the
  // deepest one), or 0.
  static UsbInfo::Id StickHolding(const boost::filesystem::path& folder);
  // The file system (device number) of the folder at `path`, read through a
  // descriptor of the folder opened for the purpose; none when it cannot be
  // opened. A stick put in the place of another has a file system of its own.
  static std::optional<dev_t> DeviceOf(const boost::filesystem::path& path);

  // Removes `folder` with everything below it. It works by open folder
  // handles, one name at a time, so that no depth or name length gets in the
  // way; a link is never followed (one in place of the folder, or inside it,
  // is removed itself), and nothing on another file system is entered. The
  // files right in the folder (a map's metadata copy, which makes it look
  // complete) go first; when one of them cannot be removed, nothing else is.
  // `removed`, when set, hears the size of each regular file removed. True
  // when nothing is left (a missing folder too); otherwise the reasons are
  // logged and `why` receives the first.
  static bool Remove(const boost::filesystem::path& folder, const std::function<void(long long)>& removed,
                     std::string* why = nullptr);
};
