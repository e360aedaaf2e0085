#include "fmu/FullMapUpdateManager.h"

#include "Log.h"
#include "cfg/Config.h"
#include "fmu/MapStorage.h"
#include "usb/UsbStorage.h"

#include <boost/filesystem/operations.hpp>
#include <boost/filesystem/path.hpp>

#include <algorithm>
#include <stdexcept>

namespace {

// A map other than `mapId` whose download runs, whose removal is unfinished or
// which waits on the stick for the vehicle: a new download would empty the
// folder it lives in.
MapInfo OtherBusyMap(const MapInfo::Id& mapId)
{
  for (const auto& entry : MapStorage::Get().GetMaps()) {
    const MapInfo& map = entry.second;
    if (map.id != mapId && (map.state == MapInfo::Downloading || map.state == MapInfo::Deleting ||
                            map.state == MapInfo::Pending))
      return map;
  }
  return MapInfo();
}

} // namespace

FullMapUpdateManager::FullMapUpdateManager(QObject* parent)
    : FullMapUpdateManager(MetadataChecker::Setup::FromConfig(), parent)
{
}

FullMapUpdateManager::FullMapUpdateManager(MetadataChecker::Setup setup, QObject* parent)
    : QObject(parent), checker(std::move(setup)),
      downloader(
          [this](long long bytes) {
            try {
              OnOperationProgress(bytes);
            } catch (const std::exception& e) {
              LOG(Error) << "Failed to apply map operation progress: " << e.what();
            }
          },
          [this](MapDownloader::Result result) { OnOperationResult(result); })
{
  RegisterMetaTypes();
}

FullMapUpdateManager::~FullMapUpdateManager() = default;

void FullMapUpdateManager::RegisterMetaTypes()
{
  UsbInfo::RegisterMetaTypes();
  MapInfo::RegisterMetaTypes();
  qRegisterMetaType<MetadataChecker::Result>("MetadataChecker::Result");
  qRegisterMetaType<MapDownloader::Result>("MapDownloader::Result");
}

void FullMapUpdateManager::CheckMapUpdates()
{
  bool root = true;
  const auto fail = [this, &root](const char* what) {
    LOG(Error) << "Failed to check full map updates: " << what;
    if (root)
      emit RootUpdatesChecked(MetadataChecker::ServerError);
    else
      emit RelatedUpdatesChecked(MetadataChecker::ServerError);
  };
  try {
    const UsbInfo usb = UsbStorage::Get().GetActiveUsb();
    // A stick pulled before the discovery noticed (it looks once a second) is
    // no stick: a related check would report its removal, the machine would
    // check again at once, and so on, many times until the discovery's report
    // arrives.
    boost::system::error_code error;
    root = usb.path.empty() || usb.state == UsbInfo::NoMetadata ||
           !boost::filesystem::is_directory(usb.path, error);
    if (root) {
      LOG(Info) << "Checking root full map updates";
      checker.CheckRootUpdates([this](MetadataChecker::Result result) { emit RootUpdatesChecked(result); });
    } else {
      LOG(Info) << "Checking related full map updates";
      checker.CheckRelatedUpdates(
          usb, [this](MetadataChecker::Result result) { emit RelatedUpdatesChecked(result); });
    }
  } catch (const std::exception& e) {
    fail(e.what());
  } catch (...) {
    fail("unknown error");
  }
}

void FullMapUpdateManager::AbortCheck()
{
  try {
    LOG(Info) << "Aborting full map updates check";
    checker.Abort();
    downloader.Abort();
  } catch (const std::exception& e) {
    LOG(Error) << "Failed to abort full map updates check: " << e.what();
  } catch (...) {
    LOG(Error) << "Failed to abort full map updates check: unknown error";
  }
}

void FullMapUpdateManager::UpdateLocale()
{
  try {
    LOG(Info) << "Updating map names";
    checker.UpdateLocale([this] { emit MapNamesUpdated(); });
  } catch (const std::exception& e) {
    LOG(Error) << "Failed to update map names: " << e.what();
  } catch (...) {
    LOG(Error) << "Failed to update map names: unknown error";
  }
}

void FullMapUpdateManager::DownloadMap(const MapInfo::Id& mapId)
{
  try {
    StartDownload(mapId);
  } catch (const std::exception& e) {
    LOG(Error) << e.what();
    emit OperationFinished(MapDownloader::ServerError);
  } catch (...) {
    LOG(Error) << "Failed to download map: unknown error";
    emit OperationFinished(MapDownloader::ServerError);
  }
}

