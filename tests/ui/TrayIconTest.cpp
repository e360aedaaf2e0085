#include "ui/widgets/TrayIcon.h"

#include "WidgetTest.h"

#include <QAction>
#include <QMenu>

class TrayIconTest : public testing::Test
{
protected:
  ~TrayIconTest() override { ClearStores(); }

  QSystemTrayIcon* Icon() { return tray.findChild<QSystemTrayIcon*>(); }
  // The picture, the tooltip's second line and the menu, "-" marking a disabled entry.
  QString Shown()
  {
    QString shown = tray.IconPath().mid(8) + " " + Icon()->toolTip().section("\r\n", 1);
    for (QAction* action : Icon()->contextMenu()->actions())
      shown += QString(", ") + (action->isEnabled() ? "" : "-") + action->text();
    return shown;
  }

  RecordingUi ui;
  Ui::TrayIcon tray{ui};
};

TEST_F(TrayIconTest, StatesShowTheirPictureTooltipAndMenuAndAnInterruptedDownloadCanBeOpened)
{
  EXPECT_FALSE(Icon()->isVisible()) << "hidden until the first state";
  // clang-format off
  for (const auto& [state, downloading, shown] : std::vector<std::tuple<State, bool, QString>>{
           {MapUpdateCheck, false, "ic_osx_progress.png Checking for map updates, -Open application, -Settings, Quit"},
           {NoConnection, true, "ic_osx_attention.png Please check your internet connection, Open application, Settings, Quit"},
           {ServerError, false, "ic_osx_attention.png Map update server error, -Open application, Settings, Quit"},
           {PendingUpdate, false, "ic_osx_finished.png Map updates ready, Open application, Settings, Quit"}}) {
    // clang-format on
    SCOPED_TRACE(Name(state));
    PutMaps({Map("map", MapInfo::Optional, downloading ? MapInfo::Downloading : MapInfo::Available)});
    tray.SetState(state);
    EXPECT_TRUE(Icon()->isVisible());
    EXPECT_EQ(Shown(), shown);
    EXPECT_TRUE(Icon()->toolTip().startsWith("Lumora\r\n"));
  }
}

TEST_F(TrayIconTest, MenuEntriesAndAPlainClickEmitAndTheLanguageChanges)
{
  QSignalSpy open(&tray, &Ui::TrayIcon::OpenApplicationClicked),
      settings(&tray, &Ui::TrayIcon::SettingsClicked), quit(&ui, &Ui::IUi::Quit),
      clicked(&tray, &Ui::TrayIcon::Clicked);
  for (QAction* action : Icon()->contextMenu()->actions())
    action->trigger();
  for (auto reason : {QSystemTrayIcon::Context, QSystemTrayIcon::DoubleClick, QSystemTrayIcon::MiddleClick,
                      QSystemTrayIcon::Unknown, QSystemTrayIcon::Trigger})
    emit Icon()->activated(reason);
  EXPECT_EQ(open.count() * 1000 + settings.count() * 100 + quit.count() * 10 + clicked.count(), 1111);
  tray.SetState(UsbFull);
  German german;
  emit ui.UpdateLocale();
  EXPECT_EQ(Shown(), "ic_osx_attention.png USB-Stick kann nicht beschrieben werden, Anwendung öffnen, "
                     "Einstellungen, Beenden");
}
