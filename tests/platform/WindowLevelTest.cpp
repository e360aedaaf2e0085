#include "platform/WindowLevel.h"

#include <gtest/gtest.h>

#include <QWidget>

namespace {

// A policy that refuses Accessory, as an application may.
struct RefusingAccessory : ActivationPolicy
{
  bool Set(long policy) override { return policy != Accessory && ActivationPolicy::Set(policy); }
};

} // namespace

TEST(WindowLevel, TopMostAndBackKeepTheWindowAsShownOrHiddenAndTheDockIconFollows)
{
  QWidget popup, hidden;
  popup.show();
  SetWindowLevelTopMost(&popup);
  SetWindowLevelTopMost(&hidden);
  SetWindowLevelTopMost(nullptr);
  EXPECT_TRUE(popup.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_TRUE(hidden.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_TRUE(popup.isVisible());
  EXPECT_FALSE(hidden.isVisible());
  SetWindowLevelNormal(&popup);
  EXPECT_FALSE(popup.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_TRUE(popup.isVisible());

  // Removing the dock icon makes an accessory, or else a prohibited
  // application; adding it makes a regular one again.
  ActivationPolicy application;
  EXPECT_TRUE(UIIsEditable(application));
  EXPECT_FALSE(IsBackgroundAppOrAgent(application));
  RemoveApplicationIconFromDock(application);
  EXPECT_EQ(application.Current(), ActivationPolicy::Accessory);
  EXPECT_TRUE(UIIsEditable(application));
  EXPECT_TRUE(IsBackgroundAppOrAgent(application));
  AddApplicationIconToDock(application);
  EXPECT_EQ(application.Current(), ActivationPolicy::Regular);

  RefusingAccessory refusing;
  RemoveApplicationIconFromDock(refusing);
  EXPECT_EQ(refusing.Current(), ActivationPolicy::Prohibited);
  EXPECT_FALSE(UIIsEditable(refusing));
  EXPECT_TRUE(IsBackgroundAppOrAgent(refusing));
}
