#include "sm/States/StartUp.h"

#include "sm/States/Common.h"
#include "sm/States/MapUpdateCheck.h"
#include "sm/States/NetworkOperation.h"

#include "Log.h"

namespace States {

StartUp::StartUp(my_context ctx) : QObject(nullptr), my_base(ctx)
{
  LOG(Info) << "Entered StartUp state";
}

boost::statechart::result StartUp::react(const Events::StartUp&)
{
  LOG(Info) << "Got StartUp event; switching to Common state";
  return transit<Common>();
}

} // namespace States
