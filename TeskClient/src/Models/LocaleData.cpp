#include "Models/LocaleData.h"

#include "Models/XmlDocument.h"

namespace Tesk {

LocaleData LocaleData::Parse(const std::string& xml)
{
  const XmlDocument document(xml, "locale data", "tns:localeData");
  LocaleData data;
  data.locale = document.OptionalText(document.Root(), "tns:locale");
  data.name = document.Text(document.Root(), "tns:name");
  return data;
}

} // namespace Tesk
