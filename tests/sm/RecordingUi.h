#pragma once

#include "ui/IUi.h"

#include <sstream>
#include <string>
#include <vector>

// A user interface that records every call the state machine makes on it,
// in order, and lets a test play the user by emitting the signals
// (emit ui->Retry(), emit ui->DownloadMap(id), ...).
class RecordingUi : public Ui::IUi
{
  Q_OBJECT

public:
  RecordingUi();
  ~RecordingUi() override;

  // Every call as text: "SetState(MapUpdateCheck)", "UpdateUsbs", "Activate",
  // "ConfirmQuit".
  const std::vector<std::string>& Calls() const { return calls_; }
  // The states set, in order.
  const std::vector<State>& States() const { return states_; }
  State Current() const { return states_.empty() ? State::Unknown : states_.back(); }
  int Count(const std::string& call) const;
  // Forgets what was recorded so far.
  void Clear();

  // Set while the interface exists; cleared by its destruction.
  static RecordingUi* Instance();

public slots:
  void Activate() override;
  void SetState(State state) override;
  void UpdateUsbs() override;
  void ConfirmQuit() override;

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
