#pragma once

#include "sm/Events.h"
#include "sm/StateMachine.h"

#include <boost/mpl/list.hpp>
#include <boost/statechart/custom_reaction.hpp>
#include <boost/statechart/state.hpp>

#include <QObject>

namespace States {

// The initial state: waits for the event loop's start event, then enters the
// working state Common.
class StartUp : public QObject, public boost::statechart::state<StartUp, StateMachine>
{
  Q_OBJECT

public:
  using reactions = boost::mpl::list<boost::statechart::custom_reaction<Events::StartUp>>;

  explicit StartUp(my_context ctx);

  boost::statechart::result react(const Events::StartUp& event);
};

} // namespace States
