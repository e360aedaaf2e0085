#include "ui/State.h"

#include "EnumNames.h"

#include <ostream>

namespace {

const EnumName<State> StateNames[] = {
    ENUM_NAME(State, CancelDownload),  ENUM_NAME(State, MandatoryUpdate),
    ENUM_NAME(State, MapDownload),     ENUM_NAME(State, MapUpdateCheck),
    ENUM_NAME(State, MetadataCorrupt), ENUM_NAME(State, NoConnection),
    ENUM_NAME(State, NoSubscription),  ENUM_NAME(State, OptionalUpdate),
    ENUM_NAME(State, PendingUpdate),   ENUM_NAME(State, RootUpdate),
    ENUM_NAME(State, ServerError),     ENUM_NAME(State, SubscriptionExpired),
    ENUM_NAME(State, Unknown),         ENUM_NAME(State, UpToDate),
    ENUM_NAME(State, UsbBlocked),      ENUM_NAME(State, UsbCheck),
    ENUM_NAME(State, UsbFull),         ENUM_NAME(State, UsbRemoved),
    ENUM_NAME(State, UsbTooSmall)};

} // namespace

std::ostream& operator<<(std::ostream& os, State state)
{
  return WriteName(os, state, StateNames);
}