void FullMapUpdateManager::StartDownload(const MapInfo::Id& mapId)
{
  const UsbInfo usb = UsbStorage::Get().GetActiveUsb();
  if (!usb.Valid()) {
    LOG(Error) << "Usb was removed";
    emit OperationFinished(MapDownloader::UsbRemoved);
    return;
  }

  MapStorage& store = MapStorage::Get();
  MapInfo map = store.GetMap(mapId);
  if (map.state != MapInfo::Available && map.state != MapInfo::Downloading)
    throw std::logic_error("Failed to download map: invalid map state");

  const MapInfo busy = OtherBusyMap(mapId);
  if (busy.Valid()) {
    LOG(Error) << "Failed to download map: " << mapId << ", map: " << busy.id << " is " << busy.state;
    emit OperationFinished(MapDownloader::UsbBlocked);
    return;
  }

  if (map.state == MapInfo::Available) {
    LOG(Info) << "Downloading map: " << mapId;
    map.state = MapInfo::Downloading;
    store.ModifyMap(mapId, [](MapInfo& stored) { stored.state = MapInfo::Downloading; });
    emit OperationStarted();
    downloader.Download(boost::filesystem::path(usb.path) / Config::get().usbFullMapDir, map);
  } else {
    LOG(Info) << "Resuming map download: " << mapId;
    emit OperationStarted();
    downloader.Resume();
  }
}

void FullMapUpdateManager::AbortMapDownload()
{
  // A cancellation reports its start before its end, also when it fails: the
  // receiver tells by the start which result is the cancellation's.
  bool started = false;
  const auto fail = [this, &started](const char* what) {
    LOG(Error) << "Failed to abort map download: " << what;
    if (!started)
      emit OperationStarted();
    emit OperationFinished(MapDownloader::UsbBlocked);
  };
  try {
    StartCancellation(started);
  } catch (const std::exception& e) {
    fail(e.what());
  } catch (...) {
    fail("unknown error");
  }
}

void FullMapUpdateManager::StickRemoved(UsbInfo::Id usbId)
{
  try {
    downloader.StickRemoved(usbId);
  } catch (const std::exception& e) {
    LOG(Error) << "Failed to stop the map download of a removed usb: " << e.what();
  }
}

void FullMapUpdateManager::StartCancellation(bool& started)
{
  // A running download first, then a finished one, then a removal that left
  // files behind and is tried again.
  MapInfo map = DownloadingMap();
  if (!map.Valid())
    map = PendingMap();
  if (!map.Valid())
    map = DeletingMap();

  if (map.Valid()) {
    map.state = MapInfo::Deleting;
    MapStorage::Get().ModifyMap(map.id, [](MapInfo& stored) { stored.state = MapInfo::Deleting; });
  }
  emit OperationStarted();
  started = true;

  if (map.Valid()) {
    downloader.Abort();
  } else {
    LOG(Warning) << "No suitable map found";
    emit OperationFinished(MapDownloader::Aborted);
  }
}

void FullMapUpdateManager::OnOperationProgress(long long bytes)
{
  MapStorage& store = MapStorage::Get();
  store.ModifyHeadUnit([bytes](HeadUnitInfo& headUnit) { headUnit.availableMapSpace -= bytes; });

  MapInfo map = DownloadingMap();
  if (map.Valid()) {
    LOG(Debug) << "Bytes downloaded: " << bytes;
  } else {
    map = DeletingMap();
    if (map.Valid())
      LOG(Debug) << "Bytes removed: " << -bytes;
  }
  if (!map.Valid())
    return;

  store.ModifyMap(map.id, [bytes](MapInfo& stored) {
    long long downloaded = stored.downloaded + bytes;
    if (downloaded > stored.size)
      downloaded = stored.size;
    if (downloaded < 0)
      downloaded = 0;
    stored.downloaded = downloaded;
  });
}

void FullMapUpdateManager::OnOperationResult(MapDownloader::Result result)
{
  LOG(Debug) << "Map operation finished with result: " << result;
  try {
    MapStorage& store = MapStorage::Get();
    if (result == MapDownloader::Ok) {
      const MapInfo map = DownloadingMap();
      if (map.Valid()) {
        store.ModifyMap(map.id, [](MapInfo& stored) {
          stored.downloaded = stored.size;
          stored.state = MapInfo::Pending;
        });
      }
    } else if (result == MapDownloader::Aborted) {
      MapInfo map = DeletingMap();
      if (!map.Valid())
        map = DownloadingMap();
      if (!map.Valid())
        map = PendingMap();
      if (map.Valid()) {
        // What the map's count still holds goes back to the head unit's space.
        const long long downloaded = map.downloaded;
        store.ModifyHeadUnit(
            [downloaded](HeadUnitInfo& headUnit) { headUnit.availableMapSpace += downloaded; });
        store.ModifyMap(map.id, [](MapInfo& stored) {
          stored.downloaded = 0;
          stored.state = MapInfo::Available;
        });
      }
    }
  } catch (const std::exception& e) {
    LOG(Error) << "Failed to store the map operation's result: " << e.what();
  }
  emit OperationFinished(result);
}
