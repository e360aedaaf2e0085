#pragma once

#include "fmu/MapDownloader.h"
#include "fmu/MapInfo.h"
#include "fmu/MetadataChecker.h"

#include <QObject>

// Runs map update checks, map downloads and their cancellation on a worker
// thread and reports their outcome through signals.
//
// Threading: built on any thread without a parent, then moved to a thread of
// its own (QObject::moveToThread) and driven only by queued invocations of its
// slots by name ("CheckMapUpdates", "DownloadMap" with a "MapInfo::Id",
// "AbortMapDownload", "UpdateLocale", "AbortCheck", "StickRemoved" with a
// "UsbInfo::Id"). Every slot, every callback of its members and every signal
// runs on that thread; connect the signals with Qt::QueuedConnection. Destroy
// it after its thread has finished.
//
// The map store is the only record of which map an operation concerns: a
// download marks its map Downloading and a cancellation marks it Deleting
// before OperationStarted is emitted, so a receiver that reads the store when
// the signal arrives finds the map in its new state. Progress is applied to
// the map's byte count and to the head unit's available map space: a download
// lowers the space by every chunk written, a cancellation raises it again by
// every file removed and, with Aborted, by whatever the map's count still
// holds.
//
// No slot lets an exception out: a failure is logged at Error and reported as
// a result (ServerError for a check or a download, UsbBlocked for a
// cancellation).
class FullMapUpdateManager : public QObject
{
  Q_OBJECT

public:
  // The update check takes the service and stick layout from the configuration.
  explicit FullMapUpdateManager(QObject* parent = nullptr);
  // The update check works with `setup` (another service, in tests).
  explicit FullMapUpdateManager(MetadataChecker::Setup setup, QObject* parent = nullptr);
  ~FullMapUpdateManager() override;

  // Registers "UsbInfo::Id", "MapInfo::Id", "MetadataChecker::Result" and
  // "MapDownloader::Result" with the meta-type system (the constructors do).
  static void RegisterMetaTypes();

signals:
  // The root check (no active stick, or one without map metadata) has ended.
  void RootUpdatesChecked(MetadataChecker::Result result);
  // The related check of the active stick has ended.
  void RelatedUpdatesChecked(MetadataChecker::Result result);
  // The map names were fetched again in a new language: the next
  // RootUpdatesChecked or RelatedUpdatesChecked reports the last check's
  // result once more, and is not the result of a check asked for since.
  void MapNamesUpdated();
  // A download started or resumed, or a cancellation started; the map's new
  // state is in the map store already.
  void OperationStarted();
  // A download or a cancellation has ended (or was refused).
  void OperationFinished(MapDownloader::Result result);

public slots:
  // A root check without a usable stick, else a related check of the active
  // stick; RootUpdatesChecked or RelatedUpdatesChecked follows.
  void CheckMapUpdates();
  // Drops the requests of the running check and cancels the download.
  void AbortCheck();
  // Fetches the stored maps' names again in the user's language; once the
  // last has arrived, the result of the last check is emitted again through
  // the signal of its kind (see MetadataChecker::UpdateLocale).
  void UpdateLocale();
  // Downloads the map (Available) or goes on with its download (Downloading)
  // onto the active stick. Refused while another map is being downloaded,
  // removed or waits on the stick (UsbBlocked); UsbRemoved without a stick;
  // ServerError for a map in any other state.
  void DownloadMap(const MapInfo::Id& mapId);
  // Cancels the map being downloaded, else the one waiting on the stick, else
  // the one whose removal is unfinished, and removes its files; Aborted
  // straight away when there is none. OperationStarted always comes first,
  // then the one OperationFinished of the cancellation.
  void AbortMapDownload();
  // A stick has gone: a download onto it stops at once (OperationFinished
  // with UsbRemoved when it was running), and what it wrote there is never
  // removed or written again.
  void StickRemoved(UsbInfo::Id usbId);

private:
  void OnOperationProgress(long long bytes);
  void OnOperationResult(MapDownloader::Result result);
  void StartDownload(const MapInfo::Id& mapId);
  // Sets `started` once OperationStarted is emitted.
  void StartCancellation(bool& started);

  MetadataChecker checker;
  MapDownloader downloader;
};
