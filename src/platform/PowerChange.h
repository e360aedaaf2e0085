#pragma once

#include "platform/IPowerBackend.h"

#include <memory>

class SleepNotifier;

// The sleep watcher: refuses idle sleep while the can-sleep flag is off (set
// it off while writing to a device), and passes sleep and wake on to a
// SleepNotifier. Messages arrive on the thread that called ListenForSleep.
class PowerChange
{
public:
  // Takes ownership of `sleepNotifier` (released with deleteLater). Without
  // a backend, the system's login manager (systemd-logind on the system bus)
  // is used.
  explicit PowerChange(SleepNotifier* sleepNotifier, std::unique_ptr<IPowerBackend> backend = nullptr);
  // Deregisters when still registered.
  ~PowerChange();

  PowerChange(const PowerChange&) = delete;
  PowerChange& operator=(const PowerChange&) = delete;

  bool ListenForSleep();
  bool StopListeningForSleep();

  bool CanSleep();
  void SetCanSleep(bool canSleep);

  void NotifySleep();
  void NotifyAwake();

private:
  void CheckSleep(quint32 messageType, quintptr messageArgument);

  std::unique_ptr<IPowerBackend> backend;
  bool canSleep = true;
  bool registered = false;
  SleepNotifier* sleepNotifier;
};
