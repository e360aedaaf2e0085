#include "platform/LogindPowerBackend.h"

#include "Log.h"

#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusUnixFileDescriptor>

#include <fcntl.h>
#include <unistd.h>

namespace {

const char* const Service = "org.freedesktop.login1";
const char* const Path = "/org/freedesktop/login1";
const char* const Interface = "org.freedesktop.login1.Manager";
const int CallTimeout = 5000;

} // namespace

LogindPowerBackend::LogindPowerBackend(const QDBusConnection& bus) : bus(bus) {}

LogindPowerBackend::~LogindPowerBackend()
{
  if (registered)
    Deregister();
  Release(idleLock);
}

bool LogindPowerBackend::Register(Handler newHandler)
{
  if (registered || !bus.isConnected())
    return false;
  if (!bus.connect(Service, Path, Interface, QStringLiteral("PrepareForSleep"), this,
                   SLOT(OnPrepareForSleep(bool))))
    return false;
  // Without the delay lock the system would not wait for the acknowledgement.
  sleepLock = Inhibit(QStringLiteral("sleep"), QStringLiteral("Finishing work before the computer sleeps"),
                      QStringLiteral("delay"));
  if (sleepLock < 0) {
    bus.disconnect(Service, Path, Interface, QStringLiteral("PrepareForSleep"), this,
                   SLOT(OnPrepareForSleep(bool)));
    return false;
  }
  handler = std::move(newHandler);
  registered = true;
  return true;
}

bool LogindPowerBackend::Deregister()
{
  if (!registered)
    return false;
  registered = false;
  handler = nullptr;
  Release(sleepLock);
  return bus.disconnect(Service, Path, Interface, QStringLiteral("PrepareForSleep"), this,
                        SLOT(OnPrepareForSleep(bool)));
}

void LogindPowerBackend::AllowPowerChange(quintptr argument)
{
  // Only the sleep being prepared can be let go; a stale answer is ignored.
  if (argument == sleepCount)
    Release(sleepLock);
}

void LogindPowerBackend::CancelPowerChange(quintptr)
{
  // The login manager proposes no idle sleep to cancel: the idle lock refuses it beforehand.
}

void LogindPowerBackend::SetIdleSleepAllowed(bool allowed)
{
  if (allowed) {
    Release(idleLock);
  } else if (idleLock < 0 && bus.isConnected()) {
    idleLock = Inhibit(QStringLiteral("idle"), QStringLiteral("Writing a map update to the USB stick"),
                       QStringLiteral("block"));
    if (idleLock < 0)
      LOG(Warning) << "Failed to refuse idle sleep";
  }
}

void LogindPowerBackend::OnPrepareForSleep(bool start)
{
  if (!registered)
    return;
  // A copy: a listener may deregister while it is being called.
  const Handler deliver = handler;
  if (start) {
    ++sleepCount;
    deliver(SystemWillSleep, sleepCount);
  } else {
    deliver(SystemWillPowerOn, sleepCount);
    // Hold the next sleep back as well.
    if (registered && sleepLock < 0)
      sleepLock =
          Inhibit(QStringLiteral("sleep"), QStringLiteral("Finishing work before the computer sleeps"),
                  QStringLiteral("delay"));
    if (registered)
      deliver(SystemHasPoweredOn, sleepCount);
  }
}

int LogindPowerBackend::Inhibit(const QString& what, const QString& why, const QString& mode)
{
  QDBusMessage call = QDBusMessage::createMethodCall(Service, Path, Interface, QStringLiteral("Inhibit"));
  call << what << QStringLiteral("Lumora") << why << mode;
  const QDBusReply<QDBusUnixFileDescriptor> reply = bus.call(call, QDBus::Block, CallTimeout);
  if (!reply.isValid() || !reply.value().isValid()) {
    LOG(Debug) << "Inhibit " << what << " failed: " << reply.error().message();
    return -1;
  }
  // The reply's descriptor closes with it; the lock lives as long as our copy.
  return ::fcntl(reply.value().fileDescriptor(), F_DUPFD_CLOEXEC, 0);
}

void LogindPowerBackend::Release(int& lock)
{
  if (lock >= 0) {
    ::close(lock);
    lock = -1;
  }
}
