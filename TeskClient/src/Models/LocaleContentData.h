#pragma once

#include <string>

namespace Tesk {

// A text of a map in one language.
struct LocaleContentData
{
  std::string locale;  // may be empty
  std::string content; // UTF-8, as the service wrote it; may be empty

  // Reads a <tns:localeContentData> document; throws ContentError when it is not
  // well-formed or has no <tns:content>.
  static LocaleContentData Parse(const std::string& xml);
};

} // namespace Tesk
