#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

namespace Tesk::Tar {

// One 512-byte header block of a tar archive (ustar, GNU and old v7 layouts),
// decoded and checked. Every function throws std::runtime_error with a text
// fit for the log when the block is not a valid header.
class Header
{
public:
  static constexpr std::size_t BlockSize = 512;

  enum class Type
  {
    File,         // '0', '\0', '7' (contiguous file)
    Directory,    // '5'
    LongName,     // 'L': the data are the next entry's name
    LongLink,     // 'K': the data are the next entry's link target
    PaxLocal,     // 'x': records for the next entry
    PaxGlobal,    // 'g': records for every later entry
    VolumeLabel,  // 'V'
    HardLink,     // '1'
    SymbolicLink, // '2'
    CharDevice,   // '3'
    BlockDevice,  // '4'
    Fifo,         // '6'
    Unsupported   // anything else (sparse files, multi-volume parts, ...)
  };

  // Decodes a block that is not all zeros. The offset only goes into error texts.
  static Header Parse(const char* block, std::int64_t offset);
  static bool IsZeroBlock(const char* block);

  // A numeric field: octal text (leading blanks, ended by NUL or blank) or
  // GNU base-256 (high bit of the first byte set). Negative values and values
  // beyond a signed 64-bit count are refused.
  static std::int64_t ParseNumber(const char* field, std::size_t length, const char* what);

  // The records of a pax extended header ("<length> <key>=<value>\n" each).
  static std::map<std::string, std::string> ParsePax(const std::string& data);
  // A decimal pax number (the "size" record).
  static std::int64_t ParseDecimal(const std::string& text, const char* what);

  static const char* TypeName(Type type);

  std::string name; // the name field, behind the ustar prefix when there is one
  std::int64_t size = 0;
  Type type = Type::File;
  char flag = '0';

private:
  // The parts of Parse: the checksum check (throws on a mismatch), the full
  // name and the type of a type flag.
  static void CheckChecksum(const char* block, std::int64_t offset);
  static std::string Name(const char* block);
  static Type TypeOf(char flag);
};

} // namespace Tesk::Tar
