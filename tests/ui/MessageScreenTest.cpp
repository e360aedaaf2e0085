#include "ui/widgets/MessageScreen.h"

#include "Screenshot.h"
#include "fmu/MapStorage.h"
#include "ui/HeadlessUi.h"
#include "ui/widgets/DynamicIcon.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTranslator>

namespace {

using Screen = Ui::MessageScreen;
constexpr qint64 GiB = 1024ll * 1024 * 1024;
const QString Warning = ":/icons/ic_warning_big.png";

MapInfo Map(MapInfo::State state, qint64 downloaded, qint64 size, MapInfo::Type type = MapInfo::Optional)
{
  MapInfo map;
  map.id = "map";
  map.name = L"Europe %1 <b>East</b>";
  map.type = type;
  map.state = state;
  map.downloaded = downloaded;
  map.size = size;
  return map;
}

class MessageScreenTest : public testing::Test
{
protected:
  MessageScreenTest() : screen(iui) { screen.resize(718, 371); }
  ~MessageScreenTest() override
  {
    QCoreApplication::removeTranslator(&german);
    MapStorage::Get().Clear();
  }

  // What the user sees: title, description, icon, then each visible
  // button's text ("-" for a hidden one), secondary (left) first.
  QStringList Shown()
  {
    const auto text = [this](const char* name) {
      return screen.findChild<QWidget*>(name)->property("text").toString();
    };
    const auto button = [this](const char* name) {
      auto* b = screen.findChild<QPushButton*>(name);
      return b->isHidden() ? QStringLiteral("-") : b->text();
    };
    return {text("labelMessageTitle"), text("labelMessageDescription"),
            screen.findChild<Ui::DynamicIcon*>("labelMessageIcon")->Path(), button("pushButtonSecondary"),
            button("pushButtonPrimary")};
  }

  void Click(const char* button)
  {
    QTest::mouseClick(screen.findChild<QPushButton*>(button), Qt::LeftButton);
  }

