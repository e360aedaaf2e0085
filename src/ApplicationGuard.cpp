#include "ApplicationGuard.h"

class ApplicationGuard::Impl
{
public:
  explicit Impl(ApplicationGuard& guard) : guard(guard) {}

  void Run()
  {
    if (started)
      return;
    started = true;
    emit guard.ApplicationEvent(Start);
  }

private:
  ApplicationGuard& guard;
  bool started = false;
};

ApplicationGuard::ApplicationGuard(QObject* parent) : QObject(parent), impl(std::make_unique<Impl>(*this))
{
  // The queued connection to the state machine carries the event by this name.
  qRegisterMetaType<ApplicationGuard::Event>("Event");
}

ApplicationGuard::~ApplicationGuard() = default;

void ApplicationGuard::Run()
{
  impl->Run();
}

void ApplicationGuard::RequestActivation()
{
  emit ApplicationEvent(Activate);
}
