#pragma once

#include "fmu/MapDownloader.h"
#include "fmu/MetadataChecker.h"

#include <QObject>
#include <QThread>

#include <mutex>

// Stands in for the update manager where a test gives the reports itself: it
// offers the slots and signals that the state machine reaches by name and
// records each command with the thread it ran on.
class FakeUpdateManager : public QObject
{
  Q_OBJECT

public:
  struct Command
  {
    std::string text; // "CheckMapUpdates", "DownloadMap(EUR)", "AbortMapDownload", "UpdateLocale",
                      // "StickRemoved(22)"
    QThread* thread = nullptr;
  };

  // What the manager was asked; outlives it.
  struct Journal
  {
    std::vector<Command> Commands() const
    {
      std::lock_guard<std::mutex> lock(mutex);
      return commands;
    }
    void Add(const std::string& text)
    {
      std::lock_guard<std::mutex> lock(mutex);
      commands.push_back({text, QThread::currentThread()});
    }

    mutable std::mutex mutex;
    std::vector<Command> commands;
  };

  explicit FakeUpdateManager(std::shared_ptr<Journal> shared) : journal(std::move(shared)) {}

signals:
  void RootUpdatesChecked(MetadataChecker::Result result);
  void RelatedUpdatesChecked(MetadataChecker::Result result);
  void MapNamesUpdated();
  void OperationStarted();
  void OperationFinished(MapDownloader::Result result);

public slots:
  void CheckMapUpdates() { journal->Add("CheckMapUpdates"); }
  void UpdateLocale() { journal->Add("UpdateLocale"); }
  void DownloadMap(const MapInfo::Id& mapId) { journal->Add("DownloadMap(" + mapId + ")"); }
  void AbortMapDownload() { journal->Add("AbortMapDownload"); }
  void StickRemoved(UsbInfo::Id usbId) { journal->Add("StickRemoved(" + std::to_string(usbId) + ")"); }

private:
  std::shared_ptr<Journal> journal;
};
