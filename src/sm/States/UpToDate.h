#pragma once

#include "sm/Events.h"
#include "sm/States/MapUpdatePresent.h"

#include <boost/mpl/list.hpp>
#include <boost/statechart/custom_reaction.hpp>
#include <boost/statechart/state.hpp>

namespace States {

// No newer map is offered for the map installed on the stick.
struct UpToDate : boost::statechart::state<UpToDate, MapUpdatePresent>
{
  using reactions = boost::mpl::list<boost::statechart::custom_reaction<Events::UpToDate>,
                                     boost::statechart::custom_reaction<Events::DownloadMap>>;

  explicit UpToDate(my_context ctx);

  boost::statechart::result react(const Events::UpToDate& event);
  boost::statechart::result react(const Events::DownloadMap& event);
};

} // namespace States
