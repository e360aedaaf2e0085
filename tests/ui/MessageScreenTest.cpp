#include "ui/widgets/MessageScreen.h"

#include "WidgetTest.h"
#include "ui/widgets/DynamicIcon.h"

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
    MapInfo map = WidgetTest::Map("map", type, state);
    map.name = L"Europe %1 <b>East</b>";
    map.downloaded = downloaded;
    map.size = size;
    return map;
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

TEST_F(MessageScreenTest, PagesAboutAMapTellItsSizeAndStopTheProgressPageBefore)
{
  const QString tooSmall =
      "Insufficient memory space available|There is insufficient memory space available on "
      "the USB stick. Please reconnect an USB stick with at least 1.50 GB of free memory space "
      "to the vehicle's navigation system.|:/icons/ic_warning_big.png|Manage maps";
  const QString mandatory =
      "Confirm mandatory map update|This map update download of 1.50 GB will refresh the "
      "current map with the latest updates.|:/icons/ic_warning_big.png|Continue";
  for (const auto& [name, type, map, shown] :
       std::vector<std::tuple<const char*, Screen::Type, MapInfo::Type, QString>>{
           {"MapUpdate-Mandatory", Screen::MapUpdate, MapInfo::Mandatory, mandatory},
           {"UsbTooSmall", Screen::UsbTooSmall, MapInfo::Optional, tooSmall}}) {
    MapStorage::Get().UpdateMap(Map(MapInfo::Downloading, GiB));
    screen.Init(Screen::MapDownload);
    screen.Init(type, Map(MapInfo::Available, 0, 3 * GiB / 2, map));
    EXPECT_EQ(Shown(), shown);
    EXPECT_FALSE(screen.Refreshing());
    SaveScreenshot(&screen, QStringLiteral("message-%1").arg(name));
  }
}

TEST_F(MessageScreenTest, ProgressPagesShowTheShareWithinNoneAndAllAndTheMapsNameAsItIs)
{
  // The share, the amounts and the frame of the disc's picture.
  // clang-format off
  struct Case { const char* name; MapInfo::State state; qint64 downloaded, size; QString shown; int frame; } const cases[] = {
      {"download-half", MapInfo::Downloading, 3 * GiB / 2, 3 * GiB, "50 %\n1.50 GB of 3.00 GB", 16},
      {"download-almost", MapInfo::Downloading, 3 * GiB * 999 / 1000, 3 * GiB, "99 %\n3.00 GB of 3.00 GB", 31},
      {"download-no-size", MapInfo::Downloading, 0, 0, "0 %\n0.00 B of 0.00 B", 0},
      {"download-beyond", MapInfo::Downloading, 4 * GiB, 3 * GiB, "100 %\n3.00 GB of 3.00 GB", 32},
      {"download-negative", MapInfo::Downloading, -GiB, 3 * GiB, "0 %\n0.00 B of 3.00 GB", 0},
      {"delete-third", MapInfo::Deleting, GiB, 3 * GiB, "66 %\n2.00 GB of 3.00 GB", 11},
      {"delete-no-size", MapInfo::Deleting, 0, 0, "0 %\n0.00 B of 0.00 B", 32},
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
    EXPECT_TRUE(screen.Refreshing());
    SaveScreenshot(&screen, QStringLiteral("message-%1").arg(c.name));
  }
}

TEST_F(MessageScreenTest, ProgressRefreshesUntilTheMapLeavesItsStateAndAClickEmitsOnce)
{
  screen.Init(Screen::MapDownload);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !screen.Refreshing(); })) << "no downloading map, no refresh";
  MapStorage::Get().UpdateMap(Map(MapInfo::Downloading, 0));
  screen.Init(Screen::MapDownload);
  QSignalSpy first(&screen, &Screen::FirstButtonClicked), second(&screen, &Screen::SecondButtonClicked);
  QTest::mouseClick(Find<QPushButton>(&screen, "pushButtonPrimary"), Qt::LeftButton);
  QTest::mouseClick(Find<QPushButton>(&screen, "pushButtonPrimary"), Qt::LeftButton);
  EXPECT_EQ(first.count(), 1) << "the first click disables the buttons";
  MapStorage::Get().UpdateMap(Map(MapInfo::Downloading, 3 * GiB / 2));
  ASSERT_TRUE(QTest::qWaitFor([&] { return Shown().contains("50 %"); }));
  EXPECT_TRUE(Shown().endsWith("|Cancel")) << "a refresh enables Cancel again";
  MapStorage::Get().UpdateMap(Map(MapInfo::Pending, 3 * GiB));
  ASSERT_TRUE(QTest::qWaitFor([&] { return !screen.Refreshing(); }));
  EXPECT_TRUE(Shown().contains("50 %")) << "the page keeps its last content";
  // A page about a map refuses a map that is not valid and keeps what it shows.
  screen.Init(Screen::StopDownload);
  screen.Init(Screen::MapUpdate, MapInfo());
  Click(&screen, "pushButtonSecondary");
  EXPECT_EQ(screen.CurrentType(), Screen::StopDownload);
  EXPECT_EQ(first.count() * 10 + second.count(), 11);
}

TEST_F(MessageScreenTest, ChangeOfLanguageRendersTheSamePageAnewWithItsOwnMap)
{
  screen.Init(Screen::MapUpdate, Map(MapInfo::Available, 0, 3 * GiB, MapInfo::Installed));
  {
    German german;
    emit iui.UpdateLocale();
    EXPECT_TRUE(Shown().startsWith("Karten-Download bestätigen|"));
  }
  emit iui.UpdateLocale();
  EXPECT_TRUE(
      Shown().startsWith("Confirm map download|This map download of 3.00 GB will restore the current map."));
  MapStorage::Get().UpdateMap(Map(MapInfo::Deleting, 2 * GiB));
  screen.Init(Screen::MapDelete);
  German german;
  emit iui.UpdateLocale();
  EXPECT_EQ(Shown().section('|', 1, 1),
            "Europe %1 <b>East</b>\nDownload wird abgebrochen – 33 %\n1.00 GB von 3.00 GB");
  SaveScreenshot(&screen, "message-MapDelete-german");
}
