#pragma once

#include "sm/Events.h"
#include "sm/States/Common.h"

#include <boost/mpl/list.hpp>
#include <boost/statechart/custom_reaction.hpp>
#include <boost/statechart/state.hpp>

namespace States {

// A download stopped because the stick could not be written although it is
// there and has room, or a cancellation could not remove everything. Waits
// for the user to cancel (again), or for the stick to go: the next stick then
// gets a check of its own.
struct UsbBlocked : boost::statechart::state<UsbBlocked, Common>
{
  using reactions = boost::mpl::list<boost::statechart::custom_reaction<Events::CancelDownload>,
                                     boost::statechart::custom_reaction<Events::UsbRemove>,
                                     boost::statechart::custom_reaction<Events::Quit>>;

  explicit UsbBlocked(my_context ctx);

  boost::statechart::result react(const Events::CancelDownload& event);
  boost::statechart::result react(const Events::UsbRemove& event);
  boost::statechart::result react(const Events::Quit& event);
};

} // namespace States
