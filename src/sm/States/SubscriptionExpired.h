#pragma once

#include "sm/Events.h"
#include "sm/States/MapUpdatePresent.h"

#include <boost/mpl/list.hpp>
#include <boost/statechart/custom_reaction.hpp>
#include <boost/statechart/state.hpp>

namespace States {

// The vehicle's map subscription has ended; the installed map can be loaded
// onto the stick again.
struct SubscriptionExpired : boost::statechart::state<SubscriptionExpired, MapUpdatePresent>
{
  using reactions = boost::mpl::list<boost::statechart::custom_reaction<Events::SubscriptionExpired>,
                                     boost::statechart::custom_reaction<Events::DownloadMap>>;

  explicit SubscriptionExpired(my_context ctx);

  boost::statechart::result react(const Events::SubscriptionExpired& event);
  boost::statechart::result react(const Events::DownloadMap& event);
};

} // namespace States
