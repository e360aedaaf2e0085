#pragma once

#include "sm/Events.h"

#include <boost/statechart/result.hpp>

namespace States {

// The reaction to Quit of a state in which the active stick may be in use:
// while a stick is active the user is asked to confirm (and only the
// confirmation quits); without one, Common quits at once. A state adds it as
// a base, lists the custom reaction to Events::Quit, brings the reaction in
// with `using StickQuitConfirmation::react;` and is named in the list of
// states at the end of StickQuitConfirmation.cpp.
template <typename Derived>
struct StickQuitConfirmation
{
  boost::statechart::result react(const Events::Quit& event);
};

} // namespace States
