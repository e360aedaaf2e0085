#include "devicediscovery/VolumePoller.h"

#include "Log.h"

#include <set>
#include <utility>

VolumePoller::VolumePoller(QObject* receiver, std::chrono::milliseconds interval, VolumeSource source)
    : receiver_(receiver), source_(std::move(source)), timer_(this)
{
  timer_.setInterval(static_cast<int>(interval.count()));
  connect(&timer_, &QTimer::timeout, this, &VolumePoller::Poll);
}

void VolumePoller::Start()
{
  LOG(Debug) << "Watching mounts in: " << source_.MountTablePath() << ", devices in: " << source_.SysfsRoot();
  Poll();
  timer_.start();
}

void VolumePoller::Poll()
{
  std::vector<DeviceDiscovery::DeviceProperties> volumes;
  if (!source_.List(volumes)) {
    // A table that cannot be read this time says nothing about the volumes:
    // keep what is known rather than report every stick gone.
    if (!readFailed_)
      LOG(Warning) << "Failed to read mount table: " << source_.MountTablePath();
    readFailed_ = true;
    return;
  }
  readFailed_ = false;

  std::map<std::uint64_t, DeviceDiscovery::DeviceProperties> present;
  for (auto& volume : volumes)
    if (DeviceDiscovery::IsRemovableMassStorage(volume))
      present.emplace(volume.id, std::move(volume));

  for (auto it = known_.begin(); it != known_.end();) {
    if (present.count(it->first) == 0) {
      LOG(Debug) << "Mass storage gone: " << it->second;
      Hand("MassStorageGo", it->second);
      it = known_.erase(it);
    } else {
      ++it;
    }
  }
  for (const auto& [id, volume] : present) {
    if (known_.count(id) != 0)
      continue;
    LOG(Debug) << "Mass storage found: " << volume;
    Hand("MassStorageCome", volume);
    known_.emplace(id, volume);
  }
}

void VolumePoller::Hand(const char* method, const DeviceDiscovery::DeviceProperties& volume)
{
  if (!QMetaObject::invokeMethod(receiver_, method, Qt::QueuedConnection,
                                 Q_ARG(DeviceDiscovery::DeviceProperties, volume)))
    LOG(Error) << "Failed to hand over mass storage: " << method;
}
