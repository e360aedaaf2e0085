#pragma once

#include "fmu/MapDownloader.h"
#include "fmu/MapInfo.h"
#include "fmu/MetadataChecker.h"

#include <QObject>
#include <QThread>

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// Stands in for the update manager where a test drives the results itself:
// it offers the slots and signals that the state machine reaches by name,
// records each command with the thread it ran on, and emits its signals on
// its own thread when the test asks.
class FakeUpdateManager : public QObject
{
  Q_OBJECT

public:
  struct Command
  {
    std::string text; // "CheckMapUpdates", "DownloadMap(EUR)", "AbortMapDownload", "UpdateLocale"
    QThread* thread = nullptr;
  };

  // Outlives the manager: what it was asked.
  struct Journal
  {
    std::vector<std::string> Texts() const;
    std::vector<Command> Commands() const;
    void Add(Command command);

    mutable std::mutex mutex;
    std::vector<Command> commands;
  };

  explicit FakeUpdateManager(std::shared_ptr<Journal> journal);

  // Runs `action` on the manager's thread and returns once it has run, so
  // that the signals it emits are queued to the main thread on return.
  void OnOwnThread(const std::function<void(FakeUpdateManager&)>& action);

  void ReportRoot(MetadataChecker::Result result);
  void ReportRelated(MetadataChecker::Result result);
  void ReportStarted();
  void ReportFinished(MapDownloader::Result result);

signals:
  void RootUpdatesChecked(MetadataChecker::Result result);
  void RelatedUpdatesChecked(MetadataChecker::Result result);
  void OperationStarted();
  void OperationFinished(MapDownloader::Result result);

public slots:
  void CheckMapUpdates();
  void UpdateLocale();
  void DownloadMap(const MapInfo::Id& mapId);
  void AbortMapDownload();

private:
  std::shared_ptr<Journal> journal_;
};
