#pragma once

#include "sm/Events.h"
#include "sm/States/Common.h"

#include <boost/mpl/list.hpp>
#include <boost/statechart/custom_reaction.hpp>
#include <boost/statechart/state.hpp>

namespace States {

struct MapUpdateCheck;

// Groups the states that work with the map-update service: the map check and
// the download. Remembers which of the two was last active, so that a retry
// after a failure resumes that activity, and handles a lost connection and a
// removed stick for both.
struct NetworkOperation : boost::statechart::state<NetworkOperation, Common, MapUpdateCheck,
                                                   boost::statechart::has_shallow_history>
{
  using reactions = boost::mpl::list<boost::statechart::custom_reaction<Events::NoConnection>,
                                     boost::statechart::custom_reaction<Events::UsbRemove>>;

  explicit NetworkOperation(my_context ctx);

  boost::statechart::result react(const Events::NoConnection& event);
  boost::statechart::result react(const Events::UsbRemove& event);
};

} // namespace States
