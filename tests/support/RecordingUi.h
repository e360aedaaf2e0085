#pragma once

#include "ui/IUi.h"

#include <gtest/gtest.h>

#include <vector>

// A user interface that records every call the state machine makes on it, in
// order ("SetState(MapUpdateCheck)", "UpdateUsbs", "Activate", "ConfirmQuit"),
// and the user's requests it sends ("download:EUR cancel retry quit "); a
// test plays the user by emitting its signals.
class RecordingUi : public Ui::IUi
{
  Q_OBJECT

public:
  RecordingUi()
  {
    Ui::RegisterMetaTypes();
    connect(this, &IUi::DownloadMap, [this](const MapInfo::Id& id) { sent += "download:" + id + " "; });
    connect(this, &IUi::CancelDownload, [this] { sent += "cancel "; });
    connect(this, &IUi::Retry, [this] { sent += "retry "; });
    connect(this, &IUi::ForcedQuit, [this] { sent += "quit "; });
  }

  const std::vector<std::string>& Calls() const { return calls; }
  // The state set last ("MapUpdateCheck"; empty before any).
  const std::string& Shown() const { return shown; }
  void Clear() { calls.clear(); }
  std::string sent;

public slots:
  void Activate() override { calls.push_back("Activate"); }
  void SetState(State state) override
  {
    shown = testing::PrintToString(state);
    calls.push_back("SetState(" + shown + ")");
  }
  void UpdateUsbs() override { calls.push_back("UpdateUsbs"); }
  void ConfirmQuit() override { calls.push_back("ConfirmQuit"); }

private:
  std::vector<std::string> calls;
  std::string shown;
};
