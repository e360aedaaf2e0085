#include "sm/States/StickQuitConfirmation.h"

#include "sm/States/Common.h"
#include "sm/States/MapUpdateCheck.h"
#include "sm/States/NoConnection.h"
#include "sm/States/ServerError.h"
#include "ui/IUi.h"
#include "usb/UsbStorage.h"

#include "Log.h"

namespace States {

template <typename Derived>
boost::statechart::result StickQuitConfirmation<Derived>::react(const Events::Quit& event)
{
  Derived& state = static_cast<Derived&>(*this);
  Common& common = state.template context<Common>();
  if (!UsbStorage::Get().GetActiveUsb().Valid())
    return common.react(event);
  LOG(Info) << "Got Quit event: confirming application quit";
  common.GetUi()->ConfirmQuit();
  return state.discard_event();
}

// The states that ask only while a stick is active.
template struct StickQuitConfirmation<MapUpdateCheck>;
template struct StickQuitConfirmation<NoConnection>;
template struct StickQuitConfirmation<ServerError>;

} // namespace States
