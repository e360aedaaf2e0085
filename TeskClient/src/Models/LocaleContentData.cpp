#include "Models/LocaleContentData.h"

#include "Models/XmlDocument.h"

namespace Tesk {

LocaleContentData LocaleContentData::Parse(const std::string& xml)
{
  const XmlDocument document(xml, "locale content data", "tns:localeContentData");
  LocaleContentData data;
  data.locale = document.OptionalText(document.Root(), "tns:locale");
  data.content = document.Content(document.Root(), "tns:content");
  return data;
}

} // namespace Tesk
