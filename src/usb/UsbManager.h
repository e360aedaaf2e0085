#pragma once

#include "devicediscovery/DeviceDiscovery.h"
#include "usb/UsbInfo.h"

#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

// Finds sticks, checks them and keeps the stick store's space figures fresh.
//
// Built on the main thread and then moved to a thread of its own (the USB
// thread); its slots and signals run there. StartUsbDiscovery is the one call
// made from the main thread.
//
// For each removable volume that the discovery reports, the manager waits
// until its mount path exists, emits UsbCheckStarted, checks the update
// folder against the checksum file (see StickCheck), stores the stick in
// UsbStorage (metadata state, capacity and available bytes, active flag
// clear) and emits UsbCheckComplete with its id. Every UsbCheckStarted is
// followed by exactly one UsbCheckComplete: a stick pulled during its check
// is stored as InvalidMetadata, and its UsbRemoved follows when the discovery
// reports it gone. A volume that goes is reported with UsbRemoved, also when
// it went before its check began (then without UsbCheckStarted before it).
// The manager never removes a stick from the store; that is left to the
// receiver of UsbRemoved.
class UsbManager : public QObject
{
  Q_OBJECT

public:
  explicit UsbManager(QObject* parent = nullptr);
  ~UsbManager() override;

  // Starts the discovery of USB and SD mass-storage volumes (the first scan
  // reports the volumes already mounted). Called from the main thread; a
  // second call only logs a warning.
  void StartUsbDiscovery();

  // Test seams; call before StartUsbDiscovery and before the manager is
  // moved to its thread. The application keeps the shipped values.
  void SetDiscoveryInterval(std::chrono::milliseconds interval);
  // How often a mount path that is not there yet is looked for again.
  void SetMountPathRetry(std::chrono::milliseconds interval);
  // Runs on the USB thread during each check, after the checksum file has
  // been read and before the first file is hashed.
  void SetCheckHook(std::function<void(const std::string& mountPath)> hook);

signals:
  void UsbCheckStarted();
  void UsbCheckComplete(UsbInfo::Id usbId);
  void UsbRemoved(UsbInfo::Id usbId);

public slots:
  // Invoked by name from the discovery thread.
  void MassStorageCome(DeviceDiscovery::DeviceProperties properties);
  void MassStorageGo(DeviceDiscovery::DeviceProperties properties);

  // Once a second: refreshes the capacity and available bytes of the active
  // stick in the store, changing nothing else and never bringing back a stick
  // that was removed meanwhile.
  void UpdateUsbSpace();

protected:
  bool event(QEvent* event) override;

private:
  void StopSpaceRefreshWithThread();
  void WaitForMountPath(UsbInfo::Id id);
  void CheckUsb(const DeviceDiscovery::DeviceProperties& properties);

  // The stick's folders, read from the configuration when the manager is built.
  const std::string updateDir;
  const std::string checksumFile;
  QTimer spaceTimer;
  std::mutex discoveryMutex;
  std::unique_ptr<DeviceDiscovery> discovery;
  std::chrono::milliseconds discoveryInterval;
  std::chrono::milliseconds mountPathRetry;
  std::function<void(const std::string&)> checkHook;
  // Volumes whose mount path has not appeared yet.
  std::map<UsbInfo::Id, DeviceDiscovery::DeviceProperties> waiting;
};
