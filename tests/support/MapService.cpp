#include "MapService.h"

namespace TestSupport {

namespace {
const char* const Operations[] = {"allroots", "allnewest",    "allrelated",
                                  "metadata", "downloadinfo", "localedata"};
const char* const Open = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
} // namespace

MapService::MapService(TestService& service, const QString& base, const std::string& key)
    : service(service), base(base), key(key)
{
  for (const char* operation : Operations) {
    const QString name = QString::fromLatin1(operation);
    service.Handle(Path(name),
                   [this, name](const RecordedRequest& request) { return Respond(name, request); });
  }
}

std::string MapService::Url() const
{
  return service.Url(base).toStdString();
}

void MapService::AddMap(const ServedMap& map)
{
  maps[map.id] = map;
}

void MapService::AddRoot(const std::string& rootId, const std::vector<std::string>& newest)
{
  if (!roots.count(rootId))
    rootOrder.push_back(rootId);
  roots[rootId] = newest;
}

void MapService::SetRelated(const std::string& installedId, const std::vector<std::string>& ids)
{
  related[installedId] = ids;
}

void MapService::Override(const QString& operation, const std::string& id, const QList<Answer>& answers)
{
  overrides[{operation, id}] = Scripted{answers, 0};
}

QList<RecordedRequest> MapService::Requests(const QString& operation) const
{
  return service.RequestsTo(Path(operation));
}

Answer MapService::Respond(const QString& operation, const RecordedRequest& request)
{
  if (request.Query("key").toStdString() != key)
    return Answer::Status(401);
  const std::string id = request.Query("id").toStdString();

  const auto scripted = overrides.find({operation, id});
  if (scripted != overrides.end() && !scripted->second.answers.isEmpty()) {
    Scripted& script = scripted->second;
    const int index = std::min(script.served++, script.answers.size() - 1);
    return script.answers[index];
  }

  if (operation == "allroots")
    return Answer::Ok(PackageListXml(rootOrder));
  if (operation == "allnewest") {
    const auto found = roots.find(id);
    return found == roots.end() ? Answer::Status(404) : Answer::Ok(PackageListXml(found->second));
  }
  if (operation == "allrelated") {
    const auto found = related.find(id);
    return found == related.end() ? Answer::Status(404) : Answer::Ok(PackageListXml(found->second));
  }

  const auto found = maps.find(id);
  if (found == maps.end())
    return Answer::Status(404);
  const ServedMap& map = found->second;
  if (operation == "metadata")
    return Answer::Ok(MetadataXml(map));
  if (operation == "downloadinfo") {
    const std::string url =
        map.url.empty() ? service.Url("/archives/" + QString::fromStdString(map.id) + ".tar").toStdString()
                        : map.url;
    return Answer::Ok(DownloadInfoXml(url, map.checksum, map.size));
  }
  // localedata
  const std::string locale = request.Header("Accept-Language").toStdString();
  const auto name = map.names.find(locale);
  if (name == map.names.end())
    return Answer::Status(404);
  return Answer::Ok(LocaleDataXml(locale, name->second));
}

QByteArray MapService::PackageListXml(const std::vector<std::string>& ids)
{
  std::string xml = std::string(Open) + "<tns:packageList xmlns:tns=\"urn:tesk:v1\">\n";
  for (const auto& id : ids)
    xml += "  <tns:packageId>" + Escaped(id) + "</tns:packageId>\n";
  xml += "</tns:packageList>\n";
  return QByteArray::fromStdString(xml);
}

QByteArray MapService::MetadataXml(const ServedMap& map)
{
  const std::string root = map.group ? "tns:group" : "tns:package";
  std::string xml = std::string(Open) + "<" + root + " xmlns:tns=\"urn:tesk:v1\">\n";
  xml += "  <tns:id>" + Escaped(map.id) + "</tns:id>\n";
  xml += "  <tns:mapLineId>" + Escaped(map.mapLineId) + "</tns:mapLineId>\n";
  xml += "  <tns:release>" + Escaped(map.release) + "</tns:release>\n";
  xml += "  <tns:region>" + Escaped(map.region) + "</tns:region>\n";
  xml +=
      std::string("  <tns:updateType>") + (map.mandatory ? "MANDATORY" : "OPTIONAL") + "</tns:updateType>\n";
  xml += "  <tns:name>" + Escaped(map.name) + "</tns:name>\n";
  xml += "  <tns:items>\n    <tns:item>\n";
  if (map.group)
    xml += "      <tns:packageId>" + Escaped(map.id) + "_BASE</tns:packageId>\n";
  else
    xml += "      <tns:ndsProduct>\n        <tns:productId>" + Escaped(map.mapLineId) +
           "-BASE</tns:productId>\n        <tns:version>1.0.0</tns:version>\n      </tns:ndsProduct>\n";
  xml += "    </tns:item>\n  </tns:items>\n</" + root + ">\n";
  return QByteArray::fromStdString(xml);
}

QByteArray MapService::DownloadInfoXml(const std::string& url, const std::string& checksum, std::int64_t size)
{
  return QByteArray::fromStdString(
      std::string(Open) + "<tns:downloadInfo xmlns:tns=\"urn:tesk:v1\">\n  <tns:url>" + Escaped(url) +
      "</tns:url>\n  <tns:checksum>" + Escaped(checksum) + "</tns:checksum>\n  <tns:size>" +
      std::to_string(size) + "</tns:size>\n</tns:downloadInfo>\n");
}

QByteArray MapService::LocaleDataXml(const std::string& locale, const std::string& name)
{
  return QByteArray::fromStdString(
      std::string(Open) + "<tns:localeData xmlns:tns=\"urn:tesk:v1\">\n  <tns:locale>" + Escaped(locale) +
      "</tns:locale>\n  <tns:name>" + Escaped(name) + "</tns:name>\n</tns:localeData>\n");
}

std::string MapService::Escaped(const std::string& text)
{
  std::string escaped;
  for (const char c : text) {
    switch (c) {
    case '&':
      escaped += "&amp;";
      break;
    case '<':
      escaped += "&lt;";
      break;
    case '>':
      escaped += "&gt;";
      break;
    case '"':
      escaped += "&quot;";
      break;
    default:
      escaped += c;
    }
  }
  return escaped;
}

} // namespace TestSupport
