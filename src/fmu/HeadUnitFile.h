#pragma once

#include "fmu/HeadUnitInfo.h"

#include <boost/filesystem/path.hpp>

#include <cstddef>
#include <stdexcept>
#include <string>

// The head unit's file on the stick ("GENERAL.JSON"): the subscription end
// date ("subscription_end_date", "yyyy-MM-dd"; empty or missing when there is
// no subscription) and the free and used map space in bytes
// ("available_map_space", "used_map_space"; JSON numbers or decimal strings).
class HeadUnitFile
{
public:
  // Why the file cannot be used; the text is ready for the log.
  class Error : public std::runtime_error
  {
  public:
    using std::runtime_error::runtime_error;
  };

  // Larger files are refused unread.
  static constexpr std::size_t MaxSize = 64 * 1024;

  // Reads and parses the file; throws Error when it is missing or unreadable.
  static HeadUnitInfo Read(const boost::filesystem::path& file);

  // Throws Error when the text is not JSON, a size is missing, not a byte
  // count or too large, or the date is malformed. The total map space is the
  // free plus the used space.
  static HeadUnitInfo Parse(const std::string& json);
};
