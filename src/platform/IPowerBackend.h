#pragma once

#include <QtGlobal>

#include <functional>

// The system's power management as the sleep watcher sees it: it delivers
// power messages to one handler and takes the watcher's answers.
class IPowerBackend
{
public:
  // The power messages, by their system numbers.
  enum Message : quint32
  {
    CanSystemSleep = 0xE0000270,     // idle sleep is proposed: allow or cancel
    SystemWillSleep = 0xE0000280,    // sleep that cannot be refused: acknowledge
    SystemHasPoweredOn = 0xE0000300, // wake completed
    SystemWillPowerOn = 0xE0000320,  // wake begins
  };

  // Called with the message and the identifier an answer must carry.
  using Handler = std::function<void(quint32 message, quintptr argument)>;

  virtual ~IPowerBackend() = default;

  // Starts delivering messages to `handler` on the calling thread. False when
  // the system refused the registration.
  virtual bool Register(Handler handler) = 0;
  // Stops the delivery and releases what the registration holds.
  virtual bool Deregister() = 0;

  virtual void AllowPowerChange(quintptr argument) = 0;
  virtual void CancelPowerChange(quintptr argument) = 0;

  // Where the system does not ask before idle sleep, the watcher says up
  // front whether idle sleep is acceptable.
  virtual void SetIdleSleepAllowed(bool allowed) = 0;
};
