#include "sm/States/SubscriptionExpired.h"

#include "sm/States/MapDownload.h"
#include "ui/IUi.h"

#include "Log.h"

namespace States {

SubscriptionExpired::SubscriptionExpired(my_context ctx) : my_base(ctx)
{
  LOG(Info) << "Entered SubscriptionExpired state";
  context<Common>().GetUi()->SetState(State::SubscriptionExpired);
}

boost::statechart::result SubscriptionExpired::react(const Events::SubscriptionExpired&)
{
  // The check reported the same again (after the map names were fetched in
  // a new language): show it again, as the other outcomes do.
  LOG(Info) << "Got SubscriptionExpired event: updating ui state";
  context<Common>().GetUi()->SetState(State::SubscriptionExpired);
  return discard_event();
}

boost::statechart::result SubscriptionExpired::react(const Events::DownloadMap&)
{
  LOG(Info) << "Got ResetMap event: switching to MapDownload state";
  return transit<MapDownload>();
}

} // namespace States
