#include "sm/StateMachine.h"

#include "sm/Events.h"
#include "sm/States/StartUp.h"

#include <QCoreApplication>

#include <stdexcept>

StateMachine::StateMachine() : QObject(nullptr), guard(new ApplicationGuard(this))
{
  connect(guard, &ApplicationGuard::ApplicationEvent, this, &StateMachine::HandleApplicationEvent,
          Qt::QueuedConnection);
  guard->Run();
}

StateMachine::~StateMachine()
{
  // The states are left while the whole machine still exists.
  terminate();
}

void StateMachine::initiate()
{
  state_machine::initiate();
}

void StateMachine::RequestActivation()
{
  guard->RequestActivation();
}

void StateMachine::HandleApplicationEvent(ApplicationGuard::Event event)
{
  switch (event) {
  case ApplicationGuard::Start:
    process_event(Events::StartUp());
    break;
  case ApplicationGuard::Activate:
    process_event(Events::Activate());
    break;
  case ApplicationGuard::Quit:
    QCoreApplication::quit();
    terminate();
    break;
  default:
    throw std::logic_error("Failed to handle application event: event is not supported");
  }
}
