#include "sm/States/MapDownload.h"

#include "fmu/MapStorage.h"
#include "sm/States/CancelDownload.h"
#include "sm/States/MapUpdateCheck.h"
#include "sm/States/PendingUpdate.h"
#include "sm/States/ServerError.h"
#include "sm/States/UsbBlocked.h"
#include "sm/States/UsbFull.h"
#include "sm/States/UsbTooSmall.h"
#include "ui/IUi.h"

#include "Log.h"

namespace States {

MapDownload::MapDownload(my_context ctx) : my_base(ctx)
{
  LOG(Info) << "Entered MapDownload state";

  // The map the user chose takes precedence over one still downloading.
  MapInfo::Id mapId;
  if (const auto* request = dynamic_cast<const Events::DownloadMap*>(triggering_event()))
    mapId = request->mapId;
  else if (const MapInfo downloading = DownloadingMap(); downloading.Valid())
    mapId = downloading.id;

  // The update manager downloads a stored map that is available, or resumes
  // one that is downloading; it must not be asked for anything else.
  if (mapId.empty()) {
    LOG(Warning) << "No map to download";
    post_event(Events::NoMapToDownload());
    return;
  }
  const MapInfo map = MapStorage::Get().GetMap(mapId);
  if (map.state != MapInfo::Available && map.state != MapInfo::Downloading) {
    LOG(Warning) << "Map: " << mapId << " cannot be downloaded in state: " << map.state;
    post_event(Events::NoMapToDownload());
    return;
  }
  context<Common>().DownloadMap(mapId);
}

boost::statechart::result MapDownload::react(const Events::MapDownloadStarted&)
{
  LOG(Info) << "Got MapDownloadStarted event";
  context<Common>().GetUi()->SetState(State::MapDownload);
  return discard_event();
}

boost::statechart::result MapDownload::react(const Events::UsbBlocked&)
{
  LOG(Info) << "Got UsbBlocked event: switching to UsbBlocked state";
  return transit<UsbBlocked>();
}

boost::statechart::result MapDownload::react(const Events::UsbFull&)
{
  LOG(Info) << "Got UsbFull event: switching to UsbFull state";
  return transit<UsbFull>();
}

boost::statechart::result MapDownload::react(const Events::UsbTooSmall&)
{
  LOG(Info) << "Got UsbTooSmall event: switching to UsbTooSmall state";
  return transit<UsbTooSmall>();
}

boost::statechart::result MapDownload::react(const Events::ServerError&)
{
  LOG(Info) << "Got ServerError event: switching to ServerError state";
  return transit<ServerError>();
}

boost::statechart::result MapDownload::react(const Events::FinishDownload&)
{
  LOG(Info) << "Got FinishDownload event: switching to PendingUpdate state";
  return transit<PendingUpdate>();
}

boost::statechart::result MapDownload::react(const Events::CancelDownload&)
{
  LOG(Info) << "Got CancelDownload event: switching to CancelDownload state";
  return transit<CancelDownload>();
}

boost::statechart::result MapDownload::react(const Events::Quit&)
{
  LOG(Info) << "Got Quit event: confirming application quit";
  context<Common>().GetUi()->ConfirmQuit();
  return discard_event();
}

boost::statechart::result MapDownload::react(const Events::NoMapToDownload&)
{
  LOG(Info) << "Got NoMapToDownload event: switching to MapUpdateCheck state";
  return transit<MapUpdateCheck>();
}

} // namespace States
