#include "ui/State.h"

#include <cstdint>
#include <ostream>

std::ostream& operator<<(std::ostream& os, State state)
{
  static const char* const names[] = {
      "CancelDownload",  "MandatoryUpdate", "MapDownload",    "MapUpdateCheck",
      "MetadataCorrupt", "NoConnection",    "NoSubscription", "OptionalUpdate",
      "PendingUpdate",   "RootUpdate",      "ServerError",    "SubscriptionExpired",
      "Unknown",         "UpToDate",        "UsbBlocked",     "UsbCheck",
      "UsbFull",         "UsbRemoved",      "UsbTooSmall"};
  const auto index = static_cast<std::uint32_t>(state);
  if (index < sizeof(names) / sizeof(names[0]))
    os << names[index];
  return os;
}
