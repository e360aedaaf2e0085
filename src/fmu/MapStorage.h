#pragma once

#include "fmu/HeadUnitInfo.h"
#include "fmu/MapInfo.h"

#include <mutex>
#include <unordered_map>

// The process-wide store of the maps that the last update check offered and
// of the head unit's subscription and map space. Every operation runs under
// one recursive lock; reads hand out copies, so nothing refers into the store.
class MapStorage
{
public:
  using Maps = std::unordered_map<MapInfo::Id, MapInfo>;

  static MapStorage& Get();

  MapStorage(const MapStorage&) = delete;
  MapStorage& operator=(const MapStorage&) = delete;

  HeadUnitInfo GetHeadUnit() const;
  void UpdateHeadUnit(HeadUnitInfo headUnit);

  // A copy of the map with that id, or a record that is not valid.
  MapInfo GetMap(const MapInfo::Id& id) const;
  Maps GetMaps() const;

  // Stores the record under its id, replacing a stored record whole.
  void UpdateMap(MapInfo map);
  void RemoveMap(const MapInfo::Id& id);

  // Forgets every map and resets the head-unit record.
  void Clear();

private:
  MapStorage() = default;

  void DumpMap(const MapInfo& map) const;

  HeadUnitInfo headUnit_;
  Maps maps_;
  mutable std::recursive_mutex mutex_;
};

// Selectors over a snapshot of the store. Each answers with a copy, or with a
// record that is not valid (an empty table for RootMaps) when nothing matches.
MapInfo InstalledMap();
MapInfo OptionalMap();  // the newest optional map by release month
MapInfo MandatoryMap(); // the newest mandatory map by release month
MapInfo DownloadingMap();
MapInfo DeletingMap();
MapInfo PendingMap();
MapStorage::Maps RootMaps();
