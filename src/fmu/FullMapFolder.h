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

  // The stick a full-map folder was found on: its id in the stick store (0
  // for none) and the file system (device number) of the folder holding the
  // full-map folder, read through a handle of that folder that is closed at
  // once (none when it could not be opened). What tells two sticks apart is
  // the id: the discovery gives each appearance of a stick a new one, while
  // Linux hands the next stick in the same slot the same device number as a
  // rule. The device number tells that the folder's place no longer lies on
  // the file system the download wrote to, as when an unmount leaves the
  // mount folder behind, before the discovery has noticed.
  struct Owner
  {
    UsbInfo::Id stick = 0;
    std::optional<dev_t> device;
  };
  // The stick of the stick store below whose mount path `folder` lies (the
  // deepest one), with the file system it lies on now.
  static Owner OwnerOf(const boost::filesystem::path& folder);
  // Whether `folder` may be emptied or removed as above, with only `owner`
  // allowed to hold it: the folder of what a download wrote is no target once
  // its stick has gone or its place lies on another file system, whatever
  // stick has taken its place.
  static Check CheckRemovalTarget(const boost::filesystem::path& folder, const Owner& owner,
                                  std::string* why = nullptr);

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
