#pragma once

#include "sm/Events.h"
#include "sm/States/NetworkOperation.h"

#include <boost/mpl/list.hpp>
#include <boost/statechart/custom_reaction.hpp>
#include <boost/statechart/state.hpp>

namespace States {

// One map is being downloaded onto the active stick. The entry asks the
// update manager to download the map the user chose (the map id of the
// DownloadMap event), or, entered again through the history after a
// failure, to resume the map that is still downloading. Shows the download
// once the manager reports it started.
struct MapDownload : boost::statechart::state<MapDownload, NetworkOperation>
{
  using reactions = boost::mpl::list<boost::statechart::custom_reaction<Events::MapDownloadStarted>,
                                     boost::statechart::custom_reaction<Events::UsbBlocked>,
                                     boost::statechart::custom_reaction<Events::UsbFull>,
                                     boost::statechart::custom_reaction<Events::UsbTooSmall>,
                                     boost::statechart::custom_reaction<Events::ServerError>,
                                     boost::statechart::custom_reaction<Events::FinishDownload>,
                                     boost::statechart::custom_reaction<Events::CancelDownload>,
                                     boost::statechart::custom_reaction<Events::Quit>,
                                     boost::statechart::custom_reaction<Events::NoMapToDownload>>;

  explicit MapDownload(my_context ctx);

  boost::statechart::result react(const Events::MapDownloadStarted& event);
  boost::statechart::result react(const Events::UsbBlocked& event);
  boost::statechart::result react(const Events::UsbFull& event);
  boost::statechart::result react(const Events::UsbTooSmall& event);
  boost::statechart::result react(const Events::ServerError& event);
  boost::statechart::result react(const Events::FinishDownload& event);
  boost::statechart::result react(const Events::CancelDownload& event);
  boost::statechart::result react(const Events::Quit& event);
  boost::statechart::result react(const Events::NoMapToDownload& event);
};

} // namespace States
