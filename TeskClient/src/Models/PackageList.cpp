#include "Models/PackageList.h"

#include "Models/XmlDocument.h"

namespace Tesk {

PackageList PackageList::Parse(const std::string& xml)
{
  const XmlDocument document(xml, "package list");
  document.ExpectRoot("tns:packageList");
  PackageList list;
  for (const auto& child : document.Root()) {
    if (child.first != "tns:packageId")
      continue;
    std::string id = Trimmed(child.second.data());
    if (id.empty())
      document.Fail("<tns:packageId> is empty");
    list.packageIds.push_back(std::move(id));
  }
  return list;
}

} // namespace Tesk
