#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// The lines of a stick's checksum file: per line 32 hexadecimal digits (either
// case), white space and the path of a file relative to the checksum file's
// folder with "/" separators, as md5sum writes it. A "*" before the path marks
// binary mode and is not part of it; a line that begins with a backslash has
// its path escaped ("\\" a backslash, "\n" a new line, "\r" a carriage
// return); a line may end in CR LF; blank lines are ignored.
class ChecksumList
{
public:
  using Digest = std::array<std::uint8_t, 16>;

  struct Entry
  {
    std::string path; // normalised: no empty, "." or ".." parts
    Digest digest;
  };

  // Parses the file's text into `entries` (each path once, in the order of
  // first appearance). Fails, with a reason in `error`, on the first line
  // that is malformed, names an absolute path or a path that leaves the
  // folder, or lists a path a second time with another checksum.
  static bool Parse(const std::string& text, std::vector<Entry>& entries, std::string& error);

  // Makes a listed path relative and plain: "a//./b" gives "a/b". Fails on an
  // absolute path, a ".." part or a path that names the folder itself.
  static bool Normalize(const std::string& path, std::string& normalized, std::string& error);
};
