#pragma once

#include <string>
#include <vector>

namespace Tesk {

// The reply of allroots, allnewest and allrelated: package ids in the order the
// service lists them. An empty list is a valid reply.
struct PackageList
{
  std::vector<std::string> packageIds;

  // Reads a <tns:packageList> document; throws ContentError.
  static PackageList Parse(const std::string& xml);
};

} // namespace Tesk
