#pragma once

#include "sm/Events.h"
#include "sm/States/Common.h"

#include <boost/mpl/list.hpp>
#include <boost/statechart/custom_reaction.hpp>
#include <boost/statechart/state.hpp>

namespace States {

// The map-update service answered a check or a download with an error.
// Waits for the user's retry (which resumes the activity that failed) or
// cancel, or for the stick to be removed.
struct ServerError : boost::statechart::state<ServerError, Common>
{
  using reactions = boost::mpl::list<boost::statechart::custom_reaction<Events::Retry>,
                                     boost::statechart::custom_reaction<Events::CancelDownload>,
                                     boost::statechart::custom_reaction<Events::UsbRemove>,
                                     boost::statechart::custom_reaction<Events::Quit>>;

  explicit ServerError(my_context ctx);

  boost::statechart::result react(const Events::Retry& event);
  boost::statechart::result react(const Events::CancelDownload& event);
  boost::statechart::result react(const Events::UsbRemove& event);
  boost::statechart::result react(const Events::Quit& event);
};

} // namespace States
