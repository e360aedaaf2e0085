#include "sm/States/NetworkOperation.h"

#include "sm/States/MapUpdateCheck.h"
#include "sm/States/NoConnection.h"
#include "ui/IUi.h"

#include "Log.h"

namespace States {

NetworkOperation::NetworkOperation(my_context ctx) : my_base(ctx)
{
  LOG(Info) << "Entered NetworkOperation state";
}

boost::statechart::result NetworkOperation::react(const Events::NoConnection&)
{
  LOG(Info) << "Got NoConnection event: switching to NoConnection state";
  return transit<NoConnection>();
}

boost::statechart::result NetworkOperation::react(const Events::UsbRemove&)
{
  LOG(Info) << "Got UsbRemove event: switching to MapUpdateCheck state";
  context<Common>().GetUi()->SetState(State::UsbRemoved);
  // Leaves and enters this state anew, then a fresh check.
  return transit<MapUpdateCheck>();
}

} // namespace States
