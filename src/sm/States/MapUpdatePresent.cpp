#include "sm/States/MapUpdatePresent.h"

#include "sm/States/MapUpdateCheck.h"
#include "sm/States/UpToDate.h"

#include "Log.h"

namespace States {

MapUpdatePresent::MapUpdatePresent(my_context ctx) : my_base(ctx)
{
  LOG(Info) << "Entered MapUpdatePresent state";
}

boost::statechart::result MapUpdatePresent::react(const Events::UsbRemove&)
{
  LOG(Info) << "Switching to MapUpdateCheck state";
  return transit<MapUpdateCheck>();
}

} // namespace States
