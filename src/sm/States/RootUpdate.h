#pragma once

#include "sm/Events.h"
#include "sm/States/MapUpdatePresent.h"

#include <boost/mpl/list.hpp>
#include <boost/statechart/custom_reaction.hpp>
#include <boost/statechart/state.hpp>

namespace States {

// The root maps are offered: the check ran without a stick with metadata.
struct RootUpdate : boost::statechart::state<RootUpdate, MapUpdatePresent>
{
  using reactions = boost::mpl::list<boost::statechart::custom_reaction<Events::RootUpdate>,
                                     boost::statechart::custom_reaction<Events::UsbInsert>,
                                     boost::statechart::custom_reaction<Events::UsbRemove>,
                                     boost::statechart::custom_reaction<Events::DownloadMap>>;

  explicit RootUpdate(my_context ctx);

  boost::statechart::result react(const Events::RootUpdate& event);
  boost::statechart::result react(const Events::UsbInsert& event);
  boost::statechart::result react(const Events::UsbRemove& event);
  boost::statechart::result react(const Events::DownloadMap& event);
};

} // namespace States
