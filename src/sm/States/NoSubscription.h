#pragma once

#include "sm/Events.h"
#include "sm/States/Common.h"

#include <boost/mpl/list.hpp>
#include <boost/statechart/custom_reaction.hpp>
#include <boost/statechart/state.hpp>

namespace States {

// The vehicle has no map subscription. Waits for the stick to be removed.
struct NoSubscription : boost::statechart::state<NoSubscription, Common>
{
  using reactions = boost::mpl::list<boost::statechart::custom_reaction<Events::UsbRemove>>;

  explicit NoSubscription(my_context ctx);

  boost::statechart::result react(const Events::UsbRemove& event);
};

} // namespace States
