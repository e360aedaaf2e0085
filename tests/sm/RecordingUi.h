#pragma once

#include "ui/IUi.h"

#include <sstream>
#include <string>
#include <vector>

// A user interface that records every call the state machine makes on it, in
// order ("SetState(MapUpdateCheck)", "UpdateUsbs", "Activate", "ConfirmQuit"),
// and lets a test play the user by emitting its signals.
class RecordingUi : public Ui::IUi
{
  Q_OBJECT

public:
  RecordingUi();
  ~RecordingUi() override;

  const std::vector<std::string>& Calls() const { return calls_; }
  // The states set, in order.
  const std::vector<State>& States() const { return states_; }
  State Current() const { return states_.empty() ? State::Unknown : states_.back(); }
  void Clear();

  // The interface while it exists.
  static RecordingUi* Instance();

public slots:
  void Activate() override { calls_.push_back("Activate"); }
  void SetState(State state) override;
  void UpdateUsbs() override { calls_.push_back("UpdateUsbs"); }
  void ConfirmQuit() override { calls_.push_back("ConfirmQuit"); }

private:
  std::vector<std::string> calls_;
  std::vector<State> states_;
};

// The name of a value, as the log writes it.
template <typename T>
std::string Name(T value)
{
  std::ostringstream text;
  text << value;
  return text.str();
}
