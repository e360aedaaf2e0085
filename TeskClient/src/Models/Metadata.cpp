#include "Models/Metadata.h"

#include "Models/ContentError.h"
#include "Models/XmlDocument.h"

#include <boost/algorithm/string/case_conv.hpp>

#include <fstream>
#include <iterator>

namespace Tesk {

namespace {

void ReadHeader(const XmlDocument& document, MetadataHeader& header)
{
  const auto& root = document.Root();
  header.id = document.Text(root, "tns:id");
  header.mapLineId = document.Text(root, "tns:mapLineId");
  header.release = document.Text(root, "tns:release");
  header.region = document.Text(root, "tns:region");
  header.updateType =
      boost::algorithm::to_upper_copy(document.OptionalText(root, "tns:updateType")) == "MANDATORY"
          ? MetadataHeader::Mandatory
          : MetadataHeader::Optional;
  header.name = document.OptionalText(root, "tns:name");
}

// The <tns:item> elements of <tns:items>, which may be absent.
template <typename Visit>
void ForEachItem(const XmlDocument& document, Visit visit)
{
  const XmlDocument::Tree* items = XmlDocument::Child(document.Root(), "tns:items");
  if (!items)
    return;
  for (const auto& item : *items)
    if (item.first == "tns:item")
      visit(item.second);
}

Package ReadPackage(const XmlDocument& document)
{
  Package package;
  ReadHeader(document, package);
  ForEachItem(document, [&](const XmlDocument::Tree& item) {
    for (const auto& product : item) {
      if (product.first != "tns:ndsProduct")
        continue;
      package.products.push_back({document.Text(product.second, "tns:productId"),
                                  document.OptionalText(product.second, "tns:version")});
    }
  });
  return package;
}

Group ReadGroup(const XmlDocument& document)
{
  Group group;
  ReadHeader(document, group);
  ForEachItem(document, [&](const XmlDocument::Tree& item) {
    for (auto& id : document.Texts(item, "tns:packageId"))
      group.packageIds.push_back(std::move(id));
  });
  return group;
}

} // namespace

Metadata ParseMetadata(const std::string& xml)
{
  const XmlDocument document(xml, "metadata");
  if (document.RootName() == "tns:package")
    return ReadPackage(document);
  if (document.RootName() == "tns:group")
    return ReadGroup(document);
  document.Fail("root element is <" + document.RootName() + ">, not <tns:package> or <tns:group>");
}

Metadata ReadMetadataFile(const boost::filesystem::path& file)
{
  std::ifstream in(file.string(), std::ios::binary);
  if (!in)
    throw ContentError("Failed to read metadata file: " + file.string());
  std::string xml;
  char buffer[64 * 1024];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
    xml.append(buffer, static_cast<std::size_t>(in.gcount()));
    if (xml.size() > XmlDocument::MaxSize)
      throw ContentError("Failed to read metadata file: " + file.string() + " is larger than " +
                         std::to_string(XmlDocument::MaxSize) + " bytes");
  }
  if (in.bad())
    throw ContentError("Failed to read metadata file: " + file.string());
  return ParseMetadata(xml);
}

const MetadataHeader& Header(const Metadata& metadata)
{
  return boost::apply_visitor([](const auto& alternative) -> const MetadataHeader& { return alternative; },
                              metadata);
}

} // namespace Tesk
