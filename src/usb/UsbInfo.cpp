#include "usb/UsbInfo.h"

#include "EnumNames.h"
#include <ostream>

void UsbInfo::RegisterMetaTypes()
{
  // UsbInfo::Id is std::uint64_t: both spellings name the same type, so a
  // signal declared with either travels through a queued connection.
  qRegisterMetaType<UsbInfo::Id>("UsbInfo::Id");
  qRegisterMetaType<std::uint64_t>("uint64_t");
  qRegisterMetaType<UsbInfo::State>("UsbInfo::State");
  qRegisterMetaType<UsbInfo>("UsbInfo");
}

bool IsSupported(UsbInfo::State state)
{
  switch (state) {
  case UsbInfo::InvalidMetadata:
  case UsbInfo::NoMetadata:
  case UsbInfo::ValidMetadata:
    return true;
  }
  return false;
}

namespace {

const EnumName<UsbInfo::State> StateNames[] = {
    ENUM_NAME(UsbInfo, InvalidMetadata), ENUM_NAME(UsbInfo, NoMetadata), ENUM_NAME(UsbInfo, ValidMetadata)};

} // namespace

std::ostream& operator<<(std::ostream& os, UsbInfo::State state)
{
  return WriteName(os, state, StateNames);
}

bool operator==(const UsbInfo& a, const UsbInfo& b)
{
  return a.id == b.id && a.path == b.path && a.capacity == b.capacity && a.available == b.available &&
         a.state == b.state && a.active == b.active;
}

bool operator!=(const UsbInfo& a, const UsbInfo& b)
{
  return !(a == b);
}
