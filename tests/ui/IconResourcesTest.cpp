#include <gtest/gtest.h>

#include <QColor>
#include <QDirIterator>
#include <QImage>
#include <QMovie>
#include <QSet>
#include <QSize>
#include <QString>

#include <cmath>

namespace {

struct Picture
{
  const char* path;
  QSize size;
};

// Every still picture the windows and their style sheets name; all of them
// are RGBA, drawn on a transparent ground.
const Picture stills[] = {
    {":/icons/PNG/256.png", {256, 256}},
    {":/icons/logo_header.png", {106, 70}},
    {":/icons/logo_footer.png", {118, 54}},
    {":/icons/logo_popup.png", {236, 48}},
    {":/icons/ic_settings.png", {38, 38}},
    {":/icons/ic_settings_hover.png", {38, 38}},
    {":/icons/ic_settings_active.png", {38, 38}},
    {":/icons/ic_settings_disabled.png", {38, 38}},
    {":/icons/ic_help.png", {38, 38}},
    {":/icons/ic_help_hover.png", {38, 38}},
    {":/icons/ic_help_active.png", {38, 38}},
    {":/icons/ic_dropdown_arrow_down.png", {12, 7}},
    {":/icons/ic_dropdown_arrow_down_hover.png", {12, 7}},
    {":/icons/ic_dropdown_arrow_down_pressed.png", {12, 7}},
    {":/icons/ic_dropdown_arrow_up.png", {12, 7}},
    {":/icons/ic_dropdown_arrow_up_hover.png", {12, 7}},
    {":/icons/ic_dropdown_arrow_up_pressed.png", {12, 7}},
    {":/icons/ic_footer_head-unit.png", {17, 18}},
    {":/icons/ic_footer_usb.png", {17, 18}},
    {":/icons/notification-downloading.png", {42, 42}},
    {":/icons/notification-pending.png", {42, 42}},
    {":/icons/ic_map_pending_EUR.png", {42, 38}},
    {":/icons/ic_map_pending_NAM.png", {42, 38}},
    {":/icons/ic_map_optional_EUR.png", {42, 38}},
    {":/icons/ic_map_optional_NAM.png", {42, 38}},
    {":/icons/ic_map_root_EUR.png", {42, 38}},
    {":/icons/ic_map_root_NAM.png", {42, 38}},
    {":/icons/ic_map_uptodate_EUR.png", {42, 38}},
    {":/icons/ic_map_uptodate_NAM.png", {42, 38}},
    {":/icons/ic_warning_big.png", {48, 48}},
    {":/icons/ic_error_big.png", {48, 48}},
    {":/icons/ic_connected.png", {14, 14}},
    {":/icons/ic_device_notification.png", {14, 14}},
    {":/icons/ic_full_update_required.png", {48, 48}},
    {":/icons/ic_full_update_available.png", {48, 48}},
    {":/icons/ic_full_update_updated.png", {48, 48}},
    {":/icons/ic_map_expired.png", {48, 48}},
    {":/icons/ic_connect_usb.png", {48, 48}},
    {":/icons/chevron-forward.png", {20, 20}},
    {":/icons/ic_checkbox_filled.png", {16, 16}},
    {":/icons/ic_osx_default.png", {32, 32}},
    {":/icons/ic_osx_attention.png", {32, 32}},
    {":/icons/ic_osx_progress.png", {32, 32}},
    {":/icons/ic_osx_finished.png", {32, 32}},
};

enum class Motion
{
  Fills, // a blue sector grows from none to the whole disc
  Turns  // a blue arc turns clockwise by the same step every frame
};

struct FrameSet
{
  const char* pattern;
  int first;
  int last;
  QSize size;
  Motion motion;
};

const FrameSet frameSets[] = {
    {":/icons/ic_progress_72/ic_progress_%1.png", 0, 32, {48, 48}, Motion::Fills},
    {":/icons/ic_delete_72/ic_delete_%1.png", 0, 32, {48, 48}, Motion::Fills},
    {":/icons/ic_spinner_1414/ic_spinner_%1.png", 1, 18, {14, 14}, Motion::Turns},
};

const char* const spinnerGif = ":/icons/ic_spinner.gif";

bool Near(QRgb pixel, const QColor& colour)
{
  return qAlpha(pixel) == 255 && std::abs(qRed(pixel) - colour.red()) < 12 &&
         std::abs(qGreen(pixel) - colour.green()) < 12 && std::abs(qBlue(pixel) - colour.blue()) < 12;
}

struct Share
{
  int blue = 0;
  int grey = 0;
  double blueAngle = 0; // direction of the blue pixels' centre, clockwise from the top, degrees
};

Share Measure(const QImage& image)
{
  const QColor blue("#005691"), grey("#BFC0C2");
  Share share;
  double x = 0, y = 0;
  for (int row = 0; row < image.height(); ++row) {
    for (int column = 0; column < image.width(); ++column) {
      QRgb pixel = image.pixel(column, row);
      if (Near(pixel, blue)) {
        ++share.blue;
        x += column + 0.5 - image.width() / 2.0;
        y += row + 0.5 - image.height() / 2.0;
      }
      share.grey += Near(pixel, grey);
    }
  }
  share.blueAngle = std::fmod(std::atan2(x, -y) * 180 / M_PI + 360, 360);
  return share;
}

} // namespace

