#pragma once

// Children found by their object names, and clicks a user could make.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QTest>

template <typename T = QWidget>
T* Find(const QObject* in, const char* name)
{
  T* child = in->findChild<T*>(QLatin1String(name));
  EXPECT_NE(child, nullptr) << name;
  return child;
}

// A click on a button that is on show and enabled.
inline void Click(const QObject* in, const char* name)
{
  auto* button = Find<QAbstractButton>(in, name);
  ASSERT_TRUE(button && !button->isHidden() && button->isEnabled()) << name;
  QTest::mouseClick(button, Qt::LeftButton);
}
