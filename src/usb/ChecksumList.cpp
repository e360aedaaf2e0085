#include "usb/ChecksumList.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

constexpr std::size_t DigestSize = 16;
constexpr std::size_t HexSize = 2 * DigestSize;

int HexValue(char c)
{
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;
}

bool IsBlank(char c)
{
  return c == ' ' || c == '\t';
}

bool Unescape(std::string_view escaped, std::string& path)
{
  path.clear();
  for (std::size_t i = 0; i < escaped.size(); ++i) {
    if (escaped[i] != '\\') {
      path += escaped[i];
      continue;
    }
    if (++i == escaped.size())
      return false;
    switch (escaped[i]) {
    case '\\':
      path += '\\';
      break;
    case 'n':
      path += '\n';
      break;
    case 'r':
      path += '\r';
      break;
    default:
      return false;
    }
  }
  return true;
}

// One line without its line end; false when it is malformed. `noTypeMark`
// carries the kind of the file's lines from one line to the next.
bool ParseLine(std::string_view line, int& noTypeMark, std::string& path, ChecksumList::Digest& digest)
{
  if (line.find('\0') != std::string_view::npos)
    return false;
  std::size_t at = 0;
  while (at < line.size() && IsBlank(line[at]))
    ++at;
  const bool escaped = at < line.size() && line[at] == '\\';
  if (escaped)
    ++at;

  // The digest, a separator and at least one character.
  if (line.size() - at < HexSize + 2)
    return false;
  for (std::size_t i = 0; i < DigestSize; ++i) {
    const int high = HexValue(line[at + 2 * i]);
    const int low = HexValue(line[at + 2 * i + 1]);
    if (high < 0 || low < 0)
      return false;
    digest[i] = static_cast<std::uint8_t>(high * 16 + low);
  }
  at += HexSize;
  if (!IsBlank(line[at]))
    return false;
  ++at;

  // A type mark needs a path behind it; without one the path starts here.
  // The kinds never mix, so that a path with a leading blank or "*" cannot
  // be read another way than its line meant.
  if (line.size() - at == 1 || (line[at] != ' ' && line[at] != '*')) {
    if (noTypeMark == 0)
      return false;
    noTypeMark = 1;
  } else if (noTypeMark != 1) {
    noTypeMark = 0;
    ++at;
  }

  const std::string_view name = line.substr(at);
  if (!escaped) {
    path.assign(name.data(), name.size());
    return true;
  }
  return Unescape(name, path);
}

} // namespace

ChecksumList::ChecksumList(std::size_t expectedSize)
{
  // A record (digest bytes, path, NUL) is shorter than its line (hex digits,
  // separator, path, line end): the file's size is room for all of them.
  arena.reserve(expectedSize);
  // The shortest line: digits, separator, a one-character path, line end.
  entries.reserve(expectedSize / (HexSize + 3));
}

bool ChecksumList::Add(const char* data, std::size_t size, std::string& error)
{
  while (size > 0) {
    const char* end = static_cast<const char*>(std::memchr(data, '\n', size));
    if (!end) {
      partial.append(data, size);
      return true;
    }
    const std::size_t length = static_cast<std::size_t>(end - data);
    bool ok;
    if (partial.empty()) {
      ok = AddLine(std::string_view(data, length), error);
    } else {
      partial.append(data, length);
      ok = AddLine(partial, error);
      partial.clear();
      partial.shrink_to_fit();
    }
    if (!ok)
      return false;
    data += length + 1;
    size -= length + 1;
  }
  return true;
}

bool ChecksumList::AddLine(std::string_view line, std::string& error)
{
  ++lineNumber;
  if (!line.empty() && line.back() == '\r')
    line.remove_suffix(1);
  if (std::all_of(line.begin(), line.end(), IsBlank) || line.front() == '#')
    return true;

  Digest digest;
  std::string listed;
  if (!ParseLine(line, noTypeMark, listed, digest)) {
    error = "Malformed line " + std::to_string(lineNumber) + " of the checksum file";
    return false;
  }
  std::string path;
  std::string reason;
  if (!Normalize(listed, path, reason)) {
    error = reason + " (line " + std::to_string(lineNumber) + " of the checksum file)";
    return false;
  }
  if (arena.size() + DigestSize + path.size() + 1 > std::numeric_limits<std::uint32_t>::max()) {
    error = "The checksum file is too large";
    return false;
  }
  entries.push_back(static_cast<std::uint32_t>(arena.size()));
  arena.insert(arena.end(), digest.begin(), digest.end());
  arena.insert(arena.end(), path.begin(), path.end());
  arena.push_back('\0');
  return true;
}

bool ChecksumList::Finish(std::string& error)
{
  if (!partial.empty()) {
    const std::string last = std::move(partial);
    partial.clear();
    if (!AddLine(last, error))
      return false;
  }
  // Sorted, a path listed twice lies next to itself.
  std::stable_sort(entries.begin(), entries.end(), [this](std::uint32_t a, std::uint32_t b) {
    return std::strcmp(&arena[a + DigestSize], &arena[b + DigestSize]) < 0;
  });
  bool conflict = false;
  const auto last = std::unique(entries.begin(), entries.end(), [&](std::uint32_t a, std::uint32_t b) {
    if (conflict || std::strcmp(&arena[a + DigestSize], &arena[b + DigestSize]) != 0)
      return false;
    if (std::memcmp(&arena[a], &arena[b], DigestSize) != 0) {
      conflict = true;
      error = "Listed twice with different checksums: " + std::string(&arena[a + DigestSize]);
    }
    return true;
  });
  if (conflict)
    return false;
  entries.erase(last, entries.end());
  return true;
}

bool ChecksumList::Parse(const std::string& text, std::string& error)
{
  return Add(text.data(), text.size(), error) && Finish(error);
}

std::string_view ChecksumList::Path(std::size_t index) const
{
  return std::string_view(&arena[entries[index] + DigestSize]);
}

ChecksumList::Digest ChecksumList::DigestOf(std::size_t index) const
{
  Digest digest;
  std::memcpy(digest.data(), &arena[entries[index]], DigestSize);
  return digest;
}

std::size_t ChecksumList::Find(std::string_view path) const
{
  const auto at = std::lower_bound(entries.begin(), entries.end(), path,
                                   [this](std::uint32_t entry, std::string_view key) {
                                     return std::string_view(&arena[entry + DigestSize]) < key;
                                   });
  if (at == entries.end() || std::string_view(&arena[*at + DigestSize]) != path)
    return npos;
  return static_cast<std::size_t>(at - entries.begin());
}

bool ChecksumList::Normalize(const std::string& path, std::string& normalized, std::string& error)
{
  if (!path.empty() && path.front() == '/') {
    error = "Absolute path: " + path;
    return false;
  }
  normalized.clear();
  std::string last;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string::npos)
      end = path.size();
    last = path.substr(start, end - start);
    start = end + 1;
    if (last == "..") {
      error = "Path leaves the update folder: " + path;
      return false;
    }
    if (last.empty() || last == ".")
      continue;
    if (!normalized.empty())
      normalized += '/';
    normalized += last;
  }
  // "a/" and "a/." name a folder, or nothing: never a file.
  if (normalized.empty() || last.empty() || last == ".") {
    error = "Path names no file: " + path;
    return false;
  }
  return true;
}
