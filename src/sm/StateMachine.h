#pragma once

#include "ApplicationGuard.h"

#include <boost/statechart/state_machine.hpp>

#include <QObject>

namespace States {
class StartUp;
}

// The application state machine. Construction queues the start event through
// its ApplicationGuard; initiate() enters StartUp; the start event, delivered
// by the event loop, moves it on to Common.
class StateMachine : public QObject, public boost::statechart::state_machine<StateMachine, States::StartUp>
{
  Q_OBJECT

public:
  StateMachine();
  // Exits every active state, innermost first, then deletes the children.
  ~StateMachine() override;

  // Enters the initial state StartUp and processes what it queued.
  void initiate();

  // Queues the Activate application event, which brings the user interface
  // to the front once the machine works (StartUp drops it).
  void RequestActivation();

private slots:
  void HandleApplicationEvent(ApplicationGuard::Event event);

private:
  ApplicationGuard* guard;
};
