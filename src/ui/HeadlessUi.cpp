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

void HeadlessUi::SetState(State newState)
{
  if (newState != state) {
    LOG(Info) << "Changing state from: " << state << " to: " << newState;
    state = newState;
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
