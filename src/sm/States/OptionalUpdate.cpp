#include "sm/States/OptionalUpdate.h"

#include "sm/States/MapDownload.h"
#include "sm/States/MapUpdateCheck.h"
#include "ui/IUi.h"

#include "Log.h"

namespace States {

OptionalUpdate::OptionalUpdate(my_context ctx) : my_base(ctx)
{
  LOG(Info) << "Entered OptionalUpdate state";
  context<Common>().GetUi()->SetState(State::OptionalUpdate);
}

boost::statechart::result OptionalUpdate::react(const Events::OptionalUpdate&)
{
  LOG(Info) << "Got OptionalUpdate event: updating ui state";
  context<Common>().GetUi()->SetState(State::OptionalUpdate);
  return discard_event();
}

boost::statechart::result OptionalUpdate::react(const Events::UsbRemove&)
{
  LOG(Info) << "Got UsbRemove event: switching to MapUpdateCheck state";
  return transit<MapUpdateCheck>();
}

boost::statechart::result OptionalUpdate::react(const Events::DownloadMap&)
{
  LOG(Info) << "Got DownloadMap event: switching to MapDownload state";
  return transit<MapDownload>();
}

} // namespace States
