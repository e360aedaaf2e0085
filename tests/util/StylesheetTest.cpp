#include "util/Stylesheet.h"

#include "Files.h"
#include "LogCapture.h"

#include <gtest/gtest.h>

#include <QWidget>

using namespace TestSupport;

TEST(LoadStylesheet, ReplacesTheSheetWithTheFileUpToItsFirstZeroByteOrKeepsItWhenMissing)
{
  QTemporaryDir dir;
  const QString path = dir.filePath("Widget.qss");
  static const char sheet[] = "QWidget { color: #005691; } /* \xc3\xa4 */\0QWidget { color: red; }";
  ASSERT_TRUE(WriteFile(path, QByteArray(sheet, sizeof sheet - 1)));
  QWidget widget;
  widget.setStyleSheet("QWidget { background: white; }");
  LogCapture log;
  LoadStylesheet(":/styles/Missing.qss", &widget);
  EXPECT_EQ(widget.styleSheet(), QStringLiteral("QWidget { background: white; }"));
  EXPECT_EQ(log.Matching("Could not open file: :/styles/Missing.qss").size(), 1u);

  LoadStylesheet(path, &widget);
  EXPECT_EQ(widget.styleSheet(), QString::fromUtf8("QWidget { color: #005691; } /* \xc3\xa4 */"));
}
