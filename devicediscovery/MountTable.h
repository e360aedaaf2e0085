#pragma once

#include <optional>
#include <string>
#include <vector>

// The mounts of this process's mount namespace, read from a table in the
// format of /proc/self/mountinfo.
class MountTable
{
public:
  struct Entry
  {
    int mountId = 0;
    unsigned major = 0;
    unsigned minor = 0;
    std::string root;       // the folder of the file system that is mounted
    std::string mountPoint; // decoded
    std::string fsType;
    std::string source; // decoded
  };

  // The table's location: $LUMORA_MOUNTINFO when set, else /proc/self/mountinfo.
  static std::string DefaultPath();

  // Reads the table at `path` into `entries`. False when the file cannot be
  // read; lines that are not mount entries are left out.
  static bool Read(const std::string& path, std::vector<Entry>& entries);

  // Whether the table at DefaultPath() lists a mount at `mountPoint` (a
  // volume's mount path as the discovery hands it over); none when the table
  // cannot be read.
  static std::optional<bool> Lists(const std::string& mountPoint);

  // Parses the table's text; lines that are not mount entries are left out.
  static std::vector<Entry> Parse(const std::string& text);

  // Undoes the table's escapes: a backslash and three octal digits stand for
  // one byte ("\040" a space, "\011" a tab, "\012" a new line, "\134" a
  // backslash). Anything else is kept as it is.
  static std::string Decode(const std::string& field);
};
