#pragma once

#include "sm/Events.h"
#include "sm/States/NetworkOperation.h"
#include "sm/States/StickQuitConfirmation.h"

#include <boost/mpl/list.hpp>
#include <boost/statechart/custom_reaction.hpp>
#include <boost/statechart/state.hpp>

namespace States {

// Runs one map check and waits for its outcome: a related check for the
// active stick, or a root check when no stick with metadata is active.
struct MapUpdateCheck : boost::statechart::state<MapUpdateCheck, NetworkOperation>,
                        StickQuitConfirmation<MapUpdateCheck>
{
  using reactions = boost::mpl::list<boost::statechart::custom_reaction<Events::InvalidMetadata>,
                                     boost::statechart::custom_reaction<Events::NoMetadata>,
                                     boost::statechart::custom_reaction<Events::ValidMetadata>,
                                     boost::statechart::custom_reaction<Events::ServerError>,
                                     boost::statechart::custom_reaction<Events::NoSubscription>,
                                     boost::statechart::custom_reaction<Events::SubscriptionExpired>,
                                     boost::statechart::custom_reaction<Events::RootUpdate>,
                                     boost::statechart::custom_reaction<Events::UpToDate>,
                                     boost::statechart::custom_reaction<Events::OptionalUpdate>,
                                     boost::statechart::custom_reaction<Events::MandatoryUpdate>,
                                     boost::statechart::custom_reaction<Events::Quit>>;

  explicit MapUpdateCheck(my_context ctx);

  boost::statechart::result react(const Events::InvalidMetadata& event);
  boost::statechart::result react(const Events::NoMetadata& event);
  // A stick with metadata that became the active one while the check ran
  // for the sticks before it is checked anew; any other is left alone.
  boost::statechart::result react(const Events::ValidMetadata& event);
  boost::statechart::result react(const Events::ServerError& event);
  boost::statechart::result react(const Events::NoSubscription& event);
  boost::statechart::result react(const Events::SubscriptionExpired& event);
  boost::statechart::result react(const Events::RootUpdate& event);
  boost::statechart::result react(const Events::UpToDate& event);
  boost::statechart::result react(const Events::OptionalUpdate& event);
  boost::statechart::result react(const Events::MandatoryUpdate& event);
  using StickQuitConfirmation::react;
};

} // namespace States
