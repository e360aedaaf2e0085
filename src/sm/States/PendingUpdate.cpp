#include "sm/States/PendingUpdate.h"

#include "sm/States/CancelDownload.h"
#include "sm/States/MapUpdateCheck.h"
#include "ui/IUi.h"

#include "Log.h"

namespace States {

PendingUpdate::PendingUpdate(my_context ctx) : my_base(ctx)
{
  LOG(Info) << "Entered PendingUpdate state";
  context<Common>().GetUi()->SetState(State::PendingUpdate);
}

boost::statechart::result PendingUpdate::react(const Events::CancelDownload&)
{
  LOG(Info) << "Got CancelDownload event: switching to CancelDownload state";
  return transit<CancelDownload>();
}

boost::statechart::result PendingUpdate::react(const Events::UsbRemove&)
{
  LOG(Info) << "Got UsbRemove event: switching to MapUpdateCheck state";
  return transit<MapUpdateCheck>();
}

} // namespace States
