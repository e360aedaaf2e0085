#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The lines of a stick's checksum file, read as `md5sum -c` reads them: per
// line, after optional blanks, 32 hexadecimal digits (either case), one blank
// or tab, a type mark (" " for text, "*" for binary) and the path, every
// character of which counts, leading and trailing blanks and a "*" among them.
// A file whose first line has no type mark (one separator only, as BSD's
// `md5 -r` writes) is read that way throughout: there every character after
// the separator belongs to the path, and a line with a type mark in a file of
// the other kind is malformed. A line that begins with a backslash has its
// path escaped ("\\" a backslash, "\n" a new line, "\r" a carriage return); a
// line may end in CR LF; lines of blanks only and lines beginning with "#"
// are ignored. Paths are relative to the checksum file's folder, with "/"
// separators.
//
// The text is taken piece by piece and kept compactly (the digests as bytes,
// the paths once), so that the list holds no more than the file's size
// whatever its lines.
class ChecksumList
{
public:
  using Digest = std::array<std::uint8_t, 16>;
  static constexpr std::size_t npos = static_cast<std::size_t>(-1);

  // `expectedSize`: the size of the file, when known, so that room for it is
  // taken once.
  explicit ChecksumList(std::size_t expectedSize = 0);

  // The next piece of the file's text. Fails, with a reason in `error`, at
  // the first line that is malformed or names an absolute path, a path that
  // leaves the folder or one that names no file (a trailing slash).
  bool Add(const char* data, std::size_t size, std::string& error);
  // The end of the text. Fails on a malformed last line, or on a path listed
  // twice with different checksums.
  bool Finish(std::string& error);
  // Add and Finish of a whole text.
  bool Parse(const std::string& text, std::string& error);

  // After Finish: the paths listed, each once, sorted.
  std::size_t Count() const { return entries.size(); }
  std::string_view Path(std::size_t index) const;
  Digest DigestOf(std::size_t index) const;
  // The index of the path, or npos.
  std::size_t Find(std::string_view path) const;

  // Makes a listed path relative and plain: "a//./b" gives "a/b". Fails on an
  // absolute path, a ".." part, or a path that names the folder itself or
  // ends in "/" or "/." (no file has such a name).
  static bool Normalize(const std::string& path, std::string& normalized, std::string& error);

private:
  bool AddLine(std::string_view line, std::string& error);

  std::string partial; // a line whose end has not come yet
  // Per path: its 16 digest bytes, the path, a NUL.
  std::vector<char> arena;
  std::vector<std::uint32_t> entries; // where each path's record starts in the arena
  std::uint64_t lineNumber = 0;
  int noTypeMark = -1; // -1: no line yet; 1: the file's lines have no type mark
};
