#pragma once

#include "sm/Events.h"
#include "sm/States/Common.h"
#include "sm/States/StickQuitConfirmation.h"

#include <boost/mpl/list.hpp>
#include <boost/statechart/custom_reaction.hpp>
#include <boost/statechart/state.hpp>

namespace States {

// What the two states after a failed check or download share (the service
// unreachable: NoConnection; the service answering with an error:
// ServerError): a retry resumes the activity that failed, a cancel removes
// the download, a removed stick starts a new check, and Quit asks while a
// stick is active. Each state shows its own UI state on entry.
template <typename Derived>
struct NetworkFailure : boost::statechart::state<Derived, Common>, StickQuitConfirmation<Derived>
{
  using reactions = boost::mpl::list<boost::statechart::custom_reaction<Events::Retry>,
                                     boost::statechart::custom_reaction<Events::CancelDownload>,
                                     boost::statechart::custom_reaction<Events::UsbRemove>,
                                     boost::statechart::custom_reaction<Events::Quit>>;

  explicit NetworkFailure(typename boost::statechart::state<Derived, Common>::my_context ctx)
      : boost::statechart::state<Derived, Common>(ctx)
  {
  }

  using StickQuitConfirmation<Derived>::react;
  boost::statechart::result react(const Events::Retry& event);
  boost::statechart::result react(const Events::CancelDownload& event);
  boost::statechart::result react(const Events::UsbRemove& event);
};

} // namespace States
