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
  std::lock_guard<std::mutex> lock(mutex_);
  const auto found = usbs_.find(id);
  return found == usbs_.end() ? UsbInfo() : found->second;
}

UsbInfo UsbStorage::GetActiveUsb() const
{
  std::lock_guard<std::mutex> lock(mutex_);
  const auto found = usbs_.find(active_);
  return found == usbs_.end() ? UsbInfo() : found->second;
}

UsbStorage::Usbs UsbStorage::GetUsbs(UsbInfo::State state) const
{
  if (!IsSupported(state))
    throw std::logic_error("Failed to get usbs: usb state is not supported");

  std::lock_guard<std::mutex> lock(mutex_);
  Usbs result;
  // A stick is listed under the state it has now, never under an earlier one.
  for (const auto& [id, usb] : usbs_)
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

  std::lock_guard<std::mutex> lock(mutex_);
  Store(std::move(info));
}

bool UsbStorage::ModifyUsb(UsbInfo::Id id, const std::function<void(UsbInfo&)>& change)
{
  std::lock_guard<std::mutex> lock(mutex_);
  const auto found = usbs_.find(id);
  if (found == usbs_.end())
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
    if (active_ != 0 && active_ != info.id) {
      const auto previous = usbs_.find(active_);
      if (previous != usbs_.end())
        previous->second.active = false;
    }
    active_ = info.id;
  } else if (info.id == active_) {
    // A copy taken before the stick became active must not make the store
    // disagree with itself about which stick is active.
    info.active = true;
  }
  usbs_[info.id] = std::move(info);
}

void UsbStorage::RemoveUsb(UsbInfo::Id id)
{
  LOG(Debug) << "Removing usb: " << id;

  std::lock_guard<std::mutex> lock(mutex_);
  const auto found = usbs_.find(id);
  if (found == usbs_.end())
    throw std::logic_error("Failed to remove usb: usb is not found");
  if (active_ == id)
    active_ = 0;
  usbs_.erase(found);
}

bool UsbStorage::Empty() const
{
  std::lock_guard<std::mutex> lock(mutex_);
  return usbs_.empty();
}
