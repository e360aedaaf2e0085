#include "Tar/Header.h"

#include <cstring>
#include <limits>
#include <stdexcept>

namespace Tesk::Tar {

namespace {

// Field offsets and lengths of the ustar header.
constexpr std::size_t NameOffset = 0, NameLength = 100;
constexpr std::size_t SizeOffset = 124, SizeLength = 12;
constexpr std::size_t ChecksumOffset = 148, ChecksumLength = 8;
constexpr std::size_t TypeOffset = 156;
constexpr std::size_t MagicOffset = 257;
constexpr std::size_t PrefixOffset = 345, PrefixLength = 155;

constexpr std::int64_t MaxValue = std::numeric_limits<std::int64_t>::max();

std::string Field(const char* field, std::size_t length)
{
  return std::string(field, strnlen(field, length));
}

bool IsOctalDigit(char c)
{
  return c >= '0' && c <= '7';
}

} // namespace

bool Header::IsZeroBlock(const char* block)
{
  for (std::size_t i = 0; i < BlockSize; ++i)
    if (block[i] != 0)
      return false;
  return true;
}

std::int64_t Header::ParseNumber(const char* field, std::size_t length, const char* what)
{
  const auto first = static_cast<unsigned char>(field[0]);
  if (first & 0x80) {
    // Base-256: a two's complement big-endian number; 0x80 marks a positive one.
    if (first != 0x80)
      throw std::runtime_error(std::string("Negative or oversized ") + what + " field");
    std::int64_t value = 0;
    for (std::size_t i = 1; i < length; ++i) {
      if (value > (MaxValue >> 8))
        throw std::runtime_error(std::string("The ") + what + " field overflows");
      value = (value << 8) | static_cast<unsigned char>(field[i]);
    }
    return value;
  }
  std::size_t i = 0;
  while (i < length && field[i] == ' ')
    ++i;
  std::int64_t value = 0;
  for (; i < length && field[i] != 0 && field[i] != ' '; ++i) {
    if (!IsOctalDigit(field[i]))
      throw std::runtime_error(std::string("Invalid ") + what + " field");
    const int digit = field[i] - '0';
    if (value > (MaxValue - digit) / 8)
      throw std::runtime_error(std::string("The ") + what + " field overflows");
    value = value * 8 + digit;
  }
  for (; i < length; ++i)
    if (field[i] != 0 && field[i] != ' ')
      throw std::runtime_error(std::string("Invalid ") + what + " field");
  return value;
}

std::int64_t Header::ParseDecimal(const std::string& text, const char* what)
{
  if (text.empty())
    throw std::runtime_error(std::string("Invalid ") + what + " record");
  std::int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9')
      throw std::runtime_error(std::string("Invalid ") + what + " record");
    const int digit = c - '0';
    if (value > (MaxValue - digit) / 10)
      throw std::runtime_error(std::string("The ") + what + " record overflows");
    value = value * 10 + digit;
  }
  return value;
}

std::map<std::string, std::string> Header::ParsePax(const std::string& data)
{
  std::map<std::string, std::string> records;
  std::size_t pos = 0;
  while (pos < data.size()) {
    // Trailing NUL padding after the last record is tolerated.
    if (data[pos] == 0) {
      if (data.find_first_not_of('\0', pos) != std::string::npos)
        throw std::runtime_error("Malformed extended header");
      break;
    }
    const std::size_t space = data.find(' ', pos);
    if (space == std::string::npos || space == pos || space - pos > 18)
      throw std::runtime_error("Malformed extended header");
    const std::int64_t length = ParseDecimal(data.substr(pos, space - pos), "extended header length");
    if (length <= static_cast<std::int64_t>(space - pos + 1) ||
        length > static_cast<std::int64_t>(data.size() - pos))
      throw std::runtime_error("Malformed extended header");
    const std::size_t end = pos + static_cast<std::size_t>(length); // one past the '\n'
    if (data[end - 1] != '\n')
      throw std::runtime_error("Malformed extended header");
    const std::string record = data.substr(space + 1, end - 1 - (space + 1));
    const std::size_t equals = record.find('=');
    if (equals == std::string::npos || equals == 0)
      throw std::runtime_error("Malformed extended header");
    records[record.substr(0, equals)] = record.substr(equals + 1);
    pos = end;
  }
  return records;
}

const char* Header::TypeName(Type type)
{
  switch (type) {
  case Type::File:
    return "file";
  case Type::Directory:
    return "directory";
  case Type::LongName:
    return "long name";
  case Type::LongLink:
    return "long link name";
  case Type::PaxLocal:
    return "extended header";
  case Type::PaxGlobal:
    return "global extended header";
  case Type::VolumeLabel:
    return "volume label";
  case Type::HardLink:
    return "hard link";
  case Type::SymbolicLink:
    return "symbolic link";
  case Type::CharDevice:
    return "character device";
  case Type::BlockDevice:
    return "block device";
  case Type::Fifo:
    return "FIFO";
  case Type::Unsupported:
    break;
  }
  return "unsupported entry";
}

Header Header::Parse(const char* block, std::int64_t offset)
{
  // The checksum is the sum of all header bytes with its own field read as
  // blanks; old archivers summed signed chars, so both sums are accepted.
  const std::string badChecksum = "Bad tar header checksum at offset " + std::to_string(offset);
  std::int64_t stored = -1;
  try {
    stored = ParseNumber(block + ChecksumOffset, ChecksumLength, "checksum");
  } catch (const std::runtime_error&) {
    throw std::runtime_error(badChecksum);
  }
  std::int64_t unsignedSum = 0;
  std::int64_t signedSum = 0;
  for (std::size_t i = 0; i < BlockSize; ++i) {
    const bool inChecksum = i >= ChecksumOffset && i < ChecksumOffset + ChecksumLength;
    unsignedSum += inChecksum ? ' ' : static_cast<unsigned char>(block[i]);
    signedSum += inChecksum ? ' ' : static_cast<signed char>(block[i]);
  }
  if (stored != unsignedSum && stored != signedSum)
    throw std::runtime_error(badChecksum);

  Header header;
  header.flag = block[TypeOffset];
  header.size = ParseNumber(block + SizeOffset, SizeLength, "size");

  // Only POSIX ustar ("ustar\0" "00") has the prefix field; in the GNU layout
  // ("ustar  \0") those bytes hold times, and v7 headers have neither.
  header.name = Field(block + NameOffset, NameLength);
  if (std::memcmp(block + MagicOffset, "ustar\0", 6) == 0) {
    const std::string prefix = Field(block + PrefixOffset, PrefixLength);
    if (!prefix.empty())
      header.name = prefix + "/" + header.name;
  }

  switch (header.flag) {
  case '0':
  case '\0':
  case '7':
    header.type = Type::File;
    break;
  case '5':
    header.type = Type::Directory;
    break;
  case 'L':
    header.type = Type::LongName;
    break;
  case 'K':
    header.type = Type::LongLink;
    break;
  case 'x':
    header.type = Type::PaxLocal;
    break;
  case 'g':
    header.type = Type::PaxGlobal;
    break;
  case 'V':
    header.type = Type::VolumeLabel;
    break;
  case '1':
    header.type = Type::HardLink;
    break;
  case '2':
    header.type = Type::SymbolicLink;
    break;
  case '3':
    header.type = Type::CharDevice;
    break;
  case '4':
    header.type = Type::BlockDevice;
    break;
  case '6':
    header.type = Type::Fifo;
    break;
  default:
    header.type = Type::Unsupported;
    break;
  }
  return header;
}

} // namespace Tesk::Tar
