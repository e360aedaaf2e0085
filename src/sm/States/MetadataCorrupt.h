#pragma once

#include "sm/Events.h"
#include "sm/States/Common.h"

#include <boost/mpl/list.hpp>
#include <boost/statechart/custom_reaction.hpp>
#include <boost/statechart/state.hpp>

namespace States {

// A stick's map metadata failed its check. Waits for the stick to be removed.
struct MetadataCorrupt : boost::statechart::state<MetadataCorrupt, Common>
{
  using reactions = boost::mpl::list<boost::statechart::custom_reaction<Events::UsbRemove>>;

  explicit MetadataCorrupt(my_context ctx);

  boost::statechart::result react(const Events::UsbRemove& event);
};

} // namespace States
