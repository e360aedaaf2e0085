#pragma once

#include <cstdint>
#include <string>

namespace Tesk {

// Where a map archive lies, its MD5 and its length.
struct DownloadInfo
{
  std::string url;
  std::string checksum;  // 32 lower-case hexadecimal digits
  std::int64_t size = 0; // bytes

  // Reads a <tns:downloadInfo> document; throws ContentError when an element is
  // missing, the checksum is not an MD5 in hexadecimal or the size is not a
  // byte count that fits a signed 64-bit integer.
  static DownloadInfo Parse(const std::string& xml);
};

} // namespace Tesk
