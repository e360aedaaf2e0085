#include "FakeUpdateManager.h"

std::vector<FakeUpdateManager::Command> FakeUpdateManager::Journal::Commands() const
{
  std::lock_guard<std::mutex> lock(mutex);
  return commands;
}

void FakeUpdateManager::Journal::Add(const std::string& text)
{
  std::lock_guard<std::mutex> lock(mutex);
  commands.push_back({text, QThread::currentThread()});
}
