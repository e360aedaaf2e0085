#include "devicediscovery/VolumePoller.h"

#include "Log.h"

#include <atomic>
#include <set>
#include <utility>

namespace {

// The id handed over for one appearance of a mount. The kernel hands out
// mount ids and anonymous device numbers again, so a stick pulled and plugged
// in again can look exactly like the mount before it; it must still be a new
// stick to the receiver, or a late removal of the old one would take the new
// one with it. The serial is shared by every poller of the process.
std::uint64_t AppearanceId(std::uint64_t mountKey)
{
  static std::atomic<std::uint64_t> serial{0};
  std::uint64_t id = mountKey ^ ((++serial) * 0x9E3779B97F4A7C15ull);
  // Mix (splitmix64's finaliser) so that nearby serials give distant ids.
  id = (id ^ (id >> 30)) * 0xBF58476D1CE4E5B9ull;
  id = (id ^ (id >> 27)) * 0x94D049BB133111EBull;
  id ^= id >> 31;
  return id == 0 ? 1 : id;
}

} // namespace

VolumePoller::VolumePoller(QObject* reportTo, std::chrono::milliseconds interval, VolumeSource volumes)
    : receiver(reportTo), source(std::move(volumes)), timer(this)
{
  timer.setInterval(static_cast<int>(interval.count()));
  connect(&timer, &QTimer::timeout, this, &VolumePoller::Poll);
}

void VolumePoller::Start()
{
  LOG(Debug) << "Watching mounts in: " << source.MountTablePath() << ", devices in: " << source.SysfsRoot();
  Poll();
  timer.start();
}

void VolumePoller::Poll()
{
  std::vector<DeviceDiscovery::DeviceProperties> volumes;
  if (!source.List(volumes)) {
    // A table that cannot be read this time says nothing about the volumes:
    // keep what is known rather than report every stick gone.
    if (!readFailed)
      LOG(Warning) << "Failed to read mount table: " << source.MountTablePath();
    readFailed = true;
    return;
  }
  readFailed = false;

  std::map<std::uint64_t, DeviceDiscovery::DeviceProperties> present;
  for (auto& volume : volumes)
    if (DeviceDiscovery::IsRemovableMassStorage(volume))
      present.emplace(volume.id, std::move(volume));

  for (auto it = known.begin(); it != known.end();) {
    if (present.count(it->first) == 0) {
      LOG(Debug) << "Mass storage gone: " << it->second;
      Hand("MassStorageGo", it->second);
      it = known.erase(it);
    } else {
      ++it;
    }
  }
  for (auto& [key, volume] : present) {
    if (known.count(key) != 0)
      continue;
    volume.id = AppearanceId(key);
    LOG(Debug) << "Mass storage found: " << volume;
    Hand("MassStorageCome", volume);
    known.emplace(key, volume);
  }
}

void VolumePoller::Hand(const char* method, const DeviceDiscovery::DeviceProperties& volume)
{
  if (!QMetaObject::invokeMethod(receiver, method, Qt::QueuedConnection,
                                 Q_ARG(DeviceDiscovery::DeviceProperties, volume)))
    LOG(Error) << "Failed to hand over mass storage: " << method;
}
