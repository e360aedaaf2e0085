#include "RoadFiles.h"

#include "Archives.h"
#include "MapStick.h"

#include <tuple>

namespace TestSupport {

QByteArray MakeMapArchive(ServedMap& map, int dataBytes)
{
  const auto archive = MakeArchive(map.id, dataBytes, MapService::MetadataXml(map));
  map.checksum = archive->md5;
  map.size = archive->bytes.size();
  return archive->bytes;
}

void WriteVehicleFiles(const QString& root, const ServedMap& installed, const std::string& subscriptionEnd)
{
  MapStick(root.toStdString()).WriteVehicleFiles(installed, subscriptionEnd);
}

RoadMaps::RoadMaps(TestService& service, const std::string& key) : maps(service, "/tesk/v1", key)
{
  QByteArray installedArchive;
  for (auto [map, id, release, archive] :
       {std::tuple{&installed, "EUR_2024_06", "2024.06", &installedArchive},
        std::tuple{&newer, "EUR_2025_06", "2025.06", &newerArchive}}) {
    map->id = id;
    map->mapLineId = map->region = "EUR";
    map->release = release;
    map->name = map->names["en-GB"] = "Europe " + map->release;
    *archive = MakeMapArchive(*map, 300000);
    service.Serve("/archives/" + QString::fromStdString(map->id) + ".tar",
                  Answer::Ok(*archive, "application/x-tar"));
    maps.AddMap(*map);
  }
  maps.AddRoot("EUR_ROOT", {newer.id});
  maps.SetRelated(installed.id, {installed.id, newer.id});
}

bool WriteRoadConfig(const QString& dataHome, const std::string& url, const std::string& key,
                     const std::string& logLevel)
{
  return WriteFile(dataHome + "/Arvel/Lumora/config.json",
                   QByteArray::fromStdString(R"({"Application": {"LogLevel": ")" + logLevel +
                                             R"("}, "FullMapUpdate": {"UpdateSource": ")" + url +
                                             R"(", "UpdateKey": ")" + key +
                                             R"("}, "MapDownload": {"RetryDuration": "1"}})"));
}

} // namespace TestSupport
