#include "ui/widgets/DynamicIcon.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPixmap>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

// Frames 1..count as 4 x 4 pictures whose red channel is the frame number.
QString WriteFrames(const QTemporaryDir& dir, int count)
{
  for (int frame = 1; frame <= count; ++frame) {
    QImage image(4, 4, QImage::Format_RGB32);
    image.fill(QColor(frame, 0, 0));
    image.save(dir.filePath(QStringLiteral("frame_%1.png").arg(frame)));
  }
  return dir.filePath(QStringLiteral("frame_%1.png"));
}

// The frame number painted into the label's picture, 0 when it shows none.
int PaintedFrame(const Ui::DynamicIcon& icon)
{
  QPixmap shown = icon.pixmap(Qt::ReturnByValue);
  return shown.isNull() ? 0 : QColor(shown.toImage().pixel(0, 0)).red();
}

QTimer* FrameTimer(Ui::DynamicIcon& icon)
{
  return icon.findChild<QTimer*>();
}

} // namespace

TEST(DynamicIconTest, FrameSequencePlaysInOrderAndWrapsWithinOneSecond)
{
  QTemporaryDir dir;
  QString pattern = WriteFrames(dir, 18);
  Ui::DynamicIcon icon;
  icon.Init(pattern, 18);
  EXPECT_EQ(PaintedFrame(icon), 1) << "the first frame shows at once";
  EXPECT_EQ(FrameTimer(icon)->interval(), 55);
  for (int expected = 2; expected <= 18; ++expected)
    ASSERT_TRUE(QTest::qWaitFor([&] { return PaintedFrame(icon) == expected; }));
  ASSERT_TRUE(QTest::qWaitFor([&] { return PaintedFrame(icon) == 1; }));

  icon.Init(pattern, 2);
  EXPECT_EQ(PaintedFrame(icon), 1) << "a new sequence starts again at frame 1";
  EXPECT_EQ(FrameTimer(icon)->interval(), 500);
  ASSERT_TRUE(QTest::qWaitFor([&] { return PaintedFrame(icon) == 2; }));

  icon.Init(pattern, 1001);
  EXPECT_EQ(FrameTimer(icon)->interval(), 0) << "more than 1000 frames follow as soon as the loop is idle";
}

TEST(DynamicIconTest, StillPictureEmptyLabelAndMissingFile)
{
  QTemporaryDir dir;
  QString pattern = WriteFrames(dir, 3);
  Ui::DynamicIcon icon;
  icon.Init(pattern, 3);
  ASSERT_TRUE(FrameTimer(icon)->isActive());

  icon.Init(dir.filePath(QStringLiteral("frame_3.png")), 1);
  EXPECT_FALSE(FrameTimer(icon)->isActive()) << "a still picture stops the sequence";
  EXPECT_EQ(PaintedFrame(icon), 3);

  icon.Init(pattern, 0);
  EXPECT_EQ(PaintedFrame(icon), 0);
  EXPECT_FALSE(FrameTimer(icon)->isActive());

  icon.Init(dir.filePath(QStringLiteral("missing.png")), 1);
  EXPECT_EQ(PaintedFrame(icon), 0);
  EXPECT_EQ(icon.movie(), nullptr);
}

TEST(DynamicIconTest, AnimatedPictureRunsAsMovieUntilTheNextInit)
{
  QTemporaryDir dir;
  Ui::DynamicIcon icon;
  icon.Init(QStringLiteral(":/icons/ic_spinner.gif"), Ui::DynamicIcon::AnimatedPicture);
  ASSERT_NE(icon.movie(), nullptr);
  EXPECT_EQ(icon.movie()->fileName(), QStringLiteral(":/icons/ic_spinner.gif"));

  QString pattern = WriteFrames(dir, 2);
  icon.Init(pattern, 1);
  EXPECT_EQ(icon.movie(), nullptr) << "Init clears the movie";
  EXPECT_EQ(PaintedFrame(icon), 0) << "a pattern given as a still picture names no file";
}
