#pragma once

#include <cstdint>
#include <iosfwd>

// The action behind the link button of the popup.
enum PopupLink : std::int32_t
{
  Blank = 0,      // nothing
  Continue = 1,   // show the current state again
  Dismiss = 2,    // cancel the map download
  ShowHelp = 3,   // open the user guide
  ManageMaps = 4, // show the maps page
  Retry = 5       // ask for a retry
};

// Writes the value's name; a value outside the enumeration writes nothing.
std::ostream& operator<<(std::ostream& os, PopupLink link);
