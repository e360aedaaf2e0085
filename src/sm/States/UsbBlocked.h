#pragma once

#include "sm/Events.h"
#include "sm/States/Common.h"

#include <boost/mpl/list.hpp>
#include <boost/statechart/custom_reaction.hpp>
#include <boost/statechart/state.hpp>

namespace States {

// A download stopped because the stick could not be written although it is
// there and has room. Waits for the user to cancel the download.
struct UsbBlocked : boost::statechart::state<UsbBlocked, Common>
{
  using reactions = boost::mpl::list<boost::statechart::custom_reaction<Events::CancelDownload>,
                                     boost::statechart::custom_reaction<Events::Quit>>;

  explicit UsbBlocked(my_context ctx);

  boost::statechart::result react(const Events::CancelDownload& event);
  boost::statechart::result react(const Events::Quit& event);
};

} // namespace States
