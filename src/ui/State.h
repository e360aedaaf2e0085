#pragma once

#include <cstdint>
#include <iosfwd>

// What the user interface shows: one of nineteen situations, chosen by the
// state machine and rendered by the main window, the tray icon and the popup.
// The values are in alphabetical order of their names.
enum State : std::int32_t
{
  CancelDownload = 0,
  MandatoryUpdate = 1,
  MapDownload = 2,
  MapUpdateCheck = 3,
  MetadataCorrupt = 4,
  NoConnection = 5,
  NoSubscription = 6,
  OptionalUpdate = 7,
  PendingUpdate = 8,
  RootUpdate = 9,
  ServerError = 10,
  SubscriptionExpired = 11,
  Unknown = 12, // before the first state is set; the state machine never sets it
  UpToDate = 13,
  UsbBlocked = 14,
  UsbCheck = 15,
  UsbFull = 16,
  UsbRemoved = 17,
  UsbTooSmall = 18
};

// Writes the value's name; a value outside the enumeration writes nothing.
std::ostream& operator<<(std::ostream& os, State state);
