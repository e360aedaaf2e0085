#include "ui/widgets/TrayIcon.h"

#include "WidgetTest.h"

#include <QAction>

// The menu's entries ("Open application", "Settings", "Quit") follow the
// state and offer an interrupted download; each emits its request; only a
// plain click on the icon counts; the tooltip and menu follow the language.
TEST(TrayIconTest, TheMenuFollowsTheStateAndOffersAnInterruptedDownloadAndOnlyAPlainClickCounts)
{
  RecordingUi ui;
  Ui::TrayIcon tray(ui);
  auto* icon = tray.findChild<QSystemTrayIcon*>();
  EXPECT_FALSE(icon->isVisible()) << "hidden until the first state";
  for (const auto& [state, map, enabled] :
       std::vector<std::tuple<State, MapInfo::State, QString>>{{MapUpdateCheck, MapInfo::Available, "--+"},
                                                               {NoConnection, MapInfo::Downloading, "+++"},
                                                               {ServerError, MapInfo::Available, "-++"},
                                                               {UsbCheck, MapInfo::Available, "+-+"}}) {
    PutMaps({Map("map", MapInfo::Optional, map)});
    tray.SetState(state);
    QString shown;
    for (QAction* action : icon->contextMenu()->actions())
      shown += action->isEnabled() ? "+" : "-";
    EXPECT_EQ(shown, enabled) << testing::PrintToString(state);
  }
  PutMaps({});
  EXPECT_EQ(tray.IconPath() + " " + icon->toolTip(),
            ":/icons/ic_osx_progress.png Lumora\r\nChecking data on USB stick");
  QSignalSpy open(&tray, &Ui::TrayIcon::OpenApplicationClicked),
      settings(&tray, &Ui::TrayIcon::SettingsClicked), quit(&ui, &Ui::IUi::Quit),
      clicked(&tray, &Ui::TrayIcon::Clicked);
  for (QAction* action : icon->contextMenu()->actions())
    action->trigger();
  for (auto reason : {QSystemTrayIcon::Context, QSystemTrayIcon::DoubleClick, QSystemTrayIcon::MiddleClick,
                      QSystemTrayIcon::Unknown, QSystemTrayIcon::Trigger})
    emit icon->activated(reason);
  EXPECT_EQ(open.count() * 1000 + settings.count() * 100 + quit.count() * 10 + clicked.count(), 1111);
  German german;
  emit ui.UpdateLocale();
  EXPECT_EQ(icon->toolTip().section("\r\n", 1), "Daten auf dem USB-Stick werden geprüft");
}
