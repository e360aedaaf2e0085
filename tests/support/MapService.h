#pragma once

// The map-update service for tests, on top of a TestService: it answers
// allroots, allnewest, allrelated, metadata, downloadinfo and localedata with
// the XML documents of the service's protocol, from a set of maps the test
// describes.
//
//   TestSupport::TestService service;
//   TestSupport::MapService maps(service);
//   maps.AddMap({"EUR_2024_06", "EUR", "2024.06", "EUR"});
//   maps.AddRoot("EUR_ROOT", {"EUR_2024_06"});
//   ... point the client at maps.Url() with maps.Key() ...
//
// A wrong key is answered 401, an unknown id 404. Override replaces the answer
// for one operation and id (a fault, a malformed document, a held reply).

#include "TestService.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace TestSupport {

// One map as the service describes it.
struct ServedMap
{
  std::string id;
  std::string mapLineId;
  std::string release; // "yyyy.MM"
  std::string region;
  bool mandatory = false;
  std::string name;                         // the metadata's name, UTF-8
  std::map<std::string, std::string> names; // localized names by locale ("de-DE"), UTF-8
  std::string url;                          // empty: an address below the service made from the id
  std::string checksum = "9e107d9d372bb6826bd81d3542a419d6";
  std::int64_t size = 1024;
  bool group = false; // described as a group of packages instead of a package
};

// A map of `region` (also its map line) in `release` ("yyyy.MM"), with a
// name for German ("de-DE"), English ("en <id>") and French ("fr <id>"), a
// checksum partly in capitals and a size beyond 32 bits.
ServedMap MakeServedMap(const std::string& id, const std::string& release, const std::string& region,
                        const std::string& german, bool mandatory = false);

class MapService
{
public:
  explicit MapService(TestService& service, const QString& base = "/tesk/v1",
                      const std::string& key = "test-key");

  // The base URL and key that a client needs.
  std::string Url() const;
  const std::string& Key() const { return key; }

  void AddMap(const ServedMap& map);
  void AddRoot(const std::string& rootId, const std::vector<std::string>& newest);
  void SetRelated(const std::string& installedId, const std::vector<std::string>& related);

  // Answers the operation ("allroots", "metadata", ...) for `id` (empty for
  // allroots) with `answers` in turn, the last one repeating.
  void Override(const QString& operation, const std::string& id, const QList<Answer>& answers);

  // Requests that reached one operation, in arrival order.
  QList<RecordedRequest> Requests(const QString& operation) const;

  // The documents the service sends, for tests that write them elsewhere.
  static QByteArray PackageListXml(const std::vector<std::string>& ids);
  static QByteArray MetadataXml(const ServedMap& map);
  static QByteArray DownloadInfoXml(const std::string& url, const std::string& checksum, std::int64_t size);
  static QByteArray LocaleDataXml(const std::string& locale, const std::string& name);

private:
  Answer Respond(const QString& operation, const RecordedRequest& request);
  QString Path(const QString& operation) const { return base + "/package/" + operation; }

  TestService& service;
  QString base;
  std::string key;
  std::map<std::string, ServedMap> maps;
  std::map<std::string, std::vector<std::string>> roots; // ordered by root id
  std::vector<std::string> rootOrder;
  std::map<std::string, std::vector<std::string>> related;
  struct Scripted
  {
    QList<Answer> answers;
    int served = 0;
  };
  std::map<std::pair<QString, std::string>, Scripted> overrides;
};

} // namespace TestSupport
