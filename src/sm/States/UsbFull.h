#pragma once

#include "sm/Events.h"
#include "sm/States/Common.h"

#include <boost/mpl/list.hpp>
#include <boost/statechart/custom_reaction.hpp>
#include <boost/statechart/state.hpp>

namespace States {

// A download stopped because the map, or its rest, does not fit into the
// stick's free space. Waits for the user to cancel the download.
struct UsbFull : boost::statechart::state<UsbFull, Common>
{
  using reactions = boost::mpl::list<boost::statechart::custom_reaction<Events::CancelDownload>,
                                     boost::statechart::custom_reaction<Events::UsbRemove>,
                                     boost::statechart::custom_reaction<Events::Quit>>;

  explicit UsbFull(my_context ctx);

  boost::statechart::result react(const Events::CancelDownload& event);
  boost::statechart::result react(const Events::UsbRemove& event);
  boost::statechart::result react(const Events::Quit& event);
};

} // namespace States
