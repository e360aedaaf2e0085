#include "ui/widgets/TrayIcon.h"
#include "cfg/Config.h"
#include "fmu/MapStorage.h"
#include "ui/HeadlessUi.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QMenu>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTranslator>

#include <sstream>

namespace {

class TrayIconTest : public testing::Test
{
protected:
  void TearDown() override { MapStorage::Get().Clear(); }

  QSystemTrayIcon* Icon() { return tray.findChild<QSystemTrayIcon*>(); }
  QList<QAction*> Entries() { return Icon()->contextMenu()->actions(); }
  QStringList EntryTexts()
  {
    QStringList texts;
    for (QAction* action : Entries())
      texts << action->text();
    return texts;
  }

  Ui::HeadlessUi ui;
  Ui::TrayIcon tray{ui};
};

TEST_F(TrayIconTest, EveryStateShowsItsPictureTooltipAndMenu)
{
  const QString def = ":/icons/ic_osx_default.png", att = ":/icons/ic_osx_attention.png",
                pro = ":/icons/ic_osx_progress.png", fin = ":/icons/ic_osx_finished.png";
  struct Case
  {
    State state;
    QString picture;
    QString text;
    bool open;
    bool settings;
    bool downloading = false; // a map download was interrupted
  } const cases[] = {
      {CancelDownload, pro, "Cancelling download", true, false},
      {MandatoryUpdate, att, "Map update required", true, true},
      {MapDownload, pro, "Downloading map", true, false},
      {MapUpdateCheck, pro, "Checking for map updates", false, false},
      {MetadataCorrupt, att, "Cannot read from USB stick", false, true},
      {NoConnection, att, "Please check your internet connection", true, true, true},
      {NoConnection, att, "Please check your internet connection", false, true},
      {NoSubscription, att, "Vehicle's navigation device not registered yet", false, true},
      {OptionalUpdate, def, "Map updates available", true, true},
      {PendingUpdate, fin, "Map updates ready", true, true},
      {RootUpdate, def, "Map updates available", true, true},
      {ServerError, att, "Map update server error", false, true},
      {ServerError, att, "Map update server error", true, true, true},
      {SubscriptionExpired, att, "Map update subscription expired", true, true},
      {Unknown, "", "", true, true},
      {UpToDate, def, "Your vehicle's navigation system is up to date", true, true},
      {UsbBlocked, att, "Cannot write to USB stick", true, true},
      {UsbCheck, pro, "Checking data on USB stick", true, false},
      {UsbFull, att, "Cannot write to USB stick", true, true},
      {UsbRemoved, att, "The USB stick was removed while the application was accessing it", true, true},
      {UsbTooSmall, att, "Cannot write to USB stick", true, true},
  };
  EXPECT_FALSE(Icon()->isVisible()) << "hidden until the first state";
  EXPECT_FALSE(tray.Geometry().isValid()) << "no tray here to tell the icon's place";
  for (const Case& c : cases) {
    std::ostringstream name;
    name << c.state;
    SCOPED_TRACE(name.str());
    MapStorage::Get().Clear();
    if (c.downloading) {
      MapInfo map;
      map.id = "map-1";
      map.state = MapInfo::Downloading;
      MapStorage::Get().UpdateMap(map);
    }
    tray.SetState(c.state);
    EXPECT_EQ(tray.IconPath(), c.picture);
    EXPECT_EQ(Icon()->toolTip(), "Lumora\r\n" + c.text);
    EXPECT_TRUE(Icon()->isVisible());
    ASSERT_EQ(Entries().size(), 3);
    EXPECT_EQ(Entries()[0]->isEnabled(), c.open);
    EXPECT_EQ(Entries()[1]->isEnabled(), c.settings);
    EXPECT_TRUE(Entries()[2]->isEnabled());
  }
}

TEST_F(TrayIconTest, MenuClicksAndLanguage)
{
  QSignalSpy open(&tray, &Ui::TrayIcon::OpenApplicationClicked);
  QSignalSpy settings(&tray, &Ui::TrayIcon::SettingsClicked);
  QSignalSpy quit(&ui, &Ui::IUi::Quit);
  QSignalSpy clicked(&tray, &Ui::TrayIcon::Clicked);
  for (QAction* action : Entries())
    action->trigger();
  EXPECT_EQ(open.count() * 100 + settings.count() * 10 + quit.count(), 111);
  for (auto reason : {QSystemTrayIcon::Context, QSystemTrayIcon::DoubleClick, QSystemTrayIcon::MiddleClick,
                      QSystemTrayIcon::Unknown, QSystemTrayIcon::Trigger})
    emit Icon()->activated(reason);
  EXPECT_EQ(clicked.count(), 1) << "only a plain click";

  EXPECT_EQ(EntryTexts(), QStringList({"Open application", "Settings", "Quit"}));
  emit ui.UpdateLocale();
  EXPECT_EQ(Icon()->toolTip(), "Lumora\r\n") << "a language change before any state";
  EXPECT_TRUE(Icon()->isVisible());
  tray.SetState(UsbFull);
  QTranslator german;
  ASSERT_TRUE(german.load(Config::get().translationFile("de_DE")));
  QCoreApplication::installTranslator(&german);
  emit ui.UpdateLocale();
  QCoreApplication::removeTranslator(&german);
  EXPECT_EQ(EntryTexts(), QStringList({"Anwendung öffnen", "Einstellungen", "Beenden"}));
  EXPECT_EQ(Icon()->toolTip(), "Lumora\r\nUSB-Stick kann nicht beschrieben werden");
}

} // namespace
