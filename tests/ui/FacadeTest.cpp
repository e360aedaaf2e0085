// The facade with its real main window, popup and tray icon, with a tray and
// without one.

#include "ui/Ui.h"

#include "WidgetTest.h"
#include "ui/widgets/MainWindow.h"
#include "ui/widgets/Popup.h"
#include "ui/widgets/TrayIcon.h"

#include <QApplication>
#include <QCursor>
#include <QMenu>
#include <QScreen>

// The files that logged a change of state or placed the popup, in order.
static QString Trace(LogCapture& log)
{
  static const QRegularExpression record(
      "(\\w+)\\.cpp: *\\d+ .* \\| (Changing state|Updating popup geometry) from");
  QStringList trace;
  for (const std::string& line : log.Lines())
    if (const auto match = record.match(QString::fromStdString(line)); match.hasMatch())
      trace << match.captured(1) + (match.captured(2) == "Changing state" ? " state" : " place");
  return trace.join(", ");
}

static QRect Available()
{
  return QGuiApplication::primaryScreen()->availableGeometry();
}

TEST(Facade, PassesEveryStateToWindowTrayAndPopupInOrderThenPlacesThePopupAgain)
{
  PutSticks();
  LogCapture log;
  Ui::Ui ui(true);
  ui.SetState(MapUpdateCheck);
  ui.SetState(MapUpdateCheck); // passed on and placed again, logged by nobody
  EXPECT_EQ(Trace(log), "Ui state, MainWindow state, TrayIcon state, Popup state, "
                        "Popup place, Popup place");
  EXPECT_EQ(ui.Tray().IconPath(), ":/icons/ic_osx_progress.png");
  LogCapture again; // a change of the stick and of the language each place the popup again
  ui.UpdateUsbs();
  emit ui.UpdateLocale();
  EXPECT_EQ(Trace(again), "Popup place, Popup place");
}

TEST(Facade, TrayClickTogglesThePopupAndTheMenuHidesItAlsoWithThePointerOnNoScreen)
{
  PutSticks();
  Ui::Ui ui(true);
  ui.SetState(RootUpdate);
  Ui::Popup& popup = ui.PopupWindow();
  ASSERT_FALSE(popup.isVisible()) << "the root maps do not raise the popup";
  QCursor::setPos(-20000, -20000); // the tray cannot tell its icon's place here either
  emit ui.Tray().Clicked();
  EXPECT_TRUE(popup.isVisible());
  EXPECT_EQ(popup.geometry().topRight(), Available().topRight());
  emit ui.Tray().Clicked();
  EXPECT_FALSE(popup.isVisible());
  emit ui.Tray().Clicked();
  emit ui.Tray().MenuAboutToShow();
  EXPECT_FALSE(popup.isVisible()) << "the icon's menu takes the popup's place";
  emit ui.Tray().OpenApplicationClicked();
  EXPECT_TRUE(QGuiApplication::primaryScreen()->geometry().intersects(ui.Window().frameGeometry()));
  ui.Window().hide();
  QCursor::setPos(Available().center()); // now the popup hangs from the pointer
  emit ui.Tray().Clicked();
  EXPECT_TRUE(popup.geometry().contains(Available().center() + QPoint(0, 20)));
}

TEST(Facade, APopupThatShowsItselfClosesAnOpenMenuThatWouldTakeTheNextClicks)
{
  PutSticks();
  Ui::Ui ui(true);
  ui.SetState(RootUpdate);
  // A menu open (the tray icon's, say) when a state brings the popup forward.
  QMenu menu;
  menu.addAction("Quit");
  menu.popup(Available().center());
  ASSERT_EQ(QApplication::activePopupWidget(), &menu);
  ui.SetState(NoConnection);
  EXPECT_TRUE(ui.PopupWindow().isVisible());
  EXPECT_FALSE(menu.isVisible());
  EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
}

TEST(Facade, ActivationBringsTheRightWindowForwardAndNeverCoversAWindowOfTheApplication)
{
  PutSticks();
  Ui::Ui ui(true);
  ui.SetState(RootUpdate);
  Ui::MainWindow& window = ui.Window();
  ASSERT_EQ(QGuiApplication::focusWindow(), nullptr);
  emit qApp->applicationStateChanged(Qt::ApplicationActive);
  EXPECT_TRUE(ui.PopupWindow().isVisible()) << "activated without a window of the application";
  ui.PopupWindow().hide();
  window.showMinimized();
  ui.Activate();
  EXPECT_FALSE(window.windowState() & Qt::WindowMinimized);
  window.showMaximized();
  ui.Activate();
  EXPECT_TRUE(window.windowState() & Qt::WindowMaximized);
  EXPECT_FALSE(ui.PopupWindow().isVisible()) << "the window came forward instead";
  window.Show();
  QApplication::setActiveWindow(&window);
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  emit qApp->applicationStateChanged(Qt::ApplicationActive);
  EXPECT_FALSE(ui.PopupWindow().isVisible()) << "activated by a window of the application";
}

TEST(Facade, AContinueLinkShowsTheCurrentStateEverywhere)
{
  PutSticks();
  Ui::Ui ui(true);
  ui.SetState(UsbRemoved);
  ui.SetState(RootUpdate);
  ASSERT_EQ(ui.PopupWindow().CurrentState(), UsbRemoved) << "the popup holds the removed stick's message";
  Click(&ui.PopupWindow(), "pushButtonContentLink");
  EXPECT_EQ(Find<QLabel>(&ui.PopupWindow(), "labelContentTitle")->text(), "Manage maps");
}

TEST(Facade, WithoutATrayTheWindowIsTheApplicationAndClosingItAsksToQuit)
{
  PutSticks();
  for (const bool tray : {true, false}) {
    SCOPED_TRACE(tray ? "with a tray" : "without a tray");
    LogCapture log;
    Ui::Ui ui(tray);
    QSignalSpy quit(&ui, &Ui::IUi::Quit);
    Ui::MainWindow& window = ui.Window();
    EXPECT_FALSE(window.isVisible()) << "the constructor shows nothing";
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
    EXPECT_EQ(window.isVisible(), !tray) << "closed";
    EXPECT_EQ(quit.count(), tray ? 0 : 1);
    EXPECT_EQ(log.Count("No system tray available: the main window stays open and closing it quits the "
                        "application"),
              tray ? 0 : 1);
    window.hide();
    ui.ConfirmQuit();
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(window.CurrentPage(), Ui::MainWindow::PageIndex::Message) << "the quit question comes forward";
  }
}
