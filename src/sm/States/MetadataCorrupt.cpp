#include "sm/States/MetadataCorrupt.h"

#include "sm/States/MapUpdateCheck.h"
#include "ui/IUi.h"

#include "Log.h"

namespace States {

MetadataCorrupt::MetadataCorrupt(my_context ctx) : my_base(ctx)
{
  LOG(Info) << "Entered MetadataCorrupt state";
  context<Common>().GetUi()->SetState(State::MetadataCorrupt);
}

boost::statechart::result MetadataCorrupt::react(const Events::UsbRemove&)
{
  LOG(Info) << "Got UsbRemove event: switching to MapUpdateCheck state";
  return transit<MapUpdateCheck>();
}

} // namespace States
