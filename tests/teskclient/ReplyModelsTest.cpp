#include "Models/ContentError.h"
#include "Models/DownloadInfo.h"
#include "Models/LocaleContentData.h"
#include "Models/LocaleData.h"
#include "Models/Metadata.h"
#include "Models/PackageList.h"
#include "Models/XmlDocument.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QTemporaryDir>

#include <fstream>
#include <functional>

using namespace Tesk;

namespace {

std::string Wrap(const std::string& root, const std::string& body)
{
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<tns:" + root + " xmlns:tns=\"urn:tesk:v1\">" + body +
         "</tns:" + root + ">";
}

std::string Repeat(const char* text, int times)
{
  return QByteArray(text).repeated(times).toStdString();
}

std::string PackageXml(const std::string& extra = "", const std::string& omit = "")
{
  std::string body;
  for (const auto& [name, value] : std::vector<std::pair<std::string, std::string>>{
           {"id", "EUR_2024_06"}, {"mapLineId", "EUR"}, {"release", "2024.06"}, {"region", "EUR"}})
    if (name != omit)
      body += "<tns:" + name + ">" + value + "</tns:" + name + ">";
  return Wrap("package", body + extra);
}

std::string DownloadXml(const std::string& size,
                        const std::string& checksum = "9e107d9d372bb6826bd81d3542a419d6")
{
  return Wrap("downloadInfo",
              "<tns:url>https://maps.example/archives/EUR_2024_06.tar</tns:url><tns:checksum>" + checksum +
                  "</tns:checksum><tns:size>" + size + "</tns:size>");
}

} // namespace

TEST(ReplyModels, ReadWhatTheServiceSends)
{
  const auto list = PackageList::Parse(
      Wrap("packageList",
           "<!-- roots --><tns:packageId> EUR_ROOT\n</tns:packageId><tns:note lang=\"x\">ignored</tns:note>"
           "<tns:packageId>NAM_ROOT</tns:packageId>"));
  EXPECT_EQ(list.packageIds, (std::vector<std::string>{"EUR_ROOT", "NAM_ROOT"}));
  EXPECT_TRUE(PackageList::Parse("<tns:packageList/>").packageIds.empty());

  const Metadata metadata = ParseMetadata(PackageXml(
      "<tns:updateType> mandatory </tns:updateType><tns:name>Europe &amp; \xc3\x96sterreich</tns:name>"
      "<tns:items><tns:item><tns:ndsProduct><tns:productId>EUR-BASE</tns:productId><tns:version>"
      "24.6.0</tns:version></tns:ndsProduct></tns:item><tns:item><tns:ndsProduct><tns:productId>"
      "EUR-POI</tns:productId></tns:ndsProduct></tns:item></tns:items>"));
  const Package* package = boost::get<Package>(&metadata);
  ASSERT_NE(package, nullptr);
  EXPECT_EQ(package->id + package->mapLineId + package->release + package->region,
            "EUR_2024_06EUR2024.06EUR");
  EXPECT_EQ(package->updateType, MetadataHeader::Mandatory);
  EXPECT_EQ(package->name, "Europe & \xc3\x96sterreich");
  ASSERT_EQ(package->products.size(), 2u);
  EXPECT_EQ(package->products[0].productId + " " + package->products[0].version, "EUR-BASE 24.6.0");
  EXPECT_EQ(package->products[1].productId, "EUR-POI");
  for (const std::string type : {"OPTIONAL", "", "SOMETIMES"})
    EXPECT_EQ(Header(ParseMetadata(PackageXml("<tns:updateType>" + type + "</tns:updateType>"))).updateType,
              MetadataHeader::Optional)
        << type;

  const Metadata group = ParseMetadata(Wrap(
      "group", "<tns:id>EUR_SET</tns:id><tns:mapLineId>EUR</tns:mapLineId><tns:release>2024.06</tns:release>"
               "<tns:region>EUR</tns:region><tns:items><tns:item><tns:packageId>EUR_2024_06</tns:packageId>"
               "</tns:item><tns:item><tns:packageId>EUR_2024_06_POI</tns:packageId></tns:item></tns:items>"));
  EXPECT_EQ(Header(group).id, "EUR_SET");
  EXPECT_EQ(Header(group).updateType, MetadataHeader::Optional);
  EXPECT_EQ(boost::get<Group>(group).packageIds,
            (std::vector<std::string>{"EUR_2024_06", "EUR_2024_06_POI"}));

  const auto info = DownloadInfo::Parse(DownloadXml("7340032000", "9E107D9D372BB6826BD81D3542A419D6"));
  EXPECT_EQ(info.url, "https://maps.example/archives/EUR_2024_06.tar");
  EXPECT_EQ(info.checksum, "9e107d9d372bb6826bd81d3542a419d6");
  EXPECT_EQ(info.size, 7340032000LL);
  EXPECT_EQ(DownloadInfo::Parse(DownloadXml("9223372036854775807")).size, 9223372036854775807LL);
  EXPECT_EQ(DownloadInfo::Parse(DownloadXml(" 0 ")).size, 0);

  const auto name = LocaleData::Parse(
      Wrap("localeData", "<tns:locale>de-DE</tns:locale><tns:name>Europa &#x00D6;st</tns:name>"));
  EXPECT_EQ(name.locale + " " + name.name, "de-DE Europa \xc3\x96st");
  const auto text = LocaleContentData::Parse(
      Wrap("localeContentData", "<tns:locale>fr-FR</tns:locale><tns:content>Deux  espaces</tns:content>"));
  EXPECT_EQ(text.locale + " " + text.content, "fr-FR Deux  espaces");

  // Markup inside comments, CDATA and attribute values does not count as
  // nesting; text around a child element belongs to its parent.
  EXPECT_EQ(PackageList::Parse("<tns:packageList note=\"a > b\"><!-- " + Repeat("<x>", 100) +
                               " --><tns:packageId><![CDATA[<y><y><y>]]>A<?pi x?></tns:packageId>"
                               "</tns:packageList>")
                .packageIds,
            std::vector<std::string>{"<y><y><y>A"});
  EXPECT_EQ(LocaleData::Parse(Wrap("localeData", "<tns:name>Eu<tns:b>x</tns:b>ropa</tns:name>")).name,
            "Europa");
  // A document in another declared encoding arrives as UTF-8.
  EXPECT_EQ(LocaleData::Parse("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><tns:localeData><tns:name>"
                              "\xd6sterreich</tns:name></tns:localeData>")
                .name,
            "\xc3\x96sterreich");
}

