#include "usb/UsbStorage.h"

#include "Log.h"

#include <stdexcept>

UsbStorage& UsbStorage::Get()
{
  static UsbStorage storage;
  return storage;
}

UsbStorage::UsbStorage()
{
  UsbInfo::RegisterMetaTypes();
}

UsbInfo UsbStorage::GetUsb(UsbInfo::Id id) const
{
  std::lock_guard<std::mutex> lock(mutex);
  const auto found = usbs.find(id);
  return found == usbs.end() ? UsbInfo() : found->second;
}

UsbInfo UsbStorage::GetActiveUsb() const
{
  std::lock_guard<std::mutex> lock(mutex);
  const auto found = usbs.find(activeId);
  return found == usbs.end() ? UsbInfo() : found->second;
}

UsbStorage::Usbs UsbStorage::GetUsbs(UsbInfo::State state) const
{
  if (!IsSupported(state))
    throw std::logic_error("Failed to get usbs: usb state is not supported");

  std::lock_guard<std::mutex> lock(mutex);
  Usbs result;
  // A stick is listed under the state it has now, never under an earlier one.
  for (const auto& [id, usb] : usbs)
    if (usb.state == state)
      result.emplace(id, usb);
  return result;
}

void UsbStorage::UpdateUsb(UsbInfo info)
{
  if (!IsSupported(info.state))
    throw std::logic_error("Failed to update usb: usb state is not supported");
  if (!info.Valid()) {
    LOG(Warning) << "Not storing a usb record without id";
    return;
  }

  std::lock_guard<std::mutex> lock(mutex);
  Store(std::move(info));
}

bool UsbStorage::ModifyUsb(UsbInfo::Id id, const std::function<void(UsbInfo&)>& change)
{
  std::lock_guard<std::mutex> lock(mutex);
  const auto found = usbs.find(id);
  if (found == usbs.end())
    return false;
  UsbInfo info = found->second;
  change(info);
  info.id = id;
  if (!IsSupported(info.state))
    throw std::logic_error("Failed to update usb: usb state is not supported");
  Store(std::move(info));
  return true;
}

bool UsbStorage::ActivateUsb(UsbInfo::Id id)
{
  return ModifyUsb(id, [](UsbInfo& usb) { usb.active = true; });
}

bool UsbStorage::UpdateUsbSpace(UsbInfo::Id id, std::uint64_t capacity, std::uint64_t available)
{
  return ModifyUsb(id, [capacity, available](UsbInfo& usb) {
    usb.capacity = capacity;
    usb.available = available;
  });
}

void UsbStorage::Store(UsbInfo info)
{
  if (info.active) {
    if (activeId != 0 && activeId != info.id) {
      const auto previous = usbs.find(activeId);
      if (previous != usbs.end())
        previous->second.active = false;
    }
    activeId = info.id;
  } else if (info.id == activeId) {
    // A copy taken before the stick became active must not make the store
    // disagree with itself about which stick is active.
    info.active = true;
  }
  usbs[info.id] = std::move(info);
}

void UsbStorage::RemoveUsb(UsbInfo::Id id)
{
  LOG(Debug) << "Removing usb: " << id;

  std::lock_guard<std::mutex> lock(mutex);
  const auto found = usbs.find(id);
  if (found == usbs.end())
    throw std::logic_error("Failed to remove usb: usb is not found");
  if (activeId == id)
    activeId = 0;
  usbs.erase(found);
}

bool UsbStorage::Empty() const
{
  std::lock_guard<std::mutex> lock(mutex);
  return usbs.empty();
}
