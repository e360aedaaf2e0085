#include "ui/PopupLink.h"

#include <cstdint>
#include <ostream>

std::ostream& operator<<(std::ostream& os, PopupLink link)
{
  static const char* const names[] = {"Blank", "Continue", "Dismiss", "ShowHelp", "ManageMaps", "Retry"};
  const auto index = static_cast<std::uint32_t>(link);
  if (index < sizeof(names) / sizeof(names[0]))
    os << names[index];
  return os;
}