namespace {

// The message of the ContentError that parse throws.
std::string ContentErrorOf(const std::function<void()>& parse)
{
  try {
    parse();
    ADD_FAILURE() << "no error";
  } catch (const ContentError& error) {
    return error.what();
  } catch (const std::exception& error) {
    ADD_FAILURE() << "not a ContentError: " << error.what();
  }
  return {};
}

} // namespace

#define EXPECT_CONTENT_ERROR(expression, text)                                                               \
  do {                                                                                                       \
    const std::string message = ContentErrorOf([&] { (void)(expression); });                                 \
    EXPECT_NE(message.find(text), std::string::npos) << message;                                             \
  } while (false)

TEST(ReplyModels, EveryUnusableDocumentIsAContentErrorThatSaysWhy)
{
  EXPECT_CONTENT_ERROR(PackageList::Parse(""), "no root element");
  EXPECT_CONTENT_ERROR(PackageList::Parse("<tns:packageList>"), "not well-formed");
  EXPECT_CONTENT_ERROR(PackageList::Parse(Wrap("package", "")), "not <tns:packageList>");
  EXPECT_CONTENT_ERROR(PackageList::Parse("<packageList><packageId>A</packageId></packageList>"),
                       "not <tns:packageList>");
  EXPECT_CONTENT_ERROR(PackageList::Parse(Wrap("packageList", "<tns:packageId> </tns:packageId>")),
                       "<tns:packageId> is empty");
  EXPECT_CONTENT_ERROR(PackageList::Parse(Repeat("<a>", 200000)),
                       "nested deeper"); // would exhaust the parser's stack
  EXPECT_CONTENT_ERROR(PackageList::Parse("<tns:packageList>" + Repeat("<x>", XmlDocument::MaxDepth)),
                       "nested deeper");
  EXPECT_CONTENT_ERROR(PackageList::Parse(Wrap("packageList", std::string(XmlDocument::MaxSize, ' '))),
                       "larger than");

  // Documents that are not XML, each refused as a whole before any of it is
  // used. The first ones would otherwise read as complete records.
  const std::string items = "<tns:items><tns:item><tns:packageId>P</tns:packageId></tns:item>";
  const std::pair<std::string, std::string> malformed[] = {
      {PackageXml(items + "</tns:itemz>"), "tag mismatch"},
      {Wrap("packageList", "<tns:packageId>A</tns:packageId></tns:extra>"), "tag mismatch"},
      {Wrap("packageList", "<tns:packageId a=\"1\" a=\"2\">A</tns:packageId>"), "not well-formed"},
      {Wrap("packageList", "<tns:packageId>A &nbsp; B</tns:packageId>"), "not well-formed"},
      {Wrap("packageList", "<tns:packageId>A < B</tns:packageId>"), "not well-formed"},
      {Wrap("packageList", "<tns:packageId>A\x01</tns:packageId>"), "not well-formed"},
      {Wrap("packageList", "<tns:packageId>A\xff</tns:packageId>"), "not well-formed"},
      {std::string("<tns:packageList>\0</tns:packageList>", 36), "not well-formed"},
      {Wrap("packageList", "") + "trailing text", "Extra content"},
      // Entities are never expanded: a few bytes of declaration could make the text arbitrarily large.
      {"<!DOCTYPE x [<!ENTITY a "
       "\"aaaa\">]><tns:packageList><tns:packageId>&a;</tns:packageId></tns:packageList>",
       "document type declaration"},
      // Markup that only looks like a string to a reader of declarations must
      // not be taken for elements either.
      {"<!DOCTYPE x [<!ENTITY f \"><!--\"> <!ENTITY e \"]\"> <!ENTITY g \"" + Repeat("<a>", 300000) +
           "-->\"> ]><tns:packageList/>",
       "document type declaration"},
  };
  for (const auto& [document, why] : malformed) {
    SCOPED_TRACE(document.substr(0, 200));
    EXPECT_CONTENT_ERROR(PackageList::Parse(document), why);
    EXPECT_CONTENT_ERROR(ParseMetadata(document), why);
  }

  for (const std::string name : {"id", "mapLineId", "release", "region"})
    EXPECT_CONTENT_ERROR(ParseMetadata(PackageXml("", name)), "<tns:" + name + "> is missing");
  EXPECT_CONTENT_ERROR(ParseMetadata(Wrap("package", "<tns:id>  </tns:id>")), "<tns:id> is empty");
  EXPECT_CONTENT_ERROR(ParseMetadata(Wrap("downloadInfo", "")), "not <tns:package> or <tns:group>");
  EXPECT_CONTENT_ERROR(
      ParseMetadata(PackageXml("<tns:items><tns:item><tns:ndsProduct/></tns:item></tns:items>")),
      "<tns:productId> is missing");

  QTemporaryDir dir;
  const boost::filesystem::path folder(dir.path().toStdString());
  const auto file = [&](const std::string& name, const std::string& content) {
    std::ofstream(folder.string() + "/" + name, std::ios::binary) << content;
    return folder / name;
  };
  EXPECT_EQ(Header(ReadMetadataFile(file("good.xml", PackageXml()))).id, "EUR_2024_06");
  EXPECT_CONTENT_ERROR(ReadMetadataFile(folder / "missing.xml"), "Failed to read metadata file");
  EXPECT_CONTENT_ERROR(ReadMetadataFile(file("huge.xml", std::string(XmlDocument::MaxSize + 1, ' '))),
                       "larger than");

  for (const std::string size : {"", "-1", "+5", "12.5", "1e9", "0x10", "12 34", "\xef\xbc\x91"})
    EXPECT_CONTENT_ERROR(DownloadInfo::Parse(DownloadXml(size)), "<tns:size>");
  for (const std::string& size : std::vector<std::string>{"9223372036854775808", "18446744073709551616"})
    EXPECT_CONTENT_ERROR(DownloadInfo::Parse(DownloadXml(size)), "<tns:size> overflows");
  EXPECT_CONTENT_ERROR(DownloadInfo::Parse(DownloadXml("1", "9e107d9d")), "not an MD5");
  EXPECT_CONTENT_ERROR(DownloadInfo::Parse(DownloadXml("1", "9e107d9d372bb6826bd81d3542a419zz")),
                       "not an MD5");
  EXPECT_CONTENT_ERROR(
      DownloadInfo::Parse(Wrap("downloadInfo", "<tns:url>u</tns:url><tns:size>1</tns:size>")),
      "<tns:checksum> is missing");

  EXPECT_CONTENT_ERROR(LocaleData::Parse(Wrap("localeContentData", "<tns:name>x</tns:name>")),
                       "not <tns:localeData>");
  EXPECT_CONTENT_ERROR(LocaleContentData::Parse(Wrap("localeContentData", "")), "<tns:content> is missing");
}
