// The facade with its real main window, popup and tray icon, with a tray and
// without one.

#include "ui/Ui.h"

#include "WidgetTest.h"
#include "ui/widgets/MainWindow.h"
#include "ui/widgets/Popup.h"
#include "ui/widgets/TrayIcon.h"

#include <QApplication>
#include <QCursor>
#include <QScreen>

static QRect Available()
{
  return QGuiApplication::primaryScreen()->availableGeometry();
}

// Every state reaches the window, the tray icon and the popup, and the popup
// is placed again after each state, change of stick and of language. The tray
// icon toggles the popup, placed from the pointer where the tray cannot tell
// its icon's place; the icon's menu hides it; a popup that shows itself
// closes an open menu that would take the next clicks; "Continue" on the held
// removed-stick message shows the current state.
TEST(Facade, PassesEveryStateOnAndTheTrayTogglesThePopupWhileMenusGiveWay)
{
  PutSticks();
  LogCapture log;
  Ui::Ui ui(true);
  Ui::Popup& popup = ui.PopupWindow();
  ui.SetState(UsbRemoved);
  ui.SetState(RootUpdate);
  ui.UpdateUsbs();
  emit ui.UpdateLocale();
  EXPECT_EQ(log.Matching("Updating popup geometry from").size(), 4u);
  EXPECT_EQ(ui.Window().CurrentState(), RootUpdate);
  EXPECT_EQ(ui.Tray().IconPath(), ":/icons/ic_osx_default.png");
  Click(&popup, "pushButtonContentLink");
  EXPECT_EQ(Find<QLabel>(&popup, "labelContentTitle")->text(), "Manage maps");
  popup.hide();
  QCursor::setPos(-20000, -20000);
  emit ui.Tray().Clicked();
  EXPECT_EQ(popup.geometry().topRight(), Available().topRight());
  emit ui.Tray().Clicked();
  EXPECT_FALSE(popup.isVisible());
  QCursor::setPos(Available().center());
  emit ui.Tray().Clicked();
  EXPECT_TRUE(popup.geometry().contains(Available().center() + QPoint(0, 20)));
  emit ui.Tray().MenuAboutToShow();
  EXPECT_FALSE(popup.isVisible()) << "the icon's menu takes the popup's place";
  QMenu menu;
  menu.addAction("Quit");
  menu.popup(Available().center());
  ASSERT_EQ(QApplication::activePopupWidget(), &menu);
  ui.SetState(NoConnection);
  EXPECT_TRUE(popup.isVisible() && !menu.isVisible());
}

// Without a tray nothing hides the window and closing it asks to quit; with
// one, the window hides and the popup follows the states, and activation
// brings the popup forward, or the window where it is on show minimised or
// maximised, and never covers a window of the application.
TEST(Facade, WithoutATrayTheWindowIsTheApplicationAndWithOneActivationNeverCoversAWindowOfTheApplication)
{
  PutSticks();
  for (const bool tray : {true, false}) {
    SCOPED_TRACE(tray ? "with a tray" : "without a tray");
    Ui::Ui ui(tray);
    QSignalSpy quit(&ui, &Ui::IUi::Quit);
    Ui::MainWindow& window = ui.Window();
    if (tray) {
      ui.SetState(RootUpdate);
      ASSERT_EQ(QGuiApplication::focusWindow(), nullptr);
      emit qApp->applicationStateChanged(Qt::ApplicationActive);
      EXPECT_TRUE(ui.PopupWindow().isVisible()) << "activated without a window of the application";
      ui.PopupWindow().hide();
      window.showMinimized();
      ui.Activate();
      EXPECT_FALSE(window.windowState() & Qt::WindowMinimized);
      window.showMaximized();
      QWidget other;
      other.show();
      QApplication::setActiveWindow(&other);
      ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
      ui.Activate();
      EXPECT_TRUE(window.windowState() & Qt::WindowMaximized);
      EXPECT_TRUE(QTest::qWaitForWindowActive(&window)) << "a maximised window behind another program's";
      other.close();
      EXPECT_FALSE(ui.PopupWindow().isVisible()) << "the window came forward instead";
      QApplication::setActiveWindow(&window);
      ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
      emit qApp->applicationStateChanged(Qt::ApplicationActive);
      EXPECT_FALSE(ui.PopupWindow().isVisible()) << "activated by a window of the application";
      // A closed window keeps its state while hidden; the popup comes forward
      // all the same.
      for (const auto shown : {&QWidget::showMaximized, &QWidget::showMinimized}) {
        (window.*shown)();
        window.close();
        ASSERT_FALSE(window.isVisible());
        ASSERT_NE(window.windowState() & (Qt::WindowMaximized | Qt::WindowMinimized), 0);
        ui.Activate();
        EXPECT_TRUE(ui.PopupWindow().isVisible()) << "a closed window in state " << int(window.windowState());
        ui.PopupWindow().hide();
      }
    }
    ui.SetState(MapUpdateCheck);
    EXPECT_EQ(window.isVisible(), !tray) << "a check hides the window where a tray can bring it back";
    ui.SetState(OptionalUpdate);
    emit ui.UpdateLocale();
    EXPECT_EQ(ui.PopupWindow().isVisible(), tray) << "the popup follows the states only under a tray";
    window.Show();
    QTest::keyClick(&window, Qt::Key_Escape);
    EXPECT_EQ(window.isVisible(), !tray) << "Escape";
    window.Show();
    window.close();
    EXPECT_EQ(window.isVisible() * 10 + quit.count(), tray ? 0 : 11) << "closed";
    window.hide();
    ui.ConfirmQuit();
    EXPECT_TRUE(window.isVisible() && window.CurrentPage() == Ui::MainWindow::PageIndex::Message)
        << "the quit question comes forward";
  }
}
