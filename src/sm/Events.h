#pragma once

#include "fmu/MapInfo.h"
#include "usb/UsbInfo.h"

#include <boost/statechart/event.hpp>

#include <utility>

// The events of the application state machine. Each is built by its source on
// the main thread and handed to the machine at once (process_event).
namespace Events {

#define LUMORA_EVENT(Name)                                                                                   \
  struct Name : boost::statechart::event<Name>                                                               \
  {                                                                                                          \
  }

// The event loop has started: leave StartUp.
LUMORA_EVENT(StartUp);
// The application was activated (brought to the front).
LUMORA_EVENT(Activate);
// The user interface language has changed.
LUMORA_EVENT(LocaleUpdate);
// The user cancels a download or discards a downloaded map; also the end of a
// removal (result Aborted).
LUMORA_EVENT(CancelDownload);
// The user asks for a retry.
LUMORA_EVENT(Retry);
// The user chose "Quit".
LUMORA_EVENT(Quit);
// The check of a newly found stick has started.
LUMORA_EVENT(UsbInsert);
// The active stick was removed, or a check or map operation found it gone.
LUMORA_EVENT(UsbRemove);
// Results of the update check.
LUMORA_EVENT(RootUpdate);
LUMORA_EVENT(NoConnection);
LUMORA_EVENT(ServerError);
LUMORA_EVENT(MandatoryUpdate);
LUMORA_EVENT(OptionalUpdate);
LUMORA_EVENT(UpToDate);
LUMORA_EVENT(NoSubscription);
LUMORA_EVENT(SubscriptionExpired);
// A map operation has started: a download (or its resumption), or a removal.
LUMORA_EVENT(MapDownloadStarted);
LUMORA_EVENT(MapDeletionStarted);
// Results of a map operation.
LUMORA_EVENT(FinishDownload);
LUMORA_EVENT(UsbBlocked);
LUMORA_EVENT(UsbFull);
LUMORA_EVENT(UsbTooSmall);
// The download state was entered without a map it could download; it goes
// back to a map check. Posted by that state itself.
LUMORA_EVENT(NoMapToDownload);

#undef LUMORA_EVENT

// The user confirmed downloading a map.
struct DownloadMap : boost::statechart::event<DownloadMap>
{
  explicit DownloadMap(MapInfo::Id mapId) : mapId(std::move(mapId)) {}

  MapInfo::Id mapId;
};

// A stick's metadata state, reported by the check of a stick (usbId names the
// stick) or by an update check (usbId 0: it concerns the active stick).
template <typename Derived>
struct MetadataEvent : boost::statechart::event<Derived>
{
  explicit MetadataEvent(UsbInfo::Id usbId = 0) : usbId(usbId) {}

  UsbInfo::Id usbId;
};

struct ValidMetadata : MetadataEvent<ValidMetadata>
{
  using MetadataEvent::MetadataEvent;
};

struct NoMetadata : MetadataEvent<NoMetadata>
{
  using MetadataEvent::MetadataEvent;
};

struct InvalidMetadata : MetadataEvent<InvalidMetadata>
{
  using MetadataEvent::MetadataEvent;
};

} // namespace Events
