#pragma once

#include "Models/Group.h"
#include "Models/Package.h"

#include <boost/filesystem/path.hpp>
#include <boost/variant.hpp>

#include <string>

namespace Tesk {

// The metadata of one map: a package or a group. The service's metadata reply,
// the installed map's metadata file on the stick and the metadata file inside
// a map archive all hold this document.
using Metadata = boost::variant<Package, Group>;

// Reads a <tns:package> or <tns:group> document; throws ContentError when it is
// not well-formed or lacks id, mapLineId, release or region.
Metadata ParseMetadata(const std::string& xml);

// Reads a metadata file of at most XmlDocument::MaxSize bytes; throws
// ContentError when it cannot be read or parsed.
Metadata ReadMetadataFile(const boost::filesystem::path& file);

// The header of either alternative.
const MetadataHeader& Header(const Metadata& metadata);

} // namespace Tesk
