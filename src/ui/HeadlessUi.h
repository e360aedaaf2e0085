#pragma once

#include "ui/IUi.h"

namespace Ui {

// A user interface without windows: it keeps the state it is given and logs
// what it is asked to do. Tests and the benchmark that want the application
// without its windows use it. Nothing in it asks the user, so it emits no
// signal.
class HeadlessUi : public IUi
{
  Q_OBJECT

public:
  HeadlessUi();

  State CurrentState() const { return state; }

public slots:
  void Activate() override;
  void SetState(State newState) override;
  void UpdateUsbs() override;
  void ConfirmQuit() override;

private:
  State state = State::Unknown;
};

} // namespace Ui
