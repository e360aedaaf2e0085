#pragma once

#include <QObject>

// Tells interested objects that the computer goes to sleep or has woken up.
class SleepNotifier : public QObject
{
  Q_OBJECT

public:
  explicit SleepNotifier(QObject* parent);

  void NotifySleep();
  void NotifyAwake();

signals:
  void notifySleep();
  void notifyAwake();
};
