#include "Models/LocaleContentData.h"

#include "Models/XmlDocument.h"

namespace Tesk {

LocaleContentData LocaleContentData::Parse(const std::string& xml)
{
  const XmlDocument document(xml, "locale content data");
  document.ExpectRoot("tns:localeContentData");
  const auto& root = document.Root();
  LocaleContentData data;
  data.locale = document.OptionalText(root, "tns:locale");
  const auto content = root.get_child_optional(XmlDocument::Tree::path_type("tns:content", '\0'));
  if (!content)
    document.Fail("<tns:content> is missing");
  data.content = content->data();
  return data;
}

} // namespace Tesk
