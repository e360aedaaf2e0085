#include "ui/PopupLink.h"

#include "EnumNames.h"

#include <ostream>

namespace {

const EnumName<PopupLink> PopupLinkNames[] = {
    ENUM_NAME(PopupLink, Blank),    ENUM_NAME(PopupLink, Continue),   ENUM_NAME(PopupLink, Dismiss),
    ENUM_NAME(PopupLink, ShowHelp), ENUM_NAME(PopupLink, ManageMaps), ENUM_NAME(PopupLink, Retry)};

} // namespace

std::ostream& operator<<(std::ostream& os, PopupLink link)
{
  return WriteName(os, link, PopupLinkNames);
}
