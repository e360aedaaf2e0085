#pragma once

#include "sm/Events.h"
#include "sm/States/Common.h"

#include <boost/mpl/list.hpp>
#include <boost/statechart/custom_reaction.hpp>
#include <boost/statechart/state.hpp>

namespace States {

// The map operation being cancelled (a running or failed download, or a
// downloaded map waiting for the vehicle) is aborted and its files removed
// from the stick. When the removal has ended, the machine goes to a map check
// for another stick or back to the outcome it showed before the download; a
// removal that left files behind goes to UsbBlocked, from which the user can
// cancel again; a stick found gone starts a new check.
struct CancelDownload : boost::statechart::state<CancelDownload, Common>
{
  using reactions = boost::mpl::list<boost::statechart::custom_reaction<Events::CancelDownload>,
                                     boost::statechart::custom_reaction<Events::MapDeletionStarted>,
                                     boost::statechart::custom_reaction<Events::UsbRemove>,
                                     boost::statechart::custom_reaction<Events::Quit>,
                                     boost::statechart::custom_reaction<Events::FinishDownload>,
                                     boost::statechart::custom_reaction<Events::UsbBlocked>,
                                     boost::statechart::custom_reaction<Events::UsbFull>,
                                     boost::statechart::custom_reaction<Events::UsbTooSmall>,
                                     boost::statechart::custom_reaction<Events::NoConnection>,
                                     boost::statechart::custom_reaction<Events::ServerError>>;

  explicit CancelDownload(my_context ctx);

  boost::statechart::result react(const Events::CancelDownload& event);
  boost::statechart::result react(const Events::MapDeletionStarted& event);
  boost::statechart::result react(const Events::UsbRemove& event);
  boost::statechart::result react(const Events::Quit& event);
  // The removal can also end with another result (Ok when there was nothing
  // to remove): it has ended all the same, and the state is left as after a
  // removal; UsbBlocked (files stayed behind) goes to UsbBlocked.
  boost::statechart::result react(const Events::FinishDownload& event);
  boost::statechart::result react(const Events::UsbBlocked& event);
  boost::statechart::result react(const Events::UsbFull& event);
  boost::statechart::result react(const Events::UsbTooSmall& event);
  boost::statechart::result react(const Events::NoConnection& event);
  boost::statechart::result react(const Events::ServerError& event);

private:
  // Makes another stick with metadata active and checks it when the active
  // stick has none; otherwise returns to the outcome shown before.
  boost::statechart::result EndRemoval();
};

} // namespace States
