#include "platform/SleepNotifier.h"

SleepNotifier::SleepNotifier(QObject* parent) : QObject(parent) {}

void SleepNotifier::NotifySleep()
{
  emit notifySleep();
}

void SleepNotifier::NotifyAwake()
{
  emit notifyAwake();
}
