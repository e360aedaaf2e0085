#pragma once

#include "ui/IUi.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

// A user interface that records every call the state machine makes on it, in
// order ("SetState(MapUpdateCheck)", "UpdateUsbs", "Activate", "ConfirmQuit"),
// and lets a test play the user by emitting its signals.
class RecordingUi : public Ui::IUi
{
  Q_OBJECT

public:
  RecordingUi() { Ui::RegisterMetaTypes(); }

  const std::vector<std::string>& Calls() const { return calls; }
  // The state set last ("MapUpdateCheck"; empty before any).
  const std::string& Shown() const { return shown; }
  void Clear() { calls.clear(); }

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
