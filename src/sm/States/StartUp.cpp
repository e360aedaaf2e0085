#include "sm/States/StartUp.h"

#include "Log.h"
#include "sm/States/Common.h"

namespace States {

StartUp::StartUp()
{
  LOG(Info) << "Entered StartUp state";
}

StartUp::~StartUp() = default;

boost::statechart::result StartUp::react(const Events::StartUp&)
{
  LOG(Info) << "Got StartUp event; switching to Common state";
  return transit<Common>();
}

} // namespace States
