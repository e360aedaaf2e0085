#pragma once

// The files of a run on its road: map archives as the service serves them and
// the files the vehicle leaves on a stick.
//
//   TestSupport::ServedMap map = ...;
//   const QByteArray archive = TestSupport::MakeMapArchive(map, 300000);
//   service.Serve("/archives/" + id + ".tar", Answer::Ok(archive, "application/x-tar"));
//   TestSupport::WriteVehicleFiles(stickRoot, installedMap, "2099-12-31");

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

} // namespace TestSupport
