#pragma once

#include <QMetaType>

#include <cstdint>
#include <iosfwd>
#include <string>

// One stick as the application knows it. A plain value: the store hands out
// copies, and a change of some fields of a stored stick goes through the
// store's own calls (UsbStorage::ModifyUsb and its kin).
struct UsbInfo
{
  // The device id of a stick, stable for as long as it stays mounted; 0 means
  // no stick.
  using Id = std::uint64_t;

  // What the check of the stick's update folder found.
  enum State : std::int32_t
  {
    InvalidMetadata = 0,
    NoMetadata = 1,
    ValidMetadata = 2
  };

  Id id = 0;
  std::string path;            // mount path, UTF-8
  std::uint64_t capacity = 0;  // bytes
  std::uint64_t available = 0; // bytes
  State state = NoMetadata;
  bool active = false; // set to make the stick the active one

  bool Valid() const { return id != 0; }

  // Registers "UsbInfo::Id", "uint64_t", "UsbInfo::State" and "UsbInfo" for
  // queued signals and invocations. Safe to call any number of times.
  static void RegisterMetaTypes();
};

// True for the three values of UsbInfo::State.
bool IsSupported(UsbInfo::State state);

// Writes "InvalidMetadata", "NoMetadata" or "ValidMetadata"; any other value
// writes nothing.
std::ostream& operator<<(std::ostream& os, UsbInfo::State state);

bool operator==(const UsbInfo& a, const UsbInfo& b);
bool operator!=(const UsbInfo& a, const UsbInfo& b);

Q_DECLARE_METATYPE(UsbInfo)
Q_DECLARE_METATYPE(UsbInfo::State)
