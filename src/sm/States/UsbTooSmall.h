#pragma once

#include "sm/Events.h"
#include "sm/States/Common.h"

#include <boost/mpl/list.hpp>
#include <boost/statechart/custom_reaction.hpp>
#include <boost/statechart/state.hpp>

namespace States {

// A download stopped because the map is larger than the whole stick. Waits
// for the user to cancel the download, or for the stick to go: the next
// stick then gets a check of its own.
struct UsbTooSmall : boost::statechart::state<UsbTooSmall, Common>
{
  using reactions = boost::mpl::list<boost::statechart::custom_reaction<Events::CancelDownload>,
                                     boost::statechart::custom_reaction<Events::UsbRemove>>;

  explicit UsbTooSmall(my_context ctx);

  boost::statechart::result react(const Events::CancelDownload& event);
  boost::statechart::result react(const Events::UsbRemove& event);
};

} // namespace States