TEST(IconResourcesTest, EveryStillPictureLoadsAtItsSize)
{
  for (const Picture& picture : stills) {
    QImage image(picture.path);
    ASSERT_FALSE(image.isNull()) << picture.path;
    EXPECT_EQ(image.size(), picture.size) << picture.path;
    EXPECT_TRUE(image.hasAlphaChannel()) << picture.path;
  }
}

TEST(IconResourcesTest, FrameSetsAreCompleteAndMoveStepByStep)
{
  for (const FrameSet& set : frameSets) {
    const QString pattern = QString::fromUtf8(set.pattern);
    EXPECT_TRUE(QImage(pattern.arg(set.first - 1)).isNull()) << set.pattern << " starts at " << set.first;
    EXPECT_TRUE(QImage(pattern.arg(set.last + 1)).isNull()) << set.pattern << " ends at " << set.last;

    Share previous;
    for (int frame = set.first; frame <= set.last; ++frame) {
      const QString path = pattern.arg(frame);
      QImage image(path);
      ASSERT_FALSE(image.isNull()) << path.toStdString();
      EXPECT_EQ(image.size(), set.size) << path.toStdString();
      Share share = Measure(image);
      if (set.motion == Motion::Fills) {
        if (frame == set.first) {
          EXPECT_EQ(share.blue, 0) << path.toStdString() << " shows no progress";
        } else {
          EXPECT_GT(share.blue, previous.blue) << path.toStdString() << " shows more than the frame before";
        }
        if (frame == set.last) {
          EXPECT_EQ(share.grey, 0) << path.toStdString() << " is full";
        }
      } else if (frame > set.first) {
        double step = std::fmod(share.blueAngle - previous.blueAngle + 360, 360);
        double expected = 360.0 / (set.last - set.first + 1);
        EXPECT_NEAR(step, expected, expected / 3) << path.toStdString() << " turns on by one step";
      }
      previous = share;
    }
  }
}

TEST(IconResourcesTest, SpinnerGifLoopsThroughSeveralFrames)
{
  QMovie movie(spinnerGif);
  ASSERT_TRUE(movie.isValid());
  EXPECT_GT(movie.frameCount(), 10);
  EXPECT_EQ(movie.loopCount(), -1) << "loops forever";
  ASSERT_TRUE(movie.jumpToFrame(0));
  EXPECT_EQ(movie.currentImage().size(), QSize(48, 48));
  EXPECT_GT(movie.nextFrameDelay(), 0);
  EXPECT_LE(movie.nextFrameDelay() * movie.frameCount(), 1000) << "one turn a second at most";
}

TEST(IconResourcesTest, ResourcesHoldNoPictureBeyondTheNamedOnes)
{
  QSet<QString> named{QString::fromUtf8(spinnerGif)};
  for (const Picture& picture : stills)
    named.insert(QString::fromUtf8(picture.path));
  for (const FrameSet& set : frameSets)
    for (int frame = set.first; frame <= set.last; ++frame)
      named.insert(QString::fromUtf8(set.pattern).arg(frame));

  QSet<QString> present;
  for (QDirIterator it(":/icons", QDir::Files, QDirIterator::Subdirectories); it.hasNext();)
    present.insert(it.next());
  EXPECT_EQ(present, named);
}
