#pragma once

// The service, files and configuration of a run on its road: map archives as
// the service serves them, the files the vehicle leaves on a stick, and a
// data folder whose config.json names the service.
//
//   TestSupport::RoadMaps road(service, "key");   // EUR_2024_06 and its update
//   TestSupport::WriteRoadConfig(dataHome, road.maps.Url(), "key");
//   TestSupport::WriteVehicleFiles(stickRoot, road.installed, "2099-12-31");

#include "Files.h"
#include "MapService.h"

#include <QByteArray>
#include <QString>

#include <string>

namespace TestSupport {

// A real map archive as GNU tar writes it (see MakeArchive) with the map's
// metadata document named after the archive ("<id>.meta.xml") and
// `dataBytes` of map data, among them "data/region.bin". Sets the map's
// checksum and size to the archive's.
QByteArray MakeMapArchive(ServedMap& map, int dataBytes);

// The vehicle's files below `root` (see MapStick::WriteVehicleFiles).
void WriteVehicleFiles(const QString& root, const ServedMap& installed, const std::string& subscriptionEnd);

// The maps of the road on `service`: "EUR_2024_06", which the vehicle holds,
// and its update "EUR_2025_06", the root map; each with a real archive of
// 300000 data bytes served at "/archives/<id>.tar".
struct RoadMaps
{
  RoadMaps(TestService& service, const std::string& key);

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
