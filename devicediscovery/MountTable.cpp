#include "devicediscovery/MountTable.h"

#include <QByteArray>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <sstream>

namespace {

bool IsOctal(char c)
{
  return c >= '0' && c <= '7';
}

bool ParseUnsigned(const std::string& text, unsigned& value)
{
  if (text.empty() || text.size() > 9)
    return false;
  value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9')
      return false;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  return true;
}

std::vector<std::string> SplitFields(const std::string& line)
{
  std::vector<std::string> fields;
  std::string field;
  for (const char c : line) {
    if (c == ' ') {
      if (!field.empty())
        fields.push_back(std::move(field));
      field.clear();
    } else {
      field += c;
    }
  }
  if (!field.empty())
    fields.push_back(std::move(field));
  return fields;
}

bool ParseLine(const std::string& line, MountTable::Entry& entry)
{
  // "36 35 98:0 /mnt1 /mnt/parent rw,noatime master:1 - ext3 /dev/root rw"
  const auto fields = SplitFields(line);
  if (fields.size() < 10)
    return false;

  unsigned mountId = 0;
  if (!ParseUnsigned(fields[0], mountId))
    return false;
  const auto colon = fields[2].find(':');
  if (colon == std::string::npos || !ParseUnsigned(fields[2].substr(0, colon), entry.major) ||
      !ParseUnsigned(fields[2].substr(colon + 1), entry.minor))
    return false;

  // Optional fields run from the seventh field up to the lone "-".
  std::size_t separator = 6;
  while (separator < fields.size() && fields[separator] != "-")
    ++separator;
  if (separator + 2 >= fields.size())
    return false;

  entry.mountId = static_cast<int>(mountId);
  entry.root = MountTable::Decode(fields[3]);
  entry.mountPoint = MountTable::Decode(fields[4]);
  entry.fsType = MountTable::Decode(fields[separator + 1]);
  entry.source = MountTable::Decode(fields[separator + 2]);
  return !entry.mountPoint.empty() && entry.mountPoint.front() == '/';
}

} // namespace

std::string MountTable::DefaultPath()
{
  const QByteArray path = qgetenv("LUMORA_MOUNTINFO");
  return path.isEmpty() ? std::string("/proc/self/mountinfo") : path.toStdString();
}

bool MountTable::Read(const std::string& path, std::vector<Entry>& entries)
{
  // The kernel hands the table out in pieces; read it whole in one go of
  // plain reads (no seeking, which the proc file does not need).
  std::FILE* file = std::fopen(path.c_str(), "re");
  if (!file)
    return false;
  std::string text;
  char buffer[16384];
  std::size_t count = 0;
  while ((count = std::fread(buffer, 1, sizeof buffer, file)) > 0)
    text.append(buffer, count);
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed)
    return false;
  entries = Parse(text);
  return true;
}

std::optional<bool> MountTable::Lists(const std::string& mountPoint)
{
  std::vector<Entry> entries;
  if (!Read(DefaultPath(), entries))
    return std::nullopt;
  return std::any_of(entries.begin(), entries.end(),
                     [&mountPoint](const Entry& entry) { return entry.mountPoint == mountPoint; });
}

std::vector<MountTable::Entry> MountTable::Parse(const std::string& text)
{
  std::vector<Entry> entries;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    Entry entry;
    if (ParseLine(line, entry))
      entries.push_back(std::move(entry));
  }
  return entries;
}

std::string MountTable::Decode(const std::string& field)
{
  std::string decoded;
  decoded.reserve(field.size());
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size() && IsOctal(field[i + 1]) && IsOctal(field[i + 2]) &&
        IsOctal(field[i + 3])) {
      const int value = (field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0');
      if (value <= 0xFF) {
        decoded += static_cast<char>(value);
        i += 3;
        continue;
      }
    }
    decoded += field[i];
  }
  return decoded;
}
