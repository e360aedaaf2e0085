#pragma once

#include "Models/MetadataHeader.h"

#include <string>
#include <vector>

namespace Tesk {

// A group of packages: the header and the ids of the packages it names.
struct Group : MetadataHeader
{
  std::vector<std::string> packageIds;
};

} // namespace Tesk
