#include "Models/PackageList.h"

#include "Models/XmlDocument.h"

namespace Tesk {

PackageList PackageList::Parse(const std::string& xml)
{
  const XmlDocument document(xml, "package list", "tns:packageList");
  PackageList list;
  list.packageIds = document.Texts(document.Root(), "tns:packageId");
  return list;
}

} // namespace Tesk
