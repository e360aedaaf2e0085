#pragma once

// A temporary folder laid out as the vehicle leaves a stick: the update folder
// "OrvaneNDSUpdate" with its metadata folder "meta_data", the head-unit file
// "GENERAL.JSON" and the installed map's metadata "<id>.xml".
//
//   TestSupport::MapStick stick;
//   stick.WriteHeadUnit("2027-03-31", 8589934592, 34359738368);
//   stick.WriteMetadata(installedMap);   // a TestSupport::ServedMap

#include "MapService.h"

#include <QTemporaryDir>

#include <cstdint>
#include <string>

namespace TestSupport {

class MapStick
{
public:
  MapStick();

  // The mount path.
  std::string Path() const;
  std::string UpdateFolder() const { return Path() + "/OrvaneNDSUpdate"; }
  std::string MetadataFolder() const { return UpdateFolder() + "/meta_data"; }

  // Writes `content` to `relative` below the mount path, making its folders.
  void Write(const std::string& relative, const std::string& content);

  // GENERAL.JSON with the date as given ("" for none) and both sizes as numbers.
  void WriteHeadUnit(const std::string& subscriptionEnd, std::int64_t available, std::int64_t used);
  // <id>.xml with the map's metadata document.
  void WriteMetadata(const ServedMap& map);

  // Removes the whole folder, as if the stick had been pulled.
  void Remove();

private:
  QTemporaryDir dir;
};

} // namespace TestSupport
