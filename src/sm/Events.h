#pragma once

#include <boost/statechart/event.hpp>

// The events of the application state machine.
namespace Events {

// The event loop has started: leave StartUp.
struct StartUp : boost::statechart::event<StartUp>
{
};

// The application was activated (brought to the front).
struct Activate : boost::statechart::event<Activate>
{
};

} // namespace Events
