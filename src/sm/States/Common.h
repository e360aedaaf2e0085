#pragma once

#include "sm/StateMachine.h"

#include <boost/statechart/state.hpp>

namespace States {

// The state in which the application runs once the event loop has started.
struct Common : boost::statechart::state<Common, StateMachine>
{
  explicit Common(my_context context);
  ~Common() override;
};

} // namespace States
