#include "FakeUpdateManager.h"

#include <QMetaObject>

std::vector<std::string> FakeUpdateManager::Journal::Texts() const
{
  std::lock_guard<std::mutex> lock(mutex);
  std::vector<std::string> texts;
  for (const Command& command : commands)
    texts.push_back(command.text);
  return texts;
}

std::vector<FakeUpdateManager::Command> FakeUpdateManager::Journal::Commands() const
{
  std::lock_guard<std::mutex> lock(mutex);
  return commands;
}

void FakeUpdateManager::Journal::Add(Command command)
{
  std::lock_guard<std::mutex> lock(mutex);
  commands.push_back(std::move(command));
}

FakeUpdateManager::FakeUpdateManager(std::shared_ptr<Journal> journal) : journal_(std::move(journal)) {}

void FakeUpdateManager::OnOwnThread(const std::function<void(FakeUpdateManager&)>& action)
{
  QMetaObject::invokeMethod(
      this, [this, &action] { action(*this); }, Qt::BlockingQueuedConnection);
}

void FakeUpdateManager::ReportRoot(MetadataChecker::Result result)
{
  OnOwnThread([result](FakeUpdateManager& manager) { emit manager.RootUpdatesChecked(result); });
}

void FakeUpdateManager::ReportRelated(MetadataChecker::Result result)
{
  OnOwnThread([result](FakeUpdateManager& manager) { emit manager.RelatedUpdatesChecked(result); });
}

void FakeUpdateManager::ReportStarted()
{
  OnOwnThread([](FakeUpdateManager& manager) { emit manager.OperationStarted(); });
}

void FakeUpdateManager::ReportFinished(MapDownloader::Result result)
{
  OnOwnThread([result](FakeUpdateManager& manager) { emit manager.OperationFinished(result); });
}

void FakeUpdateManager::CheckMapUpdates()
{
  journal_->Add({"CheckMapUpdates", QThread::currentThread()});
}

void FakeUpdateManager::UpdateLocale()
{
  journal_->Add({"UpdateLocale", QThread::currentThread()});
}

void FakeUpdateManager::DownloadMap(const MapInfo::Id& mapId)
{
  journal_->Add({"DownloadMap(" + mapId + ")", QThread::currentThread()});
}

void FakeUpdateManager::AbortMapDownload()
{
  journal_->Add({"AbortMapDownload", QThread::currentThread()});
}
