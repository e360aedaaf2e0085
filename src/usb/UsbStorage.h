#pragma once

#include "usb/UsbInfo.h"

#include <cstdint>
#include <functional>
#include <mutex>
#include <unordered_map>

// The process-wide store of the sticks that are plugged in and checked, with
// the one active stick (the stick the update check and the download work on).
// Every operation runs under one lock and reads hand out copies. A change of
// some fields of a stored record is made with one call (ModifyUsb, ActivateUsb,
// UpdateUsbSpace), never by reading a copy and writing it back, which would
// undo what another thread wrote meanwhile.
//
// Who writes what:
// - the USB thread (UsbManager) stores the whole record of a stick it has
//   just checked (UpdateUsb: path, state, capacity, available; an active
//   stick stays active), and refreshes the capacity and available bytes of
//   the active stick (UpdateUsbSpace);
// - the main thread (the state machine and the windows) chooses the active
//   stick (ActivateUsb), marks the active stick as holding no metadata when
//   the update check found none (ModifyUsb: state) and forgets a stick that
//   was pulled (RemoveUsb);
// - the update manager's thread only reads.
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

  // Changes the stored record of the stick `id` in one step: `change` is
  // called under the store's lock with the record (it must not call the
  // store), and what it leaves is stored with the rules of UpdateUsb (setting
  // the active flag makes the stick the active one). The id stays what it
  // is. Returns false, calling nothing and storing nothing, when the stick is
  // not stored. A state outside the three values throws std::logic_error and
  // leaves the record as it was.
  bool ModifyUsb(UsbInfo::Id id, const std::function<void(UsbInfo&)>& change);

  // Makes a stored stick the active one and touches nothing else of it;
  // returns false when the stick is not stored.
  bool ActivateUsb(UsbInfo::Id id);

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
  // Stores a record whose state is supported and whose id is not 0, keeping
  // one active stick; the lock is held.
  void Store(UsbInfo info);

  mutable std::mutex mutex;
  Usbs usbs;
  UsbInfo::Id activeId = 0;
};
