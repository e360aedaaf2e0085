#pragma once

#include <QDate>
#include <QMetaType>

#include <cstdint>
#include <iosfwd>
#include <string>

// One map package that the vehicle has or may receive. A plain value: copies
// own all their strings.
struct MapInfo
{
  // The service's package id of a map; the key of the map store.
  using Id = std::string;

  // The map's kind relative to the map installed in the vehicle.
  enum Type : std::int32_t
  {
    Installed = 0,
    Optional = 1,
    Mandatory = 2
  };

  // Where the map stands; Unknown marks a record that stands for no map.
  enum State : std::int32_t
  {
    Unknown = 0,
    Available = 1,
    Deleting = 2,
    Downloading = 3,
    Pending = 4
  };

  Type type = Optional;
  State state = Unknown;
  Id id;
  std::wstring name; // display name in the user's language, one code point per character
  std::string mapLineId;
  std::string release; // release month, "yyyy.MM"
  std::string region;
  std::string checksum; // MD5 of the map archive, hexadecimal
  std::string url;      // address of the map archive
  std::int64_t downloaded = 0;
  std::int64_t size = 0;
  bool root = false; // offered by the root check

  bool Valid() const { return state != Unknown; }
  void Clear() { *this = MapInfo(); }

  // The first day of the release month, or an invalid date when `release` is
  // not exactly a four-digit year, a dot and a two-digit month.
  QDate ReleaseMonth() const;

  // Registers "MapInfo::Id" and "MapInfo" for queued signals and invocations.
  static void RegisterMetaTypes();
};

// Write the value's name ("Installed", "Available", ...); a value outside the
// enumeration writes nothing.
std::ostream& operator<<(std::ostream& os, MapInfo::Type type);
std::ostream& operator<<(std::ostream& os, MapInfo::State state);

// Records are ordered by release month alone. A release that is not a valid
// "yyyy.MM" month is earlier than every valid one and equal to every other
// invalid one.
bool operator==(const MapInfo& a, const MapInfo& b);
bool operator!=(const MapInfo& a, const MapInfo& b);
bool operator<(const MapInfo& a, const MapInfo& b);
bool operator<=(const MapInfo& a, const MapInfo& b);
bool operator>(const MapInfo& a, const MapInfo& b);
bool operator>=(const MapInfo& a, const MapInfo& b);

// MapInfo::Id is std::string; other libraries may declare it too.
#ifndef LUMORA_STD_STRING_METATYPE_DECLARED
#define LUMORA_STD_STRING_METATYPE_DECLARED
Q_DECLARE_METATYPE(std::string)
#endif
Q_DECLARE_METATYPE(MapInfo)
