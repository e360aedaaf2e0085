#pragma once

#include "sm/Events.h"
#include "sm/StateMachine.h"

#include <boost/mpl/list.hpp>
#include <boost/statechart/custom_reaction.hpp>
#include <boost/statechart/simple_state.hpp>

namespace States {

// The initial state: waits for the event loop's start event.
struct StartUp : boost::statechart::simple_state<StartUp, StateMachine>
{
  using reactions = boost::mpl::list<boost::statechart::custom_reaction<Events::StartUp>>;

  StartUp();
  ~StartUp() override;

  boost::statechart::result react(const Events::StartUp& event);
};

} // namespace States
