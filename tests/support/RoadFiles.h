#pragma once

// The files of a run on its road: map archives as the service serves them and
// the files the vehicle leaves on a stick.
//
//   TestSupport::ServedMap map = ...;
//   const QByteArray archive = TestSupport::MakeMapArchive(map, 300000);
//   service.Serve("/archives/" + id + ".tar", Answer::Ok(archive, "application/x-tar"));
//   TestSupport::WriteVehicleFiles(stickRoot, installedMap, "2099-12-31");

#include "MapService.h"

#include <QByteArray>
#include <QString>

#include <string>

namespace TestSupport {

// A real map archive as GNU tar writes it: the map's metadata document named
// after the archive ("<id>.meta.xml") and `dataBytes` of map data in
// "data/region.bin". Sets the map's checksum and size to the archive's.
// Empty when tar failed.
QByteArray MakeMapArchive(ServedMap& map, int dataBytes);

// The vehicle's files below `root`: the head unit with the subscription's
// end ("" for none), the installed map's metadata, a navigation data file
// and the checksum file over all of them, as md5sum writes it.
void WriteVehicleFiles(const QString& root, const ServedMap& installed, const std::string& subscriptionEnd);

// Writes `content` to `path`, making its folders; false when it could not.
bool WriteFile(const QString& path, const QByteArray& content);

} // namespace TestSupport
