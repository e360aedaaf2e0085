#pragma once

#include "sm/Events.h"
#include "sm/States/Common.h"

#include <boost/mpl/list.hpp>
#include <boost/statechart/custom_reaction.hpp>
#include <boost/statechart/state.hpp>

namespace States {

// A map has been written completely onto the stick and waits to be installed
// by the vehicle. The user may discard it, or take the stick away.
struct PendingUpdate : boost::statechart::state<PendingUpdate, Common>
{
  using reactions = boost::mpl::list<boost::statechart::custom_reaction<Events::CancelDownload>,
                                     boost::statechart::custom_reaction<Events::UsbRemove>>;

  explicit PendingUpdate(my_context ctx);

  boost::statechart::result react(const Events::CancelDownload& event);
  boost::statechart::result react(const Events::UsbRemove& event);
};

} // namespace States
