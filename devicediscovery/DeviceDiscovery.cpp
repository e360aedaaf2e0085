#include "devicediscovery/DeviceDiscovery.h"

#include "devicediscovery/VolumePoller.h"
#include "devicediscovery/VolumeSource.h"

#include "Log.h"

#include <QThread>

#include <ostream>

DeviceDiscovery::DeviceDiscovery(QObject* reportTo, std::chrono::milliseconds pollInterval)
    : receiver(reportTo), interval(pollInterval)
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

  thread = std::make_unique<QThread>();
  thread->setObjectName(QStringLiteral("DeviceDiscovery"));
  auto* poller = new VolumePoller(receiver, interval, VolumeSource());
  poller->moveToThread(thread.get());
  QObject::connect(thread.get(), &QThread::started, poller, &VolumePoller::Start);
  QObject::connect(thread.get(), &QThread::finished, poller, &QObject::deleteLater);
  thread->start();
  return true;
}

void DeviceDiscovery::Stop()
{
  if (!thread)
    return;
  thread->quit();
  thread->wait();
  thread.reset();
}

bool DeviceDiscovery::Running() const
{
  return thread != nullptr;
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
