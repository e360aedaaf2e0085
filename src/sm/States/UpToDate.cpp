#include "sm/States/UpToDate.h"

#include "sm/States/MapDownload.h"
#include "ui/IUi.h"

#include "Log.h"

namespace States {

UpToDate::UpToDate(my_context ctx) : my_base(ctx)
{
  LOG(Info) << "Entered UpToDate state";
  context<Common>().GetUi()->SetState(State::UpToDate);
}

boost::statechart::result UpToDate::react(const Events::UpToDate&)
{
  LOG(Info) << "Got UpToDate event: updating ui state";
  context<Common>().GetUi()->SetState(State::UpToDate);
  return discard_event();
}

boost::statechart::result UpToDate::react(const Events::DownloadMap&)
{
  LOG(Info) << "Got DownloadMap event: switching to MapDownload state";
  return transit<MapDownload>();
}

} // namespace States
