#include "devicediscovery/DeviceDiscovery.h"

#include "devicediscovery/VolumePoller.h"
#include "devicediscovery/VolumeSource.h"

#include "Log.h"

#include <QThread>

#include <ostream>

DeviceDiscovery::DeviceDiscovery(QObject* receiver, std::chrono::milliseconds interval)
    : receiver_(receiver), interval_(interval)
{
  RegisterMetaTypes();
}

DeviceDiscovery::~DeviceDiscovery()
{
  Stop();
}

bool DeviceDiscovery::Start()
{
  if (Running())
    return false;

  thread_ = std::make_unique<QThread>();
  thread_->setObjectName(QStringLiteral("DeviceDiscovery"));
  auto* poller = new VolumePoller(receiver_, interval_, VolumeSource());
  poller->moveToThread(thread_.get());
  QObject::connect(thread_.get(), &QThread::started, poller, &VolumePoller::Start);
  QObject::connect(thread_.get(), &QThread::finished, poller, &QObject::deleteLater);
  thread_->start();
  return true;
}

void DeviceDiscovery::Stop()
{
  if (!thread_)
    return;
  thread_->quit();
  thread_->wait();
  thread_.reset();
}

bool DeviceDiscovery::Running() const
{
  return thread_ != nullptr;
}

bool DeviceDiscovery::IsRemovableMassStorage(const DeviceProperties& properties)
{
  return (properties.protocol == "USB" || properties.protocol == "Secure Digital") && properties.removable &&
         properties.ejectable;
}

void DeviceDiscovery::RegisterMetaTypes()
{
  qRegisterMetaType<DeviceDiscovery::DeviceProperties>("DeviceDiscovery::DeviceProperties");
}

bool operator==(const DeviceDiscovery::DeviceProperties& a, const DeviceDiscovery::DeviceProperties& b)
{
  return a.id == b.id && a.protocol == b.protocol && a.ejectable == b.ejectable &&
         a.removable == b.removable && a.volumeName == b.volumeName && a.path == b.path;
}

std::ostream& operator<<(std::ostream& os, const DeviceDiscovery::DeviceProperties& properties)
{
  return os << "id: " << properties.id << ", protocol: " << properties.protocol
            << ", volume: " << properties.volumeName << ", path: " << properties.path;
}
