#pragma once

#include <string>

namespace Tesk {

// A map's name in one language.
struct LocaleData
{
  std::string locale; // as the service names it, "de-DE"; may be empty
  std::string name;   // UTF-8, never empty

  // Reads a <tns:localeData> document; throws ContentError.
  static LocaleData Parse(const std::string& xml);
};

} // namespace Tesk
