#include "sm/States/RootUpdate.h"

#include "sm/States/MapDownload.h"
#include "sm/States/UsbCheck.h"
#include "ui/IUi.h"

#include "Log.h"

namespace States {

RootUpdate::RootUpdate(my_context ctx) : my_base(ctx)
{
  LOG(Info) << "Entered RootUpdate state";
  context<Common>().GetUi()->SetState(State::RootUpdate);
}

boost::statechart::result RootUpdate::react(const Events::RootUpdate&)
{
  LOG(Info) << "Got RootUpdate event: updating ui state";
  context<Common>().GetUi()->SetState(State::RootUpdate);
  return discard_event();
}

boost::statechart::result RootUpdate::react(const Events::UsbInsert&)
{
  LOG(Info) << "Got UsbInsert event: switching to UsbCheck state";
  return transit<UsbCheck>();
}

boost::statechart::result RootUpdate::react(const Events::UsbRemove&)
{
  LOG(Info) << "Got UsbRemove event: doing nothing";
  return discard_event();
}

boost::statechart::result RootUpdate::react(const Events::DownloadMap&)
{
  LOG(Info) << "Got DownloadMap event: switching to MapDownload state";
  return transit<MapDownload>();
}

} // namespace States