  Ui::HeadlessUi iui;
  Screen screen;
  QTranslator german;
};

TEST_F(MessageScreenTest, CatalogueShowsEachMessageWithTheWarningAndItsButtons)
{
  struct Case
  {
    Screen::Type type;
    MapInfo::Type map; // MapUpdate and UsbTooSmall only
    QStringList shown; // title, description, secondary and primary button
  };
  const QString storeFull = "There is insufficient memory space available on the USB stick. ";
  const QString refresh =
      "This map update download of 1.50 GB will refresh the current map with the latest updates.";
  const std::vector<Case> cases = {
      {Screen::DiscardUpdate,
       {},
       {"Cancel map update?",
        "Cancelling the map update will delete the map update from the USB stick. For future installation on "
        "your vehicle's navigation system, the map update needs to be downloaded to the USB stick again. "
        "Please confirm cancelling this map update.",
        "No", "Yes"}},
      {Screen::SaveSettings,
       {},
       {"Unsaved changes detected",
        "Unsaved changes detected. Closing this settings window will discard the changes.", "No, go back",
        "Yes, discard"}},
      {Screen::NoConnection,
       {},
       {"No internet connection",
        "Downloading map updates requires an internet connection. Please check if the computer is connected "
        "to the internet.",
        "Cancel", "Retry"}},
      {Screen::NoUsb, {}, {"No USB stick found", "Connect a USB stick to the computer", "-", "Dismiss"}},
      {Screen::QuitApplication,
       {},
       {"Quit application",
        "The USB stick is in use. Quitting the application results in losing your vehicle's navigation "
        "system map information. To return to the application click No.",
        "Yes", "No"}},
      {Screen::ServerError,
       {},
       {"Map update server not available", "Please try again later.", "Cancel", "Retry"}},
      {Screen::StopDownload,
       {},
       {"Cancel map update download?", "Are you sure you want to cancel the map update download?", "No",
        "Yes"}},
      {Screen::SubscriptionExpired,
       {},
       {"Map update subscription expired",
        "You can still download a map to restore your system to the latest version you were entitled to. To "
        "restore the latest entitled map version click below.",
        "-", "Restore map"}},
      {Screen::UsbBlocked,
       {},
       {"Map update download failed",
        "Map update download failed due to a device access operation. Please check if all files on the USB "
        "stick can be accessed.",
        "-", "Dismiss"}},
      {Screen::UsbFull,
       {},
       {"Insufficient memory space available", storeFull + "Please create some free memory space.", "-",
        "Dismiss"}},
      {Screen::MapUpdate,
       MapInfo::Installed,
       {"Confirm map download", "This map download of 1.50 GB will restore the current map.", "Cancel",
        "Continue"}},
      {Screen::MapUpdate, MapInfo::Optional, {"Confirm optional map update", refresh, "Cancel", "Continue"}},
      {Screen::MapUpdate, MapInfo::Mandatory, {"Confirm mandatory map update", refresh, "-", "Continue"}},
      {Screen::UsbTooSmall,
       {},
       {"Insufficient memory space available",
        storeFull + "Please reconnect an USB stick with at least 1.50 GB of free memory space to the "
                    "vehicle's navigation system.",
        "-", "Manage maps"}},
  };
  for (const Case& c : cases) {
    const bool withMap = c.type == Screen::MapUpdate || c.type == Screen::UsbTooSmall;
    const QString name =
        QVariant::fromValue(c.type).toString() +
        (c.type == Screen::MapUpdate ? QStringList{"-Installed", "-Optional", "-Mandatory"}[c.map] : "");
    SCOPED_TRACE(name.toStdString());
    // A running progress page before: the message stops it and drops its frame and buttons.
    MapStorage::Get().UpdateMap(Map(MapInfo::Downloading, GiB, 3 * GiB));
    screen.Init(Screen::MapDownload);
    MapStorage::Get().Clear();
    if (withMap)
      screen.Init(c.type, Map(MapInfo::Available, 0, 3 * GiB / 2, c.map));
    else
      screen.Init(c.type);
    EXPECT_EQ(Shown(), QStringList({c.shown[0], c.shown[1], Warning, c.shown[2], c.shown[3]}));
    EXPECT_EQ(screen.CurrentType(), c.type);
    EXPECT_FALSE(screen.Refreshing());
    for (auto* button : screen.findChildren<QPushButton*>())
      EXPECT_EQ(button->isEnabled(), !button->isHidden()) << "a button is usable exactly when it is shown";
    SaveScreenshot(&screen, "message-" + name);
  }
}

TEST_F(MessageScreenTest, ProgressPagesShowTheShareAndTheFrame)
{
  struct Case
  {
    const char* name;
    MapInfo::State state;
    qint64 downloaded, size;
    QString percent, amounts, icon;
  };
  const QString down = ":/icons/ic_progress_72/ic_progress_%1.png",
                del = ":/icons/ic_delete_72/ic_delete_%1.png";
  for (const Case& c : std::vector<Case>{
           {"download-start", MapInfo::Downloading, 0, 3 * GiB, "0", "0.00 B of 3.00 GB", down.arg(0)},
           {"download-half", MapInfo::Downloading, 3 * GiB / 2, 3 * GiB, "50", "1.50 GB of 3.00 GB",
            down.arg(16)},
           {"download-almost", MapInfo::Downloading, 3 * GiB * 999 / 1000, 3 * GiB, "99",
            "3.00 GB of 3.00 GB", down.arg(31)},
           {"download-done", MapInfo::Downloading, 3 * GiB, 3 * GiB, "100", "3.00 GB of 3.00 GB",
            down.arg(32)},
           {"download-no-size", MapInfo::Downloading, 0, 0, "0", "0.00 B of 0.00 B", down.arg(0)},
           {"download-beyond", MapInfo::Downloading, 4 * GiB, 3 * GiB, "100", "3.00 GB of 3.00 GB",
            down.arg(32)},
           {"download-negative", MapInfo::Downloading, -GiB, 3 * GiB, "0", "0.00 B of 3.00 GB", down.arg(0)},
           {"delete-start", MapInfo::Deleting, 3 * GiB, 3 * GiB, "0", "0.00 B of 3.00 GB", del.arg(32)},
           {"delete-third", MapInfo::Deleting, GiB, 3 * GiB, "66", "2.00 GB of 3.00 GB", del.arg(11)},
           {"delete-done", MapInfo::Deleting, 0, 3 * GiB, "100", "3.00 GB of 3.00 GB", del.arg(0)},
           {"delete-no-size", MapInfo::Deleting, 0, 0, "0", "0.00 B of 0.00 B", del.arg(32)}}) {
    SCOPED_TRACE(c.name);
    MapStorage::Get().UpdateMap(Map(c.state, c.downloaded, c.size));
    const bool download = c.state == MapInfo::Downloading;
    screen.Init(download ? Screen::MapDownload : Screen::MapDelete);
    const QString step = download ? "Downloading - %1 %" : "Cancelling download - %1 %";
    EXPECT_EQ(Shown(), QStringList({download ? "Map update" : "Deleting downloaded map update.",
                                    "Europe %1 <b>East</b>\n" + step.arg(c.percent) + "\n" + c.amounts,
                                    c.icon, "-", download ? "Cancel" : "-"}));
    EXPECT_TRUE(screen.Refreshing());
    if (c.name == std::string("download-half") || c.name == std::string("delete-third"))
      SaveScreenshot(&screen, QStringLiteral("message-%1").arg(c.name));
  }
}

TEST_F(MessageScreenTest, ProgressRefreshesUntilTheMapLeavesItsStateAndAClickEmitsOnce)
{
  screen.Init(Screen::MapDownload);
  EXPECT_EQ(Shown().value(0), "Message title") << "no downloading map: nothing drawn";
  ASSERT_TRUE(QTest::qWaitFor([&] { return !screen.Refreshing(); }));

  MapStorage::Get().UpdateMap(Map(MapInfo::Downloading, 0, 3 * GiB));
  screen.Init(Screen::MapDownload);
  QSignalSpy first(&screen, &Screen::FirstButtonClicked);
  Click("pushButtonPrimary");
  Click("pushButtonPrimary");
  EXPECT_EQ(first.count(), 1) << "the first click disables the buttons";
  MapStorage::Get().UpdateMap(Map(MapInfo::Downloading, 3 * GiB / 2, 3 * GiB));
  ASSERT_TRUE(QTest::qWaitFor([&] { return Shown().value(1).contains("50 %"); }));
  EXPECT_TRUE(screen.findChild<QPushButton*>("pushButtonPrimary")->isEnabled())
      << "a refresh enables Cancel again";

  MapStorage::Get().UpdateMap(Map(MapInfo::Pending, 3 * GiB, 3 * GiB));
  ASSERT_TRUE(QTest::qWaitFor([&] { return !screen.Refreshing(); }));
  EXPECT_TRUE(Shown().value(1).contains("50 %")) << "the page keeps its last content";

  // A map page refuses a map that is not valid and keeps what it shows.
  screen.Init(Screen::StopDownload);
  screen.Init(Screen::MapUpdate, MapInfo());
  EXPECT_EQ(screen.CurrentType(), Screen::StopDownload);
  EXPECT_EQ(Shown().value(0), "Cancel map update download?");
  QSignalSpy second(&screen, &Screen::SecondButtonClicked);
  Click("pushButtonSecondary");
  EXPECT_EQ(second.count(), 1);
  EXPECT_EQ(first.count(), 1);

  // Without a map a map page draws nothing, also after a language change.
  screen.Init(Screen::UsbTooSmall);
  emit iui.UpdateLocale();
  EXPECT_EQ(Shown().value(0), "Cancel map update download?");
  EXPECT_EQ(screen.CurrentType(), Screen::UsbTooSmall);
}

TEST_F(MessageScreenTest, LanguageChangeRendersTheSamePageAnew)
{
  emit iui.UpdateLocale();
  EXPECT_EQ(Shown().value(0), "Message title") << "a new screen keeps its placeholders";

  ASSERT_TRUE(german.load(QCoreApplication::applicationDirPath() + "/res/translations/de_DE.qm"));
  screen.Init(Screen::NoUsb);
  QCoreApplication::installTranslator(&german);
  emit iui.UpdateLocale();
  EXPECT_EQ(Shown(),
            QStringList({"Kein USB-Stick gefunden", "Schließen Sie einen USB-Stick an den Computer an",
                         Warning, "-", "Schließen"}));

  screen.Init(Screen::MapUpdate, Map(MapInfo::Available, 0, 3 * GiB / 2, MapInfo::Installed));
  QCoreApplication::removeTranslator(&german);
  emit iui.UpdateLocale();
  EXPECT_EQ(Shown().value(1), "This map download of 1.50 GB will restore the current map.")
      << "the stored map";

  MapStorage::Get().UpdateMap(Map(MapInfo::Deleting, 2 * GiB, 3 * GiB));
  screen.Init(Screen::MapDelete);
  QCoreApplication::installTranslator(&german);
  emit iui.UpdateLocale();
  EXPECT_EQ(Shown().value(1), "Europe %1 <b>East</b>\nDownload wird abgebrochen – 33 %\n1.00 GB von 3.00 GB");
  EXPECT_TRUE(screen.Refreshing());
  SaveScreenshot(&screen, "message-MapDelete-german");
}

} // namespace
