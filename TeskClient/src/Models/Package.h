#pragma once

#include "Models/MetadataHeader.h"

#include <string>
#include <vector>

namespace Tesk {

// One NDS map product of a package.
struct NdsProduct
{
  std::string productId;
  std::string version;
};

// A map package: the header and the NDS products it carries.
struct Package : MetadataHeader
{
  std::vector<NdsProduct> products;
};

} // namespace Tesk
