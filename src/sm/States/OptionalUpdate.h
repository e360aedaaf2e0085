#pragma once

#include "sm/Events.h"
#include "sm/States/MapUpdatePresent.h"

#include <boost/mpl/list.hpp>
#include <boost/statechart/custom_reaction.hpp>
#include <boost/statechart/state.hpp>

namespace States {

// An optional newer map is offered, and no mandatory one.
struct OptionalUpdate : boost::statechart::state<OptionalUpdate, MapUpdatePresent>
{
  using reactions = boost::mpl::list<boost::statechart::custom_reaction<Events::OptionalUpdate>,
                                     boost::statechart::custom_reaction<Events::UsbRemove>,
                                     boost::statechart::custom_reaction<Events::DownloadMap>>;

  explicit OptionalUpdate(my_context ctx);

  boost::statechart::result react(const Events::OptionalUpdate& event);
  boost::statechart::result react(const Events::UsbRemove& event);
  boost::statechart::result react(const Events::DownloadMap& event);
};

} // namespace States
