#include "Tar/Header.h"

#include "EnumNames.h"

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

// The type of each type flag; any other flag is an unsupported entry.
struct FlagType
{
  char flag;
  Header::Type type;
};
const FlagType FlagTypes[] = {
    {'0', Header::Type::File},        {'\0', Header::Type::File},        {'7', Header::Type::File},
    {'5', Header::Type::Directory},   {'L', Header::Type::LongName},     {'K', Header::Type::LongLink},
    {'x', Header::Type::PaxLocal},    {'g', Header::Type::PaxGlobal},    {'V', Header::Type::VolumeLabel},
    {'1', Header::Type::HardLink},    {'2', Header::Type::SymbolicLink}, {'3', Header::Type::CharDevice},
    {'4', Header::Type::BlockDevice}, {'6', Header::Type::Fifo}};

// What the log and the errors call each type.
const EnumName<Header::Type> TypeNames[] = {{Header::Type::File, "file"},
                                            {Header::Type::Directory, "directory"},
                                            {Header::Type::LongName, "long name"},
                                            {Header::Type::LongLink, "long link name"},
                                            {Header::Type::PaxLocal, "extended header"},
                                            {Header::Type::PaxGlobal, "global extended header"},
                                            {Header::Type::VolumeLabel, "volume label"},
                                            {Header::Type::HardLink, "hard link"},
                                            {Header::Type::SymbolicLink, "symbolic link"},
                                            {Header::Type::CharDevice, "character device"},
                                            {Header::Type::BlockDevice, "block device"},
                                            {Header::Type::Fifo, "FIFO"}};

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
  const char* name = NameOf(type, TypeNames);
  return name ? name : "unsupported entry";
}

Header Header::Parse(const char* block, std::int64_t offset)
{
  CheckChecksum(block, offset);
  Header header;
  header.flag = block[TypeOffset];
  header.type = TypeOf(header.flag);
  header.size = ParseNumber(block + SizeOffset, SizeLength, "size");
  header.name = Name(block);
  return header;
}

void Header::CheckChecksum(const char* block, std::int64_t offset)
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
}

std::string Header::Name(const char* block)
{
  // Only POSIX ustar ("ustar\0" "00") has the prefix field; in the GNU layout
  // ("ustar  \0") those bytes hold times, and v7 headers have neither.
  const std::string name = Field(block + NameOffset, NameLength);
  if (std::memcmp(block + MagicOffset, "ustar\0", 6) == 0) {
    const std::string prefix = Field(block + PrefixOffset, PrefixLength);
    if (!prefix.empty())
      return prefix + "/" + name;
  }
  return name;
}

Header::Type Header::TypeOf(char flag)
{
  for (const FlagType& entry : FlagTypes)
    if (entry.flag == flag)
      return entry.type;
  return Type::Unsupported;
}

} // namespace Tesk::Tar
