#include "platform/PowerChange.h"

#include "Log.h"
#include "platform/LogindPowerBackend.h"
#include "platform/SleepNotifier.h"

PowerChange::PowerChange(SleepNotifier* sleepNotifier, std::unique_ptr<IPowerBackend> backend)
    : backend(backend ? std::move(backend) : std::make_unique<LogindPowerBackend>()),
      sleepNotifier(sleepNotifier)
{
}

PowerChange::~PowerChange()
{
  // A registration left behind would call back into a destroyed watcher.
  if (registered)
    StopListeningForSleep();
  if (sleepNotifier)
    sleepNotifier->deleteLater();
}

bool PowerChange::ListenForSleep()
{
  registered = backend->Register([this](quint32 type, quintptr argument) { CheckSleep(type, argument); });
  if (!registered) {
    LOG(Error) << "IORegisterForSystemPower failed";
    return false;
  }
  if (!canSleep)
    backend->SetIdleSleepAllowed(false);
  LOG(Debug) << "IORegisterForSystemPower registered";
  return true;
}

bool PowerChange::StopListeningForSleep()
{
  registered = false;
  return backend->Deregister();
}

bool PowerChange::CanSleep()
{
  return canSleep;
}

void PowerChange::SetCanSleep(bool value)
{
  canSleep = value;
  if (registered)
    backend->SetIdleSleepAllowed(value);
}

void PowerChange::NotifySleep()
{
  if (sleepNotifier)
    sleepNotifier->NotifySleep();
}

void PowerChange::NotifyAwake()
{
  if (sleepNotifier)
    sleepNotifier->NotifyAwake();
}

void PowerChange::CheckSleep(quint32 messageType, quintptr messageArgument)
{
  LOG(Debug) << "callback messageType: " << messageType << reinterpret_cast<void*>(messageArgument);

  switch (messageType) {
  case IPowerBackend::CanSystemSleep:
    if (canSleep) {
      LOG(Debug) << "Allowing sleep";
      backend->AllowPowerChange(messageArgument);
    } else {
      LOG(Debug) << "Cancelling sleep";
      backend->CancelPowerChange(messageArgument);
    }
    break;
  case IPowerBackend::SystemWillSleep:
    LOG(Debug) << "System is entering forced sleep";
    if (!canSleep)
      LOG(Debug) << "System is entering forced sleep while installing to the device";
    // Listeners hear of the sleep before it is acknowledged, and it is
    // acknowledged once: the system may sleep as soon as it is.
    NotifySleep();
    backend->AllowPowerChange(messageArgument);
    break;
  case IPowerBackend::SystemHasPoweredOn:
    NotifyAwake();
    LOG(Debug) << "System has finished waking up...";
    break;
  case IPowerBackend::SystemWillPowerOn:
    LOG(Debug) << "System has started the wake up process...";
    break;
  default:
    break;
  }
}
