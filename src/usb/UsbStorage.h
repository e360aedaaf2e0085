#pragma once

#include "usb/UsbInfo.h"

#include <cstdint>
#include <mutex>
#include <unordered_map>

// The process-wide store of the sticks that are plugged in and checked, with
// the one active stick (the stick the update check and the download work on).
// Written on the USB thread and on the main thread; every operation runs
// under one lock and reads hand out copies.
class UsbStorage
{
public:
  using Usbs = std::unordered_map<UsbInfo::Id, UsbInfo>;

  // The process-wide store, built on first use.
  static UsbStorage& Get();

  // A store of its own (the process uses Get()).
  UsbStorage();
  UsbStorage(const UsbStorage&) = delete;
  UsbStorage& operator=(const UsbStorage&) = delete;

  // A copy of the stick with that id, or the default record (id 0).
  UsbInfo GetUsb(UsbInfo::Id id) const;

  // A copy of the active stick, or the default record when none is active.
  UsbInfo GetActiveUsb() const;

  // Copies of every stick whose metadata state is `state` now. A state
  // outside the three values throws std::logic_error.
  Usbs GetUsbs(UsbInfo::State state) const;

  // Inserts the record, or replaces the stored one with the same id whole.
  // With its active flag set the stick becomes the active one and the stick
  // active before has its flag cleared; with the flag clear the active stick
  // stays what it is (the active stick's own record keeps its flag). A state
  // outside the three values throws std::logic_error; a record with id 0
  // stands for no stick and is not stored.
  void UpdateUsb(UsbInfo info);

  // Sets the capacity and available bytes of a stick that is still stored and
  // touches nothing else; returns false (storing nothing) when the stick is
  // gone. For the periodic space refresh, which must neither bring back a
  // removed stick nor undo a change written meanwhile.
  bool UpdateUsbSpace(UsbInfo::Id id, std::uint64_t capacity, std::uint64_t available);

  // Forgets the stick (and the active stick if it is this one). An id that the
  // store does not hold throws std::logic_error.
  void RemoveUsb(UsbInfo::Id id);

  // True when no stick is stored at all.
  bool Empty() const;

private:
  mutable std::mutex mutex_;
  Usbs usbs_;
  UsbInfo::Id active_ = 0;
};
