#include "sm/States/UsbBlocked.h"

#include "sm/States/CancelDownload.h"
#include "sm/States/MapUpdateCheck.h"
#include "ui/IUi.h"

#include "Log.h"

namespace States {

UsbBlocked::UsbBlocked(my_context ctx) : my_base(ctx)
{
  LOG(Info) << "Entered UsbBlocked state";
  context<Common>().GetUi()->SetState(State::UsbBlocked);
}

boost::statechart::result UsbBlocked::react(const Events::CancelDownload&)
{
  LOG(Info) << "Got CancelDownload event: switching to CancelDownload state";
  return transit<CancelDownload>();
}

boost::statechart::result UsbBlocked::react(const Events::UsbRemove&)
{
  LOG(Info) << "Switching to MapUpdateCheck state";
  return transit<MapUpdateCheck>();
}

boost::statechart::result UsbBlocked::react(const Events::Quit&)
{
  LOG(Info) << "Got Quit event: confirming application quit";
  context<Common>().GetUi()->ConfirmQuit();
  return discard_event();
}

} // namespace States
