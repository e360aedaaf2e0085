#include "sm/States/ServerError.h"

#include "fmu/MapStorage.h"
#include "sm/States/CancelDownload.h"
#include "sm/States/MapUpdateCheck.h"
#include "ui/IUi.h"
#include "usb/UsbStorage.h"

#include "Log.h"

#include <boost/statechart/shallow_history.hpp>

namespace States {

ServerError::ServerError(my_context ctx) : my_base(ctx)
{
  LOG(Info) << "Entered ServerError state";
  context<Common>().GetUi()->SetState(State::ServerError);
}

boost::statechart::result ServerError::react(const Events::Retry&)
{
  // Resumes what failed: the check, or the download of the map that is
  // still downloading.
  LOG(Info) << "Got Retry event: switching to NetworkOperation state";
  return transit<boost::statechart::shallow_history<MapUpdateCheck>>();
}

boost::statechart::result ServerError::react(const Events::CancelDownload&)
{
  LOG(Info) << "Got CancelDownload event: switching to CancelDownload state";
  return transit<CancelDownload>();
}

boost::statechart::result ServerError::react(const Events::UsbRemove&)
{
  LOG(Info) << "Got UsbRemove event: switching to MapUpdateCheck state";
  // The removal is shown only when it cut a map operation short.
  if (DownloadingMap().Valid() || DeletingMap().Valid())
    context<Common>().GetUi()->SetState(State::UsbRemoved);
  return transit<MapUpdateCheck>();
}

boost::statechart::result ServerError::react(const Events::Quit& event)
{
  Common& common = context<Common>();
  if (!UsbStorage::Get().GetActiveUsb().Valid())
    return common.react(event);
  LOG(Info) << "Got Quit event: confirming application quit";
  common.GetUi()->ConfirmQuit();
  return discard_event();
}

} // namespace States
