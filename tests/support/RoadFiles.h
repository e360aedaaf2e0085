#pragma once

// The service, files and configuration of a run on its road: the maps the
// service offers with real archives, the files the vehicle leaves on a
// stick, and a data folder whose config.json names the service.
//
//   TestSupport::RoadMaps road(service, "key");   // EUR_2024_06 and its update
//   TestSupport::WriteRoadConfig(dataHome, road.maps.Url(), "key");
//   road.WriteVehicleFiles(stickRoot);

#include "Files.h"
#include "MapService.h"

namespace TestSupport {

// The maps of the road on `service`: "EUR_2024_06", which the vehicle holds,
// and its update "EUR_2025_06", the root map. Each has a real archive as GNU
// tar writes it (see MakeArchive), served at "/archives/<id>.tar", with the
// map's metadata document ("<id>.meta.xml") and 300000 bytes of map data,
// among them "data/region.bin"; the map's checksum and size are the archive's.
struct RoadMaps
{
  RoadMaps(TestService& service, const std::string& key);

  // The files of a vehicle that holds "EUR_2024_06" below `root`, with a
  // subscription that runs to 2099 (see MapStick::WriteVehicleFiles).
  void WriteVehicleFiles(const QString& root) const;

  MapService maps;
  ServedMap installed;
  ServedMap newer;
  QByteArray newerArchive;
};

// <dataHome>/Arvel/Lumora/config.json naming the service at `url` with `key`,
// logging at `logLevel`, with a download retry window of one minute.
bool WriteRoadConfig(const QString& dataHome, const std::string& url, const std::string& key,
                     const std::string& logLevel = "Info");

} // namespace TestSupport
