#pragma once

#include <QMetaType>

#include <chrono>
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>

class QObject;
class QThread;

// Finds removable USB and SD mass-storage volumes. A polling worker on a
// thread of its own lists the mounted volumes every interval (1000 ms) and
// hands each volume that appears or goes to the receiver by queued invocation
// by name:
//
//     void MassStorageCome(DeviceDiscovery::DeviceProperties);
//     void MassStorageGo(DeviceDiscovery::DeviceProperties);
//
// (slots or Q_INVOKABLE members of the receiver). Volumes that are already
// mounted when the discovery starts are handed over as coming, in the first
// scan. A volume goes with the same properties it came with.
//
// The volumes are read from the mount table (/proc/self/mountinfo, or the file
// that $LUMORA_MOUNTINFO names) and the device tree (/sys, or the folder that
// $LUMORA_SYSFS names), both looked up when the discovery starts.
class DeviceDiscovery
{
public:
  struct DeviceProperties
  {
    // Stays the same for as long as the volume stays mounted; a volume that
    // is mounted again (even at the same place) gets a new one. Never 0.
    std::uint64_t id = 0;
    std::string protocol;   // "USB", "Secure Digital", or "" for other buses
    bool ejectable = false; // on a bus that lets the medium go while running
    bool removable = false; // the medium is removable
    std::string volumeName;
    std::string path; // the mount path, UTF-8
  };

  static constexpr std::chrono::milliseconds DefaultInterval{1000};

  // `receiver` must outlive the discovery. The interval can be shortened for
  // tests; the application uses the default.
  explicit DeviceDiscovery(QObject* reportTo, std::chrono::milliseconds pollInterval = DefaultInterval);
  ~DeviceDiscovery();

  DeviceDiscovery(const DeviceDiscovery&) = delete;
  DeviceDiscovery& operator=(const DeviceDiscovery&) = delete;

  // Starts the thread and its first scan. False when it already runs.
  bool Start();
  // Stops the polling and waits for the thread; nothing is reported after
  // it returns. Start may be called again afterwards (it scans afresh).
  void Stop();
  bool Running() const;

  // The volumes the discovery hands over: USB or SD, removable and ejectable.
  static bool IsRemovableMassStorage(const DeviceProperties& properties);

  // Registers "DeviceDiscovery::DeviceProperties" for queued invocations.
  static void RegisterMetaTypes();

private:
  QObject* receiver;
  std::chrono::milliseconds interval;
  std::unique_ptr<QThread> thread;
};

bool operator==(const DeviceDiscovery::DeviceProperties& a, const DeviceDiscovery::DeviceProperties& b);
std::ostream& operator<<(std::ostream& os, const DeviceDiscovery::DeviceProperties& properties);

Q_DECLARE_METATYPE(DeviceDiscovery::DeviceProperties)
