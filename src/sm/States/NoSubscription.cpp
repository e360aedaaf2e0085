#include "sm/States/NoSubscription.h"

#include "sm/States/MapUpdateCheck.h"
#include "ui/IUi.h"

#include "Log.h"

namespace States {

NoSubscription::NoSubscription(my_context ctx) : my_base(ctx)
{
  LOG(Info) << "Entered NoSubscription state";
  context<Common>().GetUi()->SetState(State::NoSubscription);
}

boost::statechart::result NoSubscription::react(const Events::UsbRemove&)
{
  LOG(Info) << "Got UsbRemove event: switching to MapUpdateCheck state";
  return transit<MapUpdateCheck>();
}

} // namespace States
