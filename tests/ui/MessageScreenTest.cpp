#include "ui/widgets/MessageScreen.h"

#include "WidgetTest.h"
#include "ui/widgets/DynamicIcon.h"

#include <QMetaEnum>

using Screen = Ui::MessageScreen;

class MessageScreenTest : public testing::Test
{
protected:
  MessageScreenTest() { screen.resize(718, 371); }
  ~MessageScreenTest() override { PutMaps({}); }

  // A map of `size` bytes whose name holds a placeholder and markup.
  static MapInfo Map(MapInfo::State state, qint64 downloaded, qint64 size = 3 * GiB,
                     MapInfo::Type type = MapInfo::Optional)
  {
    return {type, state, "map", L"Europe %1 <b>East</b>", "", "2024.03", "EUR", "", "", downloaded, size};
  }
  // The title, the description, the picture and the usable buttons' texts, the left one first.
  QString Shown()
  {
    QString shown = Find(&screen, "labelMessageTitle")->property("text").toString() + "|" +
                    Find(&screen, "labelMessageDescription")->property("text").toString() + "|" +
                    Find<Ui::DynamicIcon>(&screen, "labelMessageIcon")->Path();
    for (const char* name : {"pushButtonSecondary", "pushButtonPrimary"})
      if (auto* button = Find<QPushButton>(&screen, name); !button->isHidden() && button->isEnabled())
        shown += "|" + button->text();
    return shown;
  }

  RecordingUi iui;
  Screen screen{iui};
};

// Every message as a picture; a page about a map tells the map's size and
// stops the progress page's refresh.
TEST_F(MessageScreenTest, EveryMessageAsAPictureAndPagesAboutAMapTellItsSize)
{
  const QMetaEnum types = QMetaEnum::fromType<Screen::Type>();
  for (int each = 0; each < types.keyCount(); ++each) {
    const auto type = static_cast<Screen::Type>(types.value(each));
    if (type == Screen::Unknown)
      continue;
    SCOPED_TRACE(types.key(each));
    MapStorage::Get().UpdateMap(
        Map(type == Screen::MapDelete ? MapInfo::Deleting : MapInfo::Downloading, GiB));
    screen.Init(Screen::MapDownload);
    if (type == Screen::MapUpdate || type == Screen::UsbTooSmall) {
      screen.Init(type, Map(MapInfo::Available, 0, 3 * GiB / 2, MapInfo::Mandatory));
      EXPECT_TRUE(Shown().contains(" 1.50 GB ") && !screen.Refreshing()) << Shown().toStdString();
    } else {
      screen.Init(type);
    }
    SaveScreenshot(&screen, QStringLiteral("message-%1").arg(types.key(each)));
  }
  // A restore has its own title; a mandatory update offers no way out.
  for (const auto& [type, shown] : std::vector<std::pair<MapInfo::Type, QString>>{
           {MapInfo::Installed, "Confirm map download|Cancel|Continue"},
           {MapInfo::Mandatory, "Confirm mandatory map update|Continue"}}) {
    screen.Init(Screen::MapUpdate, Map(MapInfo::Available, 0, 3 * GiB / 2, type));
    EXPECT_EQ(Shown().section('|', 0, 0) + "|" + Shown().section('|', 3), shown);
  }
}

// The share stays within 0 and 100 % also with no size, the disc's frame
// follows it, and the map's name is shown as it is, as plain text. The
// progress refreshes while its map is in its state; the first click
// disables the buttons until the next content; a map that is not valid is
// refused and the page keeps what it shows; a change of language renders the
// page anew with its own map.
TEST_F(MessageScreenTest, ProgressPagesShowTheShareWithinNoneAndAllAndRefreshUntilTheMapLeavesItsState)
{
  // clang-format off
  struct Case { const char* name; MapInfo::State state; qint64 downloaded, size; QString shown; int frame; } const cases[] = {
      {"download-half", MapInfo::Downloading, 3 * GiB / 2, 3 * GiB, "50 %\n1.50 GB of 3.00 GB", 16},
      {"download-almost", MapInfo::Downloading, 3 * GiB * 999 / 1000, 3 * GiB, "99 %\n3.00 GB of 3.00 GB", 31},
      {"download-no-size", MapInfo::Downloading, 0, 0, "0 %\n0.00 B of 0.00 B", 0},
      {"download-beyond", MapInfo::Downloading, 4 * GiB, 3 * GiB, "100 %\n3.00 GB of 3.00 GB", 32},
      {"delete-third", MapInfo::Deleting, GiB, 3 * GiB, "66 %\n2.00 GB of 3.00 GB", 11},
      {"delete-no-size", MapInfo::Deleting, 0, 0, "0 %\n0.00 B of 0.00 B", 32},
      {"download-negative", MapInfo::Downloading, -GiB, 3 * GiB, "0 %\n0.00 B of 3.00 GB", 0},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MapStorage::Get().UpdateMap(Map(c.state, c.downloaded, c.size));
    const bool download = c.state == MapInfo::Downloading;
    screen.Init(download ? Screen::MapDownload : Screen::MapDelete);
    EXPECT_EQ(Shown().section('|', 1),
              "Europe %1 <b>East</b>\n" + QString("%1 - %2|:/icons/%3_72/%3_%4.png%5")
                                              .arg(download ? "Downloading" : "Cancelling download", c.shown,
                                                   download ? "ic_progress" : "ic_delete",
                                                   QString::number(c.frame), download ? "|Cancel" : ""));
    EXPECT_EQ(Find<QLabel>(&screen, "labelMessageDescription")->textFormat(), Qt::PlainText);
    SaveScreenshot(&screen, QStringLiteral("message-%1").arg(c.name));
  } // on the download's progress page at 0 %
  QSignalSpy first(&screen, &Screen::FirstButtonClicked), second(&screen, &Screen::SecondButtonClicked);
  QTest::mouseClick(Find<QPushButton>(&screen, "pushButtonPrimary"), Qt::LeftButton);
  QTest::mouseClick(Find<QPushButton>(&screen, "pushButtonPrimary"), Qt::LeftButton);
  MapStorage::Get().UpdateMap(Map(MapInfo::Downloading, 3 * GiB / 2));
  ASSERT_TRUE(QTest::qWaitFor([&] { return Shown().contains("50 %"); }));
  EXPECT_TRUE(Shown().endsWith("|Cancel")) << "a refresh enables Cancel again";
  MapStorage::Get().UpdateMap(Map(MapInfo::Pending, 3 * GiB));
  ASSERT_TRUE(QTest::qWaitFor([&] { return !screen.Refreshing(); }));
  screen.Init(Screen::StopDownload);
  screen.Init(Screen::MapUpdate, MapInfo());
  Click(&screen, "pushButtonSecondary");
  EXPECT_EQ(screen.CurrentType(), Screen::StopDownload);
  EXPECT_EQ(first.count() * 10 + second.count(), 11);
  MapStorage::Get().UpdateMap(Map(MapInfo::Deleting, 2 * GiB));
  screen.Init(Screen::MapDelete);
  German german;
  emit iui.UpdateLocale();
  EXPECT_EQ(Shown().section('|', 1, 1),
            "Europe %1 <b>East</b>\nDownload wird abgebrochen – 33 %\n1.00 GB von 3.00 GB");
  SaveScreenshot(&screen, "message-MapDelete-german");
}
