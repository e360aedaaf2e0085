#pragma once

#include "sm/Events.h"
#include "sm/States/Common.h"

#include <boost/mpl/list.hpp>
#include <boost/statechart/custom_reaction.hpp>
#include <boost/statechart/state.hpp>

namespace States {

struct UpToDate;

// Groups the states that present the outcome of a map check. Its history
// remembers which of them was shown last, so that a cancelled download
// returns to it.
struct MapUpdatePresent
    : boost::statechart::state<MapUpdatePresent, Common, UpToDate, boost::statechart::has_shallow_history>
{
  using reactions = boost::mpl::list<boost::statechart::custom_reaction<Events::UsbRemove>>;

  explicit MapUpdatePresent(my_context ctx);

  boost::statechart::result react(const Events::UsbRemove& event);
};

} // namespace States
