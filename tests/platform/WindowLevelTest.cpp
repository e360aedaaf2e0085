#include "platform/WindowLevel.h"

#include <gtest/gtest.h>

#include <QWidget>

namespace {

// Collects the diagnostics written through Qt's message handler.
class CapturedMessages
{
public:
  CapturedMessages()
  {
    current = this;
    previous = qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext&, const QString& text) { current->lines += text; });
  }
  ~CapturedMessages() { qInstallMessageHandler(previous); }

  QStringList lines;

private:
  static inline CapturedMessages* current = nullptr;
  QtMessageHandler previous;
};

// A policy that refuses Accessory, as an application may.
class RefusingAccessory : public ActivationPolicy
{
public:
  bool Set(long policy) override { return policy != Accessory && ActivationPolicy::Set(policy); }
};

} // namespace

TEST(WindowLevel, TopMostAndBackKeepTheWindowShown)
{
  QWidget popup;
  popup.show();
  CapturedMessages messages;
  SetWindowLevelTopMost(&popup);
  EXPECT_TRUE(popup.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_TRUE(popup.isVisible());
  SetWindowLevelNormal(&popup);
  EXPECT_FALSE(popup.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_TRUE(popup.isVisible());
  EXPECT_EQ(
      messages.lines,
      (QStringList{"SetWindowLevelTopMost:Window level is 0", "SetWindowLevelTopMost:new Window level is 25",
                   "SetWindowLevelNormal:Window level is 25", "SetWindowLevelNormal:new Window level is 0"}));
}

TEST(WindowLevel, HiddenWindowStaysHiddenAndNoWindowReportsZero)
{
  QWidget hidden;
  SetWindowLevelTopMost(&hidden);
  EXPECT_TRUE(hidden.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_FALSE(hidden.isVisible());

  CapturedMessages messages;
  SetWindowLevelTopMost(nullptr);
  EXPECT_EQ(messages.lines, (QStringList{"SetWindowLevelTopMost:Window level is 0",
                                         "SetWindowLevelTopMost:new Window level is 0"}));
}

TEST(DockIcon, RemovingMakesAnAccessoryAndAddingMakesItRegular)
{
  ActivationPolicy application;
  EXPECT_TRUE(UIIsEditable(application));
  EXPECT_FALSE(IsBackgroundAppOrAgent(application));

  CapturedMessages messages;
  RemoveApplicationIconFromDock(application);
  EXPECT_EQ(application.Current(), ActivationPolicy::Accessory);
  EXPECT_TRUE(UIIsEditable(application));
  EXPECT_TRUE(IsBackgroundAppOrAgent(application));
  RemoveApplicationIconFromDock(application);
  AddApplicationIconToDock(application);
  EXPECT_EQ(application.Current(), ActivationPolicy::Regular);
  EXPECT_EQ(messages.lines, (QStringList{"RemoveApplicationIconFromDock: current activation policy 0",
                                         "RemoveApplicationIconFromDock: current activation policy 1",
                                         "RemoveApplicationIconFromDock: current activation policy 1",
                                         "RemoveApplicationIconFromDock: current activation policy 1",
                                         "AddApplicationToDock: current activation policy 0"}));
}

TEST(DockIcon, RefusedAccessoryEndsProhibited)
{
  RefusingAccessory application;
  CapturedMessages messages;
  RemoveApplicationIconFromDock(application);
  EXPECT_EQ(application.Current(), ActivationPolicy::Prohibited);
  EXPECT_FALSE(UIIsEditable(application));
  EXPECT_TRUE(IsBackgroundAppOrAgent(application));
  EXPECT_EQ(messages.lines, (QStringList{"RemoveApplicationIconFromDock: current activation policy 0",
                                         "RemoveApplicationIconFromDock: setting activation policy 2",
                                         "RemoveApplicationIconFromDock: current activation policy 2"}));
}
