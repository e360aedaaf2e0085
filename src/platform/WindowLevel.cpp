#include "platform/WindowLevel.h"

#include <QWidget>

// The diagnostics go to the system's message log (Qt's message handler:
// standard error or the journal), not to the application's log file.

namespace {

const long StatusWindowLevel = 25;
const long NormalWindowLevel = 0;

long WindowLevel(const QWidget* window)
{
  if (!window)
    return NormalWindowLevel;
  return window->windowFlags().testFlag(Qt::WindowStaysOnTopHint) ? StatusWindowLevel : NormalWindowLevel;
}

void SetLevel(QWidget* widget, long level, const char* name)
{
  QWidget* window = nullptr;
  if (widget) {
    widget->winId(); // makes the native window when there is none yet
    window = widget->window();
  }
  qInfo("%s:Window level is %ld", name, WindowLevel(window));
  if (window && WindowLevel(window) != level) {
    // Changing the flags hides a shown window; it comes back where it was.
    const bool visible = window->isVisible();
    window->setWindowFlag(Qt::WindowStaysOnTopHint, level == StatusWindowLevel);
    if (visible)
      window->show();
  }
  qInfo("%s:new Window level is %ld", name, WindowLevel(window));
}

} // namespace

void SetWindowLevelTopMost(QWidget* widget)
{
  SetLevel(widget, StatusWindowLevel, "SetWindowLevelTopMost");
}

void SetWindowLevelNormal(QWidget* widget)
{
  SetLevel(widget, NormalWindowLevel, "SetWindowLevelNormal");
}

void AddApplicationIconToDock(ActivationPolicy& application)
{
  application.Set(ActivationPolicy::Regular);
  qInfo("AddApplicationToDock: current activation policy %ld", application.Current());
}

void RemoveApplicationIconFromDock(ActivationPolicy& application)
{
  qInfo("RemoveApplicationIconFromDock: current activation policy %ld", application.Current());
  if (application.Current() != ActivationPolicy::Accessory && !application.Set(ActivationPolicy::Accessory)) {
    qInfo("RemoveApplicationIconFromDock: setting activation policy %ld",
          static_cast<long>(ActivationPolicy::Prohibited));
    application.Set(ActivationPolicy::Prohibited);
  }
  qInfo("RemoveApplicationIconFromDock: current activation policy %ld", application.Current());
}

bool UIIsEditable(const ActivationPolicy& application)
{
  const long policy = application.Current();
  return policy == ActivationPolicy::Accessory || policy == ActivationPolicy::Regular;
}

bool IsBackgroundAppOrAgent(const ActivationPolicy& application)
{
  const long policy = application.Current();
  return policy == ActivationPolicy::Accessory || policy == ActivationPolicy::Prohibited;
}
