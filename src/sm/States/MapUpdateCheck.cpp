#include "sm/States/MapUpdateCheck.h"

#include "sm/States/MandatoryUpdate.h"
#include "sm/States/MetadataCorrupt.h"
#include "sm/States/NoSubscription.h"
#include "sm/States/OptionalUpdate.h"
#include "sm/States/RootUpdate.h"
#include "sm/States/ServerError.h"
#include "sm/States/SubscriptionExpired.h"
#include "sm/States/UpToDate.h"
#include "ui/IUi.h"
#include "usb/UsbStorage.h"

#include "Log.h"

namespace States {

namespace {

// A stick check's report about a stick that is not the active one: the
// running check is not about that stick.
bool AboutAnotherStick(UsbInfo::Id usbId)
{
  return usbId != 0 && usbId != UsbStorage::Get().GetActiveUsb().id;
}

} // namespace

MapUpdateCheck::MapUpdateCheck(my_context ctx) : my_base(ctx)
{
  LOG(Info) << "Entered MapUpdateCheck state";
  Common& common = context<Common>();
  common.GetUi()->SetState(State::MapUpdateCheck);
  common.CheckMapUpdates();
}

boost::statechart::result MapUpdateCheck::react(const Events::InvalidMetadata& event)
{
  if (AboutAnotherStick(event.usbId)) {
    LOG(Info) << "Got InvalidMetadata event of usb: " << event.usbId
              << ", which is not active: doing nothing";
    return discard_event();
  }
  LOG(Info) << "Got InvalidMetadata event: switching to MetadataCorrupt state";
  return transit<MetadataCorrupt>();
}

boost::statechart::result MapUpdateCheck::react(const Events::NoMetadata& event)
{
  if (event.usbId != 0) {
    // A stick check: either the stick did not become active, or it did
    // because no stick was active, and then the running check is a root
    // check already. Either way the check goes on.
    LOG(Info) << "Got NoMetadata event of usb: " << event.usbId << ": doing nothing";
    return discard_event();
  }

  LOG(Info) << "Got NoMetadata event: switching to RootUpdate state";
  UsbStorage& store = UsbStorage::Get();
  const UsbInfo active = store.GetActiveUsb();
  if (!active.Valid() || active.state == UsbInfo::NoMetadata) {
    // The check that reported it was a root check already; another one would
    // only report the same again.
    return transit<RootUpdate>();
  }
  // The active stick's related check found no metadata: mark the stick and
  // check again, as a root check.
  store.ModifyUsb(active.id, [](UsbInfo& usb) { usb.state = UsbInfo::NoMetadata; });
  return transit<MapUpdateCheck>();
}

boost::statechart::result MapUpdateCheck::react(const Events::ValidMetadata& event)
{
  if (event.usbId == 0 || event.usbId != UsbStorage::Get().GetActiveUsb().id)
    return forward_event();
  LOG(Info) << "Got ValidMetadata event: switching to MapUpdateCheck state";
  return transit<MapUpdateCheck>();
}

boost::statechart::result MapUpdateCheck::react(const Events::ServerError&)
{
  LOG(Info) << "Got ServerError event: switching to ServerError state";
  return transit<ServerError>();
}

boost::statechart::result MapUpdateCheck::react(const Events::NoSubscription&)
{
  LOG(Info) << "Got NoSubscription event: switching to NoSubscription state";
  return transit<NoSubscription>();
}

boost::statechart::result MapUpdateCheck::react(const Events::SubscriptionExpired&)
{
  LOG(Info) << "Got SubscriptionExpired event: switching to SubscriptionExpired state";
  return transit<SubscriptionExpired>();
}

boost::statechart::result MapUpdateCheck::react(const Events::RootUpdate&)
{
  LOG(Info) << "Got RootUpdate event: switching to RootUpdate state";
  return transit<RootUpdate>();
}

boost::statechart::result MapUpdateCheck::react(const Events::UpToDate&)
{
  LOG(Info) << "Got UpToDate event: switching to UpToDate state";
  return transit<UpToDate>();
}

boost::statechart::result MapUpdateCheck::react(const Events::OptionalUpdate&)
{
  LOG(Info) << "Got OptionalUpdate event: switching to OptionalUpdate state";
  return transit<OptionalUpdate>();
}

boost::statechart::result MapUpdateCheck::react(const Events::MandatoryUpdate&)
{
  LOG(Info) << "Got MandatoryUpdate event: switching to MandatoryUpdate state";
  return transit<MandatoryUpdate>();
}

} // namespace States
