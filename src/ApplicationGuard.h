#pragma once

#include <QObject>

#include <memory>

// Carries application-level events (start, quit, activate) to the state
// machine that owns it, through a queued signal. The start event is emitted
// once, by the first Run; Activate is emitted each time a later start of the
// application asks this copy to come to the front. Quit is never emitted.
class ApplicationGuard : public QObject
{
  Q_OBJECT

public:
  enum Event : qint32
  {
    Start = 0,
    Quit = 1,
    Activate = 2
  };
  Q_ENUM(Event)

  explicit ApplicationGuard(QObject* parent);
  ~ApplicationGuard() override;

  // Emits ApplicationEvent(Start) on the first call; later calls do nothing.
  void Run();
  // Emits ApplicationEvent(Activate) on every call.
  void RequestActivation();

signals:
  void ApplicationEvent(ApplicationGuard::Event event);

private:
  class Impl;
  std::unique_ptr<Impl> impl;
};

Q_DECLARE_METATYPE(ApplicationGuard::Event)
