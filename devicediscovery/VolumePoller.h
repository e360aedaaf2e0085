#pragma once

#include "devicediscovery/DeviceDiscovery.h"
#include "devicediscovery/VolumeSource.h"

#include <QObject>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <map>

// The worker of the discovery thread: scans the volume source at every tick
// and invokes "MassStorageCome" and "MassStorageGo" on the receiver for the
// removable mass-storage volumes that appeared and went since the last scan.
class VolumePoller : public QObject
{
  Q_OBJECT

public:
  VolumePoller(QObject* reportTo, std::chrono::milliseconds interval, VolumeSource volumes);

public slots:
  // The first scan, then one every interval.
  void Start();
  void Poll();

private:
  void Hand(const char* method, const DeviceDiscovery::DeviceProperties& volume);

  QObject* receiver;
  VolumeSource source;
  QTimer timer;
  // The volumes handed over as come, by the mount's key (VolumeSource's id),
  // with the properties (and id) they were handed over with.
  std::map<std::uint64_t, DeviceDiscovery::DeviceProperties> known;
  bool readFailed = false;
};
