#include "ui/IUi.h"

#include <QMetaType>

namespace Ui {

void RegisterMetaTypes()
{
  qRegisterMetaType<PopupLink>("PopupLink");
  qRegisterMetaType<State>("State");
}

} // namespace Ui
