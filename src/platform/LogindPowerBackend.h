#pragma once

#include "platform/IPowerBackend.h"

#include <QDBusConnection>
#include <QObject>

// Power messages from systemd-logind (org.freedesktop.login1.Manager):
// PrepareForSleep(true) becomes SystemWillSleep, PrepareForSleep(false)
// SystemWillPowerOn then SystemHasPoweredOn. A "sleep" inhibitor lock in
// "delay" mode holds the sleep back until the watcher acknowledges it; while
// idle sleep is not acceptable an "idle" lock in "block" mode refuses it.
class LogindPowerBackend : public QObject, public IPowerBackend
{
  Q_OBJECT

public:
  explicit LogindPowerBackend(const QDBusConnection& bus = QDBusConnection::systemBus());
  ~LogindPowerBackend() override;

  bool Register(Handler handler) override;
  bool Deregister() override;
  void AllowPowerChange(quintptr argument) override;
  void CancelPowerChange(quintptr argument) override;
  void SetIdleSleepAllowed(bool allowed) override;

private slots:
  void OnPrepareForSleep(bool start);

private:
  // A file descriptor holding the lock, or -1.
  int Inhibit(const QString& what, const QString& why, const QString& mode);
  static void Release(int& lock);

  QDBusConnection bus;
  Handler handler;
  bool registered = false;
  int sleepLock = -1;
  int idleLock = -1;
  quintptr sleepCount = 0;
};
