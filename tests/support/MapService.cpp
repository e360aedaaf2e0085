#include "MapService.h"

namespace TestSupport {

ServedMap MakeServedMap(const std::string& id, const std::string& release, const std::string& region,
                        const std::string& german, bool mandatory)
{
  ServedMap map;
  map.id = id;
  map.mapLineId = map.region = region;
  map.release = release;
  map.mandatory = mandatory;
  map.name = "metadata name of " + id;
  map.names = {{"de-DE", german}, {"en-GB", "en " + id}, {"fr-FR", "fr " + id}};
  map.checksum = "0123456789abcdef0123456789ABCDEF"; // a client keeps it in small letters
  map.size = 7340032000LL;                           // beyond 32 bits
  return map;
}

MapService::MapService(TestService& service, const QString& base, const std::string& key)
    : service(service), base(base), key(key)
{
  for (const char* operation :
       {"allroots", "allnewest", "allrelated", "metadata", "downloadinfo", "localedata"}) {
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
  if (operation == "allnewest" || operation == "allrelated") {
    const auto& lists = operation == "allnewest" ? roots : related;
    const auto found = lists.find(id);
    return found == lists.end() ? Answer::Status(404) : Answer::Ok(PackageListXml(found->second));
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

namespace {

// One element of the service's namespace holding the text, escaped.
std::string Element(const std::string& name, const std::string& text)
{
  return "<tns:" + name + ">" + QString::fromStdString(text).toHtmlEscaped().toStdString() + "</tns:" + name +
         ">\n";
}

QByteArray Document(const std::string& root, const std::string& content)
{
  return QByteArray::fromStdString("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<" + root +
                                   " xmlns:tns=\"urn:tesk:v1\">\n" + content + "</" + root + ">\n");
}

} // namespace

QByteArray MapService::PackageListXml(const std::vector<std::string>& ids)
{
  std::string list;
  for (const auto& id : ids)
    list += Element("packageId", id);
  return Document("tns:packageList", list);
}

QByteArray MapService::MetadataXml(const ServedMap& map)
{
  const std::string item = map.group ? Element("packageId", map.id + "_BASE")
                                     : "<tns:ndsProduct>" + Element("productId", map.mapLineId + "-BASE") +
                                           Element("version", "1.0.0") + "</tns:ndsProduct>\n";
  return Document(
      map.group ? "tns:group" : "tns:package",
      Element("id", map.id) + Element("mapLineId", map.mapLineId) + Element("release", map.release) +
          Element("region", map.region) + Element("updateType", map.mandatory ? "MANDATORY" : "OPTIONAL") +
          Element("name", map.name) + "<tns:items><tns:item>\n" + item + "</tns:item></tns:items>\n");
}

QByteArray MapService::DownloadInfoXml(const std::string& url, const std::string& checksum, std::int64_t size)
{
  return Document("tns:downloadInfo", Element("url", url) + Element("checksum", checksum) +
                                          Element("size", std::to_string(size)));
}

QByteArray MapService::LocaleDataXml(const std::string& locale, const std::string& name)
{
  return Document("tns:localeData", Element("locale", locale) + Element("name", name));
}

} // namespace TestSupport
