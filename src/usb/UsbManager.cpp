#include "usb/UsbManager.h"

#include "cfg/Config.h"
#include "usb/StickCheck.h"
#include "usb/UsbStorage.h"

#include "Log.h"

#include <boost/filesystem/operations.hpp>

#include <QEvent>
#include <QThread>

#include <sys/stat.h>

namespace {

// How often the manager looks again for a mount path that is not there yet.
constexpr std::chrono::milliseconds MountPathRetry{500};
constexpr std::chrono::milliseconds SpaceRefreshInterval{1000};

bool IsFolder(const std::string& path)
{
  struct stat status;
  return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

} // namespace

UsbManager::UsbManager(QObject* parent)
    : QObject(parent), updateDir(Config::get().usbUpdateDir), checksumFile(Config::get().usbChecksumFile),
      spaceTimer(this), discoveryInterval(DeviceDiscovery::DefaultInterval), mountPathRetry(MountPathRetry)
{
  UsbInfo::RegisterMetaTypes();
  DeviceDiscovery::RegisterMetaTypes();

  spaceTimer.setInterval(static_cast<int>(SpaceRefreshInterval.count()));
  connect(&spaceTimer, &QTimer::timeout, this, &UsbManager::UpdateUsbSpace);
  spaceTimer.start();
}

UsbManager::~UsbManager()
{
  std::lock_guard<std::mutex> lock(discoveryMutex);
  discovery.reset();
}

bool UsbManager::event(QEvent* event)
{
  // Sent on the old thread just before the move; the queued call travels
  // with the manager and runs on its new thread.
  if (event->type() == QEvent::ThreadChange)
    QMetaObject::invokeMethod(
        this, [this] { StopSpaceRefreshWithThread(); }, Qt::QueuedConnection);
  return QObject::event(event);
}

void UsbManager::StopSpaceRefreshWithThread()
{
  // The owner deletes the manager on its own thread after the USB thread has
  // ended; a timer can only be stopped on the thread it runs on, so stop it
  // as the thread finishes.
  connect(
      QThread::currentThread(), &QThread::finished, this, [this] { spaceTimer.stop(); },
      Qt::DirectConnection);
}

void UsbManager::StartUsbDiscovery()
{
  std::lock_guard<std::mutex> lock(discoveryMutex);
  if (discovery) {
    LOG(Debug) << "USB discovery is already in progress";
    return;
  }
  LOG(Info) << "Starting USB discovery";
  try {
    discovery = std::make_unique<DeviceDiscovery>(this, discoveryInterval);
    discovery->Start();
  } catch (const std::exception& e) {
    LOG(Error) << "Failed to start USB discovery: " << e.what();
    discovery.reset();
  }
}

void UsbManager::SetDiscoveryInterval(std::chrono::milliseconds interval)
{
  discoveryInterval = interval;
}

void UsbManager::SetMountPathRetry(std::chrono::milliseconds interval)
{
  mountPathRetry = interval;
}

void UsbManager::SetCheckHook(std::function<void(const std::string&)> hook)
{
  checkHook = std::move(hook);
}

void UsbManager::MassStorageCome(DeviceDiscovery::DeviceProperties properties)
{
  LOG(Info) << "Mass storage device appeared: " << properties;
  if (properties.id == 0) {
    LOG(Warning) << "Ignoring mass storage device without id";
    return;
  }
  const UsbInfo::Id id = properties.id;
  waiting[id] = std::move(properties);
  WaitForMountPath(id);
}

void UsbManager::MassStorageGo(DeviceDiscovery::DeviceProperties properties)
{
  LOG(Info) << "Mass storage device disappeared: " << properties;
  waiting.erase(properties.id);
  emit UsbRemoved(properties.id);
}

void UsbManager::WaitForMountPath(UsbInfo::Id id)
{
  const auto found = waiting.find(id);
  if (found == waiting.end())
    return; // gone meanwhile
  if (!IsFolder(found->second.path)) {
    LOG(Debug) << "Waiting for mount path: " << found->second.path;
    QTimer::singleShot(mountPathRetry, this, [this, id] { WaitForMountPath(id); });
    return;
  }
  const DeviceDiscovery::DeviceProperties properties = found->second;
  waiting.erase(found);
  CheckUsb(properties);
}

void UsbManager::CheckUsb(const DeviceDiscovery::DeviceProperties& properties)
{
  emit UsbCheckStarted();
  LOG(Info) << "Checking usb: " << properties.path;

  StickCheck check(properties.path, updateDir, checksumFile);
  if (checkHook)
    check.SetBeforeHashing([this, path = properties.path] { checkHook(path); });
  const StickCheck::Result result = check.Run();
  if (result.state == UsbInfo::InvalidMetadata)
    LOG(Warning) << "Usb metadata is invalid: " << properties.path << ": " << result.reason;
  else if (result.state == UsbInfo::NoMetadata)
    LOG(Info) << "Usb has no metadata: " << properties.path << ": " << result.reason;

  UsbInfo usb;
  usb.id = properties.id;
  usb.path = properties.path;
  usb.state = result.state;
  usb.active = false;
  boost::system::error_code error;
  const auto space = boost::filesystem::space(properties.path, error);
  if (error) {
    LOG(Warning) << "Failed to get space info of path: " << properties.path << ", " << error.message();
  } else {
    usb.capacity = space.capacity;
    usb.available = space.available;
  }

  UsbStorage::Get().UpdateUsb(usb);
  LOG(Info) << "Usb check complete: " << properties.path << " with state: " << result.state;
  emit UsbCheckComplete(usb.id);
}

void UsbManager::UpdateUsbSpace()
{
  const UsbInfo active = UsbStorage::Get().GetActiveUsb();
  if (!active.Valid())
    return;
  boost::system::error_code error;
  const auto space = boost::filesystem::space(active.path, error);
  if (error) {
    // Usually the stick has just been pulled; its removal follows.
    LOG(Debug) << "Failed to get space info of path: " << active.path << ", " << error.message();
    return;
  }
  UsbStorage::Get().UpdateUsbSpace(active.id, space.capacity, space.available);
}
