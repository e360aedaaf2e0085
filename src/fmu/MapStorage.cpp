#include "fmu/MapStorage.h"

#include "Log.h"

#include <QString>

#include <utility>

MapStorage& MapStorage::Get()
{
  static MapStorage storage;
  return storage;
}

HeadUnitInfo MapStorage::GetHeadUnit() const
{
  std::lock_guard<std::recursive_mutex> lock(mutex);
  return storedHeadUnit;
}

void MapStorage::UpdateHeadUnit(HeadUnitInfo headUnit)
{
  std::lock_guard<std::recursive_mutex> lock(mutex);
  storedHeadUnit = std::move(headUnit);
}

void MapStorage::ModifyHeadUnit(const std::function<void(HeadUnitInfo&)>& change)
{
  std::lock_guard<std::recursive_mutex> lock(mutex);
  HeadUnitInfo headUnit = storedHeadUnit;
  change(headUnit);
  storedHeadUnit = std::move(headUnit);
}

MapInfo MapStorage::GetMap(const MapInfo::Id& id) const
{
  std::lock_guard<std::recursive_mutex> lock(mutex);
  const auto found = maps.find(id);
  return found == maps.end() ? MapInfo() : found->second;
}

MapStorage::Maps MapStorage::GetMaps() const
{
  std::lock_guard<std::recursive_mutex> lock(mutex);
  return maps;
}

void MapStorage::UpdateMap(MapInfo map)
{
  std::lock_guard<std::recursive_mutex> lock(mutex);
  auto found = maps.find(map.id);
  if (found != maps.end()) {
    LOG(Debug) << "Updating map: " << map.id;
    found->second = std::move(map);
  } else {
    LOG(Debug) << "Adding new map: " << map.id;
    MapInfo::Id key = map.id;
    found = maps.emplace(std::move(key), std::move(map)).first;
  }
  DumpMap(found->second);
}

bool MapStorage::ModifyMap(const MapInfo::Id& id, const std::function<void(MapInfo&)>& change)
{
  std::lock_guard<std::recursive_mutex> lock(mutex);
  const auto found = maps.find(id);
  if (found == maps.end())
    return false;
  MapInfo map = found->second;
  change(map);
  map.id = id;
  LOG(Debug) << "Updating map: " << id;
  found->second = std::move(map);
  DumpMap(found->second);
  return true;
}

void MapStorage::RemoveMap(const MapInfo::Id& id)
{
  LOG(Debug) << "Removing map: " << id;
  std::lock_guard<std::recursive_mutex> lock(mutex);
  maps.erase(id);
}

void MapStorage::Clear()
{
  LOG(Debug) << "Removing all maps";
  std::lock_guard<std::recursive_mutex> lock(mutex);
  storedHeadUnit = HeadUnitInfo();
  maps.clear();
}

void MapStorage::DumpMap(const MapInfo& map) const
{
  LOG(Debug) << "map.id=" << map.id;
  LOG(Debug) << "map.type=" << map.type;
  LOG(Debug) << "map.state=" << map.state;
  LOG(Debug) << "map.release=" << map.release;
  LOG(Debug) << "map.mapLineId=" << map.mapLineId;
  // The name goes to the log as UTF-8, whatever the process's locale.
  LOG(Debug) << "map.name=" << QString::fromStdWString(map.name);
  LOG(Debug) << "map.size=" << map.size;
  LOG(Debug) << "map.downloaded=" << map.downloaded;
  LOG(Debug) << "map.url=" << map.url;
  LOG(Debug) << "map.root=" << (map.root ? "true" : "false");
}

namespace {

template <typename Matches>
MapInfo FirstMap(Matches matches)
{
  for (const auto& entry : MapStorage::Get().GetMaps())
    if (matches(entry.second))
      return entry.second;
  return MapInfo();
}

MapInfo NewestMap(MapInfo::Type type)
{
  MapInfo choice;
  for (const auto& entry : MapStorage::Get().GetMaps()) {
    const MapInfo& map = entry.second;
    if (map.type == type && (!choice.Valid() || choice < map))
      choice = map;
  }
  return choice;
}

} // namespace

MapInfo InstalledMap()
{
  return FirstMap([](const MapInfo& map) { return map.type == MapInfo::Installed; });
}

MapInfo OptionalMap()
{
  return NewestMap(MapInfo::Optional);
}

MapInfo MandatoryMap()
{
  return NewestMap(MapInfo::Mandatory);
}

MapInfo DownloadingMap()
{
  return FirstMap([](const MapInfo& map) { return map.state == MapInfo::Downloading; });
}

MapInfo DeletingMap()
{
  return FirstMap([](const MapInfo& map) { return map.state == MapInfo::Deleting; });
}

MapInfo PendingMap()
{
  return FirstMap([](const MapInfo& map) { return map.state == MapInfo::Pending; });
}

MapStorage::Maps RootMaps()
{
  MapStorage::Maps roots;
  for (auto& entry : MapStorage::Get().GetMaps())
    if (entry.second.root)
      roots.insert(std::move(entry));
  return roots;
}
