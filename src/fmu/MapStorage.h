#pragma once

#include "fmu/HeadUnitInfo.h"
#include "fmu/MapInfo.h"

#include <functional>
#include <mutex>
#include <unordered_map>

// The process-wide store of the maps that the last update check offered and
// of the head unit's subscription and map space. Every operation runs under
// one recursive lock; reads hand out copies, so nothing refers into the store.
// A change of some fields of a stored record is made with one call
// (ModifyMap, ModifyHeadUnit), never by reading a copy and writing it back,
// which would undo what was written meanwhile.
//
// Who writes what: the update manager's thread (FullMapUpdateManager and its
// update check, MetadataChecker) writes everything: the maps an update check
// offers and the head-unit record read from the stick (whole records), a
// map's state when a download or removal starts and ends, its downloaded
// bytes and the head unit's available map space as the download or removal
// goes on. The main thread (the state machine and the windows) and the USB
// thread only read.
class MapStorage
{
public:
  using Maps = std::unordered_map<MapInfo::Id, MapInfo>;

  static MapStorage& Get();

  MapStorage(const MapStorage&) = delete;
  MapStorage& operator=(const MapStorage&) = delete;

  HeadUnitInfo GetHeadUnit() const;
  void UpdateHeadUnit(HeadUnitInfo headUnit);
  // Changes the head-unit record in one step: `change` is called under the
  // store's lock with the record and must not call the store.
  void ModifyHeadUnit(const std::function<void(HeadUnitInfo&)>& change);

  // A copy of the map with that id, or a record that is not valid.
  MapInfo GetMap(const MapInfo::Id& id) const;
  Maps GetMaps() const;

  // Stores the record under its id, replacing a stored record whole.
  void UpdateMap(MapInfo map);
  // Changes the stored map `id` in one step: `change` is called under the
  // store's lock with the record (it must not call the store); the id stays
  // what it is, and the change is logged as UpdateMap logs it. Returns false,
  // calling nothing, when no map with that id is stored.
  bool ModifyMap(const MapInfo::Id& id, const std::function<void(MapInfo&)>& change);
  void RemoveMap(const MapInfo::Id& id);

  // Forgets every map and resets the head-unit record.
  void Clear();

private:
  MapStorage() = default;

  void DumpMap(const MapInfo& map) const;

  HeadUnitInfo storedHeadUnit;
  Maps maps;
  mutable std::recursive_mutex mutex;
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
