#include "sm/States/MandatoryUpdate.h"

#include "sm/States/MapDownload.h"
#include "sm/States/MapUpdateCheck.h"
#include "ui/IUi.h"

#include "Log.h"

namespace States {

MandatoryUpdate::MandatoryUpdate(my_context ctx) : my_base(ctx)
{
  LOG(Info) << "Entered MandatoryUpdate state";
  context<Common>().GetUi()->SetState(State::MandatoryUpdate);
}

boost::statechart::result MandatoryUpdate::react(const Events::MandatoryUpdate&)
{
  LOG(Info) << "Got MandatoryUpdate event: updating ui state";
  context<Common>().GetUi()->SetState(State::MandatoryUpdate);
  return discard_event();
}

boost::statechart::result MandatoryUpdate::react(const Events::DownloadMap&)
{
  LOG(Info) << "Got DownloadMap event: switching to MapDownload state";
  return transit<MapDownload>();
}

boost::statechart::result MandatoryUpdate::react(const Events::UsbRemove&)
{
  LOG(Info) << "Got UsbRemove event: switching to MapUpdateCheck state";
  return transit<MapUpdateCheck>();
}

} // namespace States
