#include "RoadFiles.h"

#include "Archives.h"
#include "MapStick.h"

#include <tuple>

namespace TestSupport {

RoadMaps::RoadMaps(TestService& service, const std::string& key) : maps(service, "/tesk/v1", key)
{
  for (auto [map, id, release] :
       {std::tuple{&installed, "EUR_2024_06", "2024.06"}, std::tuple{&newer, "EUR_2025_06", "2025.06"}}) {
    map->id = id;
    map->mapLineId = map->region = "EUR";
    map->release = release;
    map->name = map->names["en-GB"] = "Europe " + map->release;
    const auto archive = MakeArchive(map->id, 300000, MapService::MetadataXml(*map));
    map->checksum = archive->md5;
    map->size = archive->bytes.size();
    service.Serve("/archives/" + QString::fromStdString(map->id) + ".tar",
                  Answer::Ok(archive->bytes, "application/x-tar"));
    maps.AddMap(*map);
    newerArchive = archive->bytes; // the newer map comes last
  }
  maps.AddRoot("EUR_ROOT", {newer.id});
  maps.SetRelated(installed.id, {installed.id, newer.id});
}

void RoadMaps::WriteVehicleFiles(const QString& root) const
{
  MapStick(root.toStdString()).WriteVehicleFiles(installed, "2099-12-31");
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
