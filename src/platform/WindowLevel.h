#pragma once

#include "platform/ActivationPolicy.h"

class QWidget;

// Window level: the status level (25) keeps a window above ordinary ones,
// the normal level is 0. Each call writes the level before and after.
void SetWindowLevelTopMost(QWidget* widget);
void SetWindowLevelNormal(QWidget* widget);

// The dock icon, through the application's activation policy (or the given one).
void AddApplicationIconToDock(ActivationPolicy& application = ActivationPolicy::Application());
void RemoveApplicationIconFromDock(ActivationPolicy& application = ActivationPolicy::Application());
// True for Regular and Accessory.
bool UIIsEditable(const ActivationPolicy& application = ActivationPolicy::Application());
// True for Accessory and Prohibited.
bool IsBackgroundAppOrAgent(const ActivationPolicy& application = ActivationPolicy::Application());
