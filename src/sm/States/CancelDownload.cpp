#include "sm/States/CancelDownload.h"

#include "sm/States/MapUpdateCheck.h"
#include "sm/States/MapUpdatePresent.h"
#include "sm/States/OptionalUpdate.h"
#include "sm/States/UsbBlocked.h"
#include "ui/IUi.h"
#include "usb/UsbStorage.h"

#include "Log.h"

#include <boost/statechart/shallow_history.hpp>

namespace States {

CancelDownload::CancelDownload(my_context ctx) : my_base(ctx)
{
  LOG(Info) << "Entered CancelDownload state";
  context<Common>().AbortMapDownload();
}

boost::statechart::result CancelDownload::react(const Events::CancelDownload&)
{
  LOG(Info) << "Got CancelDownload event";
  return EndRemoval();
}

boost::statechart::result CancelDownload::react(const Events::MapDeletionStarted&)
{
  LOG(Info) << "Got MapDeletionStarted event";
  context<Common>().GetUi()->SetState(State::CancelDownload);
  return discard_event();
}

boost::statechart::result CancelDownload::react(const Events::UsbRemove&)
{
  LOG(Info) << "Got UsbRemove event: switching to MapUpdateCheck state";
  context<Common>().GetUi()->SetState(State::UsbRemoved);
  return transit<MapUpdateCheck>();
}

boost::statechart::result CancelDownload::react(const Events::Quit&)
{
  LOG(Info) << "Got Quit event: confirming application quit";
  context<Common>().GetUi()->ConfirmQuit();
  return discard_event();
}

boost::statechart::result CancelDownload::react(const Events::FinishDownload&)
{
  LOG(Info) << "Got FinishDownload event";
  return EndRemoval();
}

boost::statechart::result CancelDownload::react(const Events::UsbBlocked&)
{
  // The removal left files behind: the user is told and can cancel again.
  LOG(Info) << "Got UsbBlocked event: switching to UsbBlocked state";
  return transit<UsbBlocked>();
}

boost::statechart::result CancelDownload::react(const Events::UsbFull&)
{
  LOG(Info) << "Got UsbFull event";
  return EndRemoval();
}

boost::statechart::result CancelDownload::react(const Events::UsbTooSmall&)
{
  LOG(Info) << "Got UsbTooSmall event";
  return EndRemoval();
}

boost::statechart::result CancelDownload::react(const Events::NoConnection&)
{
  LOG(Info) << "Got NoConnection event";
  return EndRemoval();
}

boost::statechart::result CancelDownload::react(const Events::ServerError&)
{
  LOG(Info) << "Got ServerError event";
  return EndRemoval();
}

boost::statechart::result CancelDownload::EndRemoval()
{
  UsbStorage& store = UsbStorage::Get();
  if (store.GetActiveUsb().state == UsbInfo::NoMetadata) {
    const UsbInfo candidate = Common::FirstUsbOf({UsbInfo::ValidMetadata, UsbInfo::InvalidMetadata});
    if (candidate.Valid()) {
      store.ActivateUsb(candidate.id);
      LOG(Info) << "Switching to MapUpdateCheck state";
      return transit<MapUpdateCheck>();
    }
  }
  LOG(Info) << "Switching to OptionalUpdate state";
  return transit<boost::statechart::shallow_history<OptionalUpdate>>();
}

} // namespace States
