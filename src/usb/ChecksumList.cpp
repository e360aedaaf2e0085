#include "usb/ChecksumList.h"

#include <unordered_map>

namespace {

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

bool Unescape(const std::string& escaped, std::string& path)
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

// One line without its line end; false when it is malformed.
bool ParseLine(const std::string& line, std::string& path, ChecksumList::Digest& digest)
{
  if (line.find('\0') != std::string::npos)
    return false;
  std::size_t at = 0;
  const bool escaped = !line.empty() && line[0] == '\\';
  if (escaped)
    ++at;

  if (line.size() < at + 32)
    return false;
  for (std::size_t i = 0; i < 16; ++i) {
    const int high = HexValue(line[at + 2 * i]);
    const int low = HexValue(line[at + 2 * i + 1]);
    if (high < 0 || low < 0)
      return false;
    digest[i] = static_cast<std::uint8_t>(high * 16 + low);
  }
  at += 32;

  if (at == line.size() || !IsBlank(line[at]))
    return false;
  while (at < line.size() && IsBlank(line[at]))
    ++at;
  if (at < line.size() && line[at] == '*')
    ++at;

  const std::string name = line.substr(at);
  if (name.empty())
    return false;
  if (!escaped) {
    path = name;
    return true;
  }
  return Unescape(name, path);
}

} // namespace

bool ChecksumList::Parse(const std::string& text, std::vector<Entry>& entries, std::string& error)
{
  entries.clear();
  std::unordered_map<std::string, std::size_t> index;
  std::size_t start = 0;
  for (int number = 1; start < text.size(); ++number) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos)
      end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r')
      line.pop_back();

    bool blank = true;
    for (const char c : line)
      blank = blank && IsBlank(c);
    if (blank)
      continue;

    Entry entry;
    std::string listed;
    if (!ParseLine(line, listed, entry.digest)) {
      error = "Malformed line " + std::to_string(number) + " of the checksum file";
      return false;
    }
    std::string reason;
    if (!Normalize(listed, entry.path, reason)) {
      error = reason + " (line " + std::to_string(number) + " of the checksum file)";
      return false;
    }

    const auto known = index.find(entry.path);
    if (known != index.end()) {
      if (entries[known->second].digest != entry.digest) {
        error = "Listed twice with different checksums: " + entry.path;
        return false;
      }
      continue;
    }
    index.emplace(entry.path, entries.size());
    entries.push_back(std::move(entry));
  }
  return true;
}

bool ChecksumList::Normalize(const std::string& path, std::string& normalized, std::string& error)
{
  if (!path.empty() && path.front() == '/') {
    error = "Absolute path: " + path;
    return false;
  }
  normalized.clear();
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string::npos)
      end = path.size();
    const std::string part = path.substr(start, end - start);
    start = end + 1;
    if (part.empty() || part == ".")
      continue;
    if (part == "..") {
      error = "Path leaves the update folder: " + path;
      return false;
    }
    if (!normalized.empty())
      normalized += '/';
    normalized += part;
  }
  if (normalized.empty()) {
    error = "Path names no file: " + path;
    return false;
  }
  return true;
}
