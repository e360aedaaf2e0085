#pragma once

#include "sm/Events.h"
#include "sm/States/NetworkFailure.h"

#include <boost/mpl/list.hpp>
#include <boost/statechart/custom_reaction.hpp>

namespace States {

// The map-update service could not be reached during a check or a download.
// Waits for the user's retry (which resumes the activity that failed) or
// cancel, for the stick to be removed, or for a new stick.
struct NoConnection : NetworkFailure<NoConnection>
{
  using reactions = boost::mpl::list<boost::statechart::custom_reaction<Events::Retry>,
                                     boost::statechart::custom_reaction<Events::CancelDownload>,
                                     boost::statechart::custom_reaction<Events::UsbRemove>,
                                     boost::statechart::custom_reaction<Events::UsbInsert>,
                                     boost::statechart::custom_reaction<Events::InvalidMetadata>,
                                     boost::statechart::custom_reaction<Events::Quit>>;

  explicit NoConnection(my_context ctx);

  using NetworkFailure::react;
  boost::statechart::result react(const Events::UsbInsert& event);
  boost::statechart::result react(const Events::InvalidMetadata& event);
};

} // namespace States
