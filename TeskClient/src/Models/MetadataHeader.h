#pragma once

#include <string>

namespace Tesk {

// The elements that a package and a group of the metadata reply share.
struct MetadataHeader
{
  enum UpdateType
  {
    Optional = 0,
    Mandatory = 1
  };

  std::string id;
  std::string mapLineId;
  std::string release; // "yyyy.MM"
  std::string region;
  UpdateType updateType = Optional; // MANDATORY, else optional
  std::string name;                 // UTF-8; may be empty
};

} // namespace Tesk
