#include "ui/HeadlessUi.h"

#include "Log.h"

namespace Ui {

HeadlessUi::HeadlessUi()
{
  RegisterMetaTypes();
}

void HeadlessUi::Activate()
{
  LOG(Info) << "Activating application";
}

void HeadlessUi::SetState(State state)
{
  if (state != state_) {
    LOG(Info) << "Changing state from: " << state_ << " to: " << state;
    state_ = state;
  }
}

void HeadlessUi::UpdateUsbs()
{
  LOG(Debug) << "Updating usbs";
}

void HeadlessUi::ConfirmQuit()
{
  LOG(Debug) << "Showing quit application confirmation message";
}

} // namespace Ui
