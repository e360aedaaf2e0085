#pragma once

#include "sm/Events.h"
#include "sm/States/Common.h"

#include <boost/mpl/list.hpp>
#include <boost/statechart/custom_reaction.hpp>
#include <boost/statechart/state.hpp>

namespace States {

// The map-update service could not be reached during a check or a download.
// Waits for the user's retry (which resumes the activity that failed) or
// cancel, for the stick to be removed, or for a new stick.
struct NoConnection : boost::statechart::state<NoConnection, Common>
{
  using reactions = boost::mpl::list<boost::statechart::custom_reaction<Events::Retry>,
                                     boost::statechart::custom_reaction<Events::CancelDownload>,
                                     boost::statechart::custom_reaction<Events::UsbRemove>,
                                     boost::statechart::custom_reaction<Events::UsbInsert>,
                                     boost::statechart::custom_reaction<Events::InvalidMetadata>,
                                     boost::statechart::custom_reaction<Events::Quit>>;

  explicit NoConnection(my_context ctx);

  boost::statechart::result react(const Events::Retry& event);
  boost::statechart::result react(const Events::CancelDownload& event);
  boost::statechart::result react(const Events::UsbRemove& event);
  boost::statechart::result react(const Events::UsbInsert& event);
  boost::statechart::result react(const Events::InvalidMetadata& event);
  boost::statechart::result react(const Events::Quit& event);
};

} // namespace States
