#pragma once

// A folder laid out as the vehicle leaves a stick: the update folder
// "OrvaneNDSUpdate" with its metadata folder "meta_data", the head-unit file
// "GENERAL.JSON", the installed map's metadata "<id>.xml", other files, and
// the checksum file "CHECKSUMS.MD5" over them as md5sum writes it.
//
//   TestSupport::MapStick stick;                 // a temporary folder of its own
//   stick.WriteHeadUnit("2027-03-31", 8589934592, 34359738368);
//   stick.WriteMetadata(installedMap);           // a TestSupport::ServedMap
//   stick.Add("NAVDATA/PART1.NDS", "...");       // listed in the checksum file
//   stick.WriteChecksums();

#include "MapService.h"

#include <QTemporaryDir>

namespace TestSupport {

class MapStick
{
public:
  // At `mountPath` (made when missing), or in a folder of its own.
  explicit MapStick(const std::string& mountPath = {});

  // The mount path.
  std::string Path() const { return mount; }
  std::string UpdateFolder() const { return Path() + "/OrvaneNDSUpdate"; }
  std::string MetadataFolder() const { return UpdateFolder() + "/meta_data"; }
  std::string ChecksumPath() const { return UpdateFolder() + "/CHECKSUMS.MD5"; }

  // Writes `content` to `relative` below the mount path, making its folders.
  void Write(const std::string& relative, const std::string& content) const;

  // A file below the update folder, listed in the checksum file.
  void Add(const std::string& path, const std::string& content);
  // A file below the update folder that the checksum file does not list.
  void AddUnlisted(const std::string& path, const std::string& content) const
  {
    Write("OrvaneNDSUpdate/" + path, content);
  }
  // A line of the checksum file as it is.
  void AddLine(const std::string& line) { lines.push_back(line); }
  // The checksum file with the lines so far, or with `text`.
  void WriteChecksums() const;
  void WriteChecksumText(const std::string& text) const { Write("OrvaneNDSUpdate/CHECKSUMS.MD5", text); }

  // GENERAL.JSON with the date as given ("" for none) and both sizes as numbers.
  void WriteHeadUnit(const std::string& subscriptionEnd, std::int64_t available, std::int64_t used) const;
  // <id>.xml with the map's metadata document.
  void WriteMetadata(const ServedMap& map) const;
  // Everything the vehicle writes: the head unit, the installed map's
  // metadata and a navigation data file, all listed, and the checksum file.
  void WriteVehicleFiles(const ServedMap& installed, const std::string& subscriptionEnd);

  static std::string Md5(const std::string& content);

private:
  QTemporaryDir dir;
  std::string mount;
  std::vector<std::string> lines;
};

} // namespace TestSupport
