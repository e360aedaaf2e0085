#include "ui/widgets/DynamicIcon.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

// Frames painted with their number as red show which one is on show.
TEST(DynamicIconTest, FramesPlayInOrderAndWrapUntilAStillPictureAMovieOrNothingReplacesThem)
{
  QTemporaryDir dir;
  for (int frame = 1; frame <= 18; ++frame) {
    QImage image(4, 4, QImage::Format_RGB32);
    image.fill(QColor(frame, 0, 0));
    ASSERT_TRUE(image.save(dir.filePath(QStringLiteral("frame_%1.png").arg(frame))));
  }
  Ui::DynamicIcon icon;
  const auto shown = [&] {
    const QImage image = icon.pixmap(Qt::ReturnByValue).toImage();
    return image.isNull() ? 0 : qRed(image.pixel(0, 0));
  };
  icon.Init(dir.filePath("frame_%1.png"), 18);
  EXPECT_EQ(shown(), 1) << "the first frame shows at once";
  for (int frame : {2, 3, 17, 18, 1})
    ASSERT_TRUE(QTest::qWaitFor([&] { return shown() == frame; })) << frame;
  icon.Init(dir.filePath("frame_3.png"), 1);
  EXPECT_EQ(shown(), 3);
  EXPECT_FALSE(icon.findChild<QTimer*>()->isActive()) << "a still picture stops the sequence";
  icon.Init(":/icons/ic_spinner.gif", Ui::DynamicIcon::AnimatedPicture);
  ASSERT_NE(icon.movie(), nullptr);
  icon.Init(dir.filePath("frame_3.png"), 0);
  EXPECT_TRUE(icon.movie() == nullptr && shown() == 0) << "nothing ends the movie";
}
