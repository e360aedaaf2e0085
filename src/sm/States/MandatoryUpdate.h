#pragma once

#include "sm/Events.h"
#include "sm/States/MapUpdatePresent.h"

#include <boost/mpl/list.hpp>
#include <boost/statechart/custom_reaction.hpp>
#include <boost/statechart/state.hpp>

namespace States {

// The vehicle's map must be updated: a mandatory map waits to be downloaded.
struct MandatoryUpdate : boost::statechart::state<MandatoryUpdate, MapUpdatePresent>
{
  using reactions = boost::mpl::list<boost::statechart::custom_reaction<Events::MandatoryUpdate>,
                                     boost::statechart::custom_reaction<Events::DownloadMap>,
                                     boost::statechart::custom_reaction<Events::UsbRemove>>;

  explicit MandatoryUpdate(my_context ctx);

  boost::statechart::result react(const Events::MandatoryUpdate& event);
  boost::statechart::result react(const Events::DownloadMap& event);
  boost::statechart::result react(const Events::UsbRemove& event);
};

} // namespace States
