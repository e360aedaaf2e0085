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
  // The states set, in order.
  const std::vector<State>& States() const { return states; }
  State Current() const { return states.empty() ? State::Unknown : states.back(); }
  void Clear()
  {
    calls.clear();
    states.clear();
  }

public slots:
  void Activate() override { calls.push_back("Activate"); }
  void SetState(State state) override
  {
    calls.push_back("SetState(" + testing::PrintToString(state) + ")");
    states.push_back(state);
  }
  void UpdateUsbs() override { calls.push_back("UpdateUsbs"); }
  void ConfirmQuit() override { calls.push_back("ConfirmQuit"); }

private:
  std::vector<std::string> calls;
  std::vector<State> states;
};
