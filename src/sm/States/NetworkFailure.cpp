#include "sm/States/NetworkFailure.h"

#include "fmu/MapStorage.h"
#include "sm/States/CancelDownload.h"
#include "sm/States/MapUpdateCheck.h"
#include "sm/States/NoConnection.h"
#include "sm/States/ServerError.h"
#include "ui/IUi.h"

#include "Log.h"

#include <boost/statechart/shallow_history.hpp>

namespace States {

template <typename Derived>
boost::statechart::result NetworkFailure<Derived>::react(const Events::Retry&)
{
  // Resumes what failed: the check, or the download of the map that is
  // still downloading.
  LOG(Info) << "Got Retry event: switching to NetworkOperation state";
  return this->template transit<boost::statechart::shallow_history<MapUpdateCheck>>();
}

template <typename Derived>
boost::statechart::result NetworkFailure<Derived>::react(const Events::CancelDownload&)
{
  LOG(Info) << "Got CancelDownload event: switching to CancelDownload state";
  return this->template transit<CancelDownload>();
}

template <typename Derived>
boost::statechart::result NetworkFailure<Derived>::react(const Events::UsbRemove&)
{
  LOG(Info) << "Got UsbRemove event: switching to MapUpdateCheck state";
  // The removal is shown only when it cut a map operation short.
  if (DownloadingMap().Valid() || DeletingMap().Valid())
    this->template context<Common>().GetUi()->SetState(State::UsbRemoved);
  return this->template transit<MapUpdateCheck>();
}

template struct NetworkFailure<NoConnection>;
template struct NetworkFailure<ServerError>;

} // namespace States
