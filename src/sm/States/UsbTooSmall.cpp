#include "sm/States/UsbTooSmall.h"

#include "sm/States/CancelDownload.h"
#include "sm/States/MapUpdateCheck.h"
#include "ui/IUi.h"

#include "Log.h"

namespace States {

UsbTooSmall::UsbTooSmall(my_context ctx) : my_base(ctx)
{
  LOG(Info) << "Entered UsbTooSmall state";
  context<Common>().GetUi()->SetState(State::UsbTooSmall);
}

boost::statechart::result UsbTooSmall::react(const Events::CancelDownload&)
{
  LOG(Info) << "Got CancelDownload event: switching to CancelDownload state";
  return transit<CancelDownload>();
}

boost::statechart::result UsbTooSmall::react(const Events::UsbRemove&)
{
  LOG(Info) << "Switching to MapUpdateCheck state";
  return transit<MapUpdateCheck>();
}

} // namespace States
