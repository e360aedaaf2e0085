#include "sm/States/NoConnection.h"

#include "fmu/MapStorage.h"
#include "sm/States/CancelDownload.h"
#include "sm/States/MapUpdateCheck.h"
#include "sm/States/MetadataCorrupt.h"
#include "sm/States/UsbCheck.h"
#include "ui/IUi.h"
#include "usb/UsbStorage.h"

#include "Log.h"

#include <boost/statechart/shallow_history.hpp>

namespace States {

NoConnection::NoConnection(my_context ctx) : my_base(ctx)
{
  LOG(Info) << "Entered NoConnection state";
  context<Common>().GetUi()->SetState(State::NoConnection);
}

boost::statechart::result NoConnection::react(const Events::Retry&)
{
  // Resumes what failed: the check, or the download of the map that is
  // still downloading.
  LOG(Info) << "Got Retry event: switching to NetworkOperation state";
  return transit<boost::statechart::shallow_history<MapUpdateCheck>>();
}

boost::statechart::result NoConnection::react(const Events::CancelDownload&)
{
  LOG(Info) << "Got CancelDownload event: switching to CancelDownload state";
  return transit<CancelDownload>();
}

boost::statechart::result NoConnection::react(const Events::UsbRemove&)
{
  LOG(Info) << "Got UsbRemove event: switching to MapUpdateCheck state";
  // The removal is shown only when it cut a map operation short.
  if (DownloadingMap().Valid() || DeletingMap().Valid())
    context<Common>().GetUi()->SetState(State::UsbRemoved);
  return transit<MapUpdateCheck>();
}

boost::statechart::result NoConnection::react(const Events::UsbInsert&)
{
  LOG(Info) << "Got UsbInsert event: switching to UsbCheck state";
  return transit<UsbCheck>();
}

boost::statechart::result NoConnection::react(const Events::InvalidMetadata&)
{
  LOG(Info) << "Got InvalidMetadata event: switching to MetadataCorrupt state";
  return transit<MetadataCorrupt>();
}

boost::statechart::result NoConnection::react(const Events::Quit& event)
{
  Common& common = context<Common>();
  if (!UsbStorage::Get().GetActiveUsb().Valid())
    return common.react(event);
  LOG(Info) << "Got Quit event: confirming application quit";
  common.GetUi()->ConfirmQuit();
  return discard_event();
}

} // namespace States
