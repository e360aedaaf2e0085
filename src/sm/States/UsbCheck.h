#pragma once

#include "sm/Events.h"
#include "sm/States/Common.h"

#include <boost/mpl/list.hpp>
#include <boost/statechart/custom_reaction.hpp>
#include <boost/statechart/state.hpp>

namespace States {

// A newly plugged-in stick is being checked against its checksum file.
struct UsbCheck : boost::statechart::state<UsbCheck, Common>
{
  using reactions = boost::mpl::list<boost::statechart::custom_reaction<Events::InvalidMetadata>,
                                     boost::statechart::custom_reaction<Events::NoMetadata>,
                                     boost::statechart::custom_reaction<Events::ValidMetadata>,
                                     boost::statechart::custom_reaction<Events::UsbRemove>,
                                     boost::statechart::custom_reaction<Events::Quit>>;

  explicit UsbCheck(my_context ctx);

  boost::statechart::result react(const Events::InvalidMetadata& event);
  boost::statechart::result react(const Events::NoMetadata& event);
  boost::statechart::result react(const Events::ValidMetadata& event);
  boost::statechart::result react(const Events::UsbRemove& event);
  boost::statechart::result react(const Events::Quit& event);
};

} // namespace States
