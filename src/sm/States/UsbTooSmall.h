#pragma once

#include "sm/Events.h"
#include "sm/States/Common.h"

#include <boost/mpl/list.hpp>
#include <boost/statechart/custom_reaction.hpp>
#include <boost/statechart/state.hpp>

namespace States {

// A download stopped because the map is larger than the whole stick. Waits
// for the user to cancel the download.
struct UsbTooSmall : boost::statechart::state<UsbTooSmall, Common>
{
  using reactions = boost::mpl::list<boost::statechart::custom_reaction<Events::CancelDownload>>;

  explicit UsbTooSmall(my_context ctx);

  boost::statechart::result react(const Events::CancelDownload& event);
};

} // namespace States
