// The facade with its real main window, popup and tray icon, with a tray and
// without one.

#include "LogCapture.h"
#include "ui/Ui.h"
#include "ui/widgets/MainWindow.h"
#include "ui/widgets/Popup.h"
#include "ui/widgets/TrayIcon.h"
#include "usb/UsbStorage.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCursor>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>

#include <string>
#include <vector>

namespace {

using Strings = std::vector<std::string>;

void RemoveSticks()
{
  for (auto state : {UsbInfo::InvalidMetadata, UsbInfo::NoMetadata, UsbInfo::ValidMetadata})
    for (const auto& stick : UsbStorage::Get().GetUsbs(state))
      UsbStorage::Get().RemoveUsb(stick.first);
}

// "file | message" of the facade's, window's, tray icon's and popup's records.
Strings Trace(LogCapture& log)
{
  Strings trace;
  for (const std::string& line : log.Lines())
    for (const char* file : {"Ui.cpp", "MainWindow.cpp", "TrayIcon.cpp", "Popup.cpp"}) {
      const auto at = line.find(std::string(" ") + file + ":");
      if (at == std::string::npos)
        continue;
      const std::string message = line.substr(line.rfind(" | ") + 3);
      if (message.rfind("Changing state", 0) == 0 || message.rfind("Updating popup geometry", 0) == 0 ||
          message.rfind("Popup link", 0) == 0)
        trace.push_back(std::string(file) + " | " + message.substr(0, message.find(" from: ")));
    }
  return trace;
}

QRect Available()
{
  return QGuiApplication::primaryScreen()->availableGeometry();
}

} // namespace

TEST(Facade, PassesEveryStateToWindowTrayAndPopupInOrderThenPlacesThePopupAndLogsOnlyAChange)
{
  RemoveSticks();
  LogCapture log;
  Ui::Ui ui(true);
  ui.SetState(State::MapUpdateCheck);
  ui.SetState(State::MapUpdateCheck);
  EXPECT_EQ(ui.CurrentState(), State::MapUpdateCheck);
  EXPECT_EQ(Trace(log), (Strings{"Ui.cpp | Changing state", "MainWindow.cpp | Changing state",
                                 "TrayIcon.cpp | Changing state", "Popup.cpp | Changing state",
                                 "Popup.cpp | Updating popup geometry",
                                 // the same state again: passed on, placed, logged by nobody
                                 "Popup.cpp | Updating popup geometry"}));
  EXPECT_EQ(log.Count("Changing state from: Unknown to: MapUpdateCheck"), 4);
  EXPECT_EQ(ui.Tray().IconPath(), ":/icons/ic_osx_progress.png");

  // A change of the stick and of the language each place the popup again.
  LogCapture again;
  ui.UpdateUsbs();
  emit ui.UpdateLocale();
  int placed = 0;
  for (const std::string& message : again.Messages())
    placed += message.rfind("Updating popup geometry from: ", 0) == 0;
  EXPECT_EQ(placed, 2);
}

TEST(Facade, TrayClickTogglesThePopupPlacedInsideTheScreenAlsoWithThePointerOnNoScreen)
{
  RemoveSticks();
  Ui::Ui ui(true);
  ui.SetState(State::RootUpdate);
  Ui::Popup& popup = ui.PopupWindow();
  ASSERT_FALSE(popup.isVisible()) << "the root maps do not raise the popup";

  // The tray here cannot tell its icon's place and the pointer is on no
  // screen: the popup goes to the primary screen, inside its area.
  QCursor::setPos(-20000, -20000);
  LogCapture log;
  emit ui.Tray().Clicked();
  EXPECT_TRUE(popup.isVisible());
  EXPECT_TRUE(Available().contains(popup.geometry())) << popup.geometry().x() << "," << popup.geometry().y();
  EXPECT_EQ(popup.geometry().topRight(), Available().topRight());
  emit ui.Tray().Clicked();
  EXPECT_FALSE(popup.isVisible());
  emit ui.Tray().Clicked();
  emit ui.Tray().MenuAboutToShow();
  EXPECT_FALSE(popup.isVisible()) << "the icon's menu takes the popup's place";
  // The main window opened from the tray's menu lands on the screen too.
  emit ui.Tray().OpenApplicationClicked();
  EXPECT_TRUE(ui.Window().isVisible());
  EXPECT_TRUE(QGuiApplication::primaryScreen()->geometry().intersects(ui.Window().frameGeometry()));
  ui.Window().hide();
  EXPECT_EQ(log.Count("Showing popup dialog"), 2);
  EXPECT_EQ(log.Count("Hiding popup dialog"), 1);

  // The pointer on the screen: the popup hangs from it, still inside.
  QCursor::setPos(Available().center());
  emit ui.Tray().Clicked();
  EXPECT_TRUE(popup.geometry().contains(Available().center() + QPoint(0, 20)));
  EXPECT_TRUE(Available().contains(popup.geometry()));
}

TEST(Facade, APopupThatShowsItselfClosesAnOpenMenuThatWouldTakeTheNextClicks)
{
  RemoveSticks();
  Ui::Ui ui(true);
  ui.SetState(State::RootUpdate);
  // A menu open (the tray icon's, say) when a state brings the popup forward.
  QMenu menu;
  menu.addAction("Quit");
  menu.popup(Available().center());
  ASSERT_EQ(QApplication::activePopupWidget(), &menu);
  ui.SetState(State::NoConnection);
  EXPECT_TRUE(ui.PopupWindow().isVisible());
  EXPECT_FALSE(menu.isVisible());
  EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
}

TEST(Facade, ActivationBringsTheRightWindowForwardAndNeverCoversAWindowOfTheApplication)
{
  RemoveSticks();
  Ui::Ui ui(true);
  ui.SetState(State::RootUpdate);
  Ui::MainWindow& window = ui.Window();
  Ui::Popup& popup = ui.PopupWindow();

  // A minimized window is restored and activated; the popup stays away.
  window.showMinimized();
  ui.Activate();
  EXPECT_FALSE(window.windowState() & Qt::WindowMinimized);
  EXPECT_FALSE(popup.isVisible());
  // A maximized one is left as it is.
  window.showMaximized();
  ui.Activate();
  EXPECT_TRUE(window.windowState() & Qt::WindowMaximized);
  EXPECT_FALSE(popup.isVisible());
  window.hide();
  window.setWindowState(Qt::WindowNoState);

  // The application turning active because one of its windows took the focus
  // leaves the popup away; becoming inactive does nothing either.
  window.Show();
  QApplication::setActiveWindow(&window);
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  emit qApp->applicationStateChanged(Qt::ApplicationActive);
  emit qApp->applicationStateChanged(Qt::ApplicationInactive);
  EXPECT_FALSE(popup.isVisible());
}

TEST(Facade, AnActivationWithoutAWindowOfTheApplicationShowsThePopup)
{
  RemoveSticks();
  Ui::Ui ui(true);
  ui.SetState(State::RootUpdate);
  ASSERT_EQ(QGuiApplication::focusWindow(), nullptr);
  emit qApp->applicationStateChanged(Qt::ApplicationActive);
  EXPECT_TRUE(ui.PopupWindow().isVisible());
}

TEST(Facade, AContinueLinkShowsTheCurrentStateEverywhereBeforeTheWindowHearsOfIt)
{
  RemoveSticks();
  Ui::Ui ui(true);
  ui.SetState(State::UsbRemoved);
  ui.SetState(State::RootUpdate);
  Ui::Popup& popup = ui.PopupWindow();
  ASSERT_EQ(popup.CurrentState(), State::UsbRemoved) << "the popup holds the removed stick's message";
  auto* link = popup.findChild<QPushButton*>("pushButtonContentLink");
  ASSERT_TRUE(link && link->isVisible());
  ASSERT_EQ(link->text(), "Continue");

  LogCapture log;
  QTest::mouseClick(link, Qt::LeftButton);
  EXPECT_EQ(popup.findChild<QLabel*>("labelContentTitle")->text(), "Manage maps");
  const Strings trace = Trace(log);
  ASSERT_FALSE(trace.empty());
  EXPECT_EQ(trace.back(), "MainWindow.cpp | Popup link: Continue clicked");
  EXPECT_NE(std::find(trace.begin(), trace.end(), "Popup.cpp | Updating popup geometry"), trace.end())
      << "the state was applied again before";
}

TEST(Facade, WithoutATrayTheWindowIsTheApplicationAndClosingItAsksToQuit)
{
  RemoveSticks();
  for (const bool tray : {true, false}) {
    SCOPED_TRACE(tray ? "with a tray" : "without a tray");
    LogCapture log;
    Ui::Ui ui(tray);
    QSignalSpy quit(&ui, &Ui::IUi::Quit);
    Ui::MainWindow& window = ui.Window();
    EXPECT_FALSE(window.isVisible()) << "the constructor shows nothing";

    // A check hides the window where a tray can bring it back.
    ui.SetState(State::MapUpdateCheck);
    EXPECT_EQ(window.isVisible(), !tray);
    ui.SetState(State::OptionalUpdate);
    EXPECT_EQ(ui.PopupWindow().isVisible(), tray) << "the popup follows the states only under a tray";
    emit ui.UpdateLocale();
    EXPECT_EQ(ui.PopupWindow().isVisible(), tray);

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

    // The quit question comes forward on the window.
    ui.ConfirmQuit();
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(window.CurrentPage(), Ui::MainWindow::PageIndex::Message);
  }
}

TEST(Facade, GoesTrayIconFirstThenPopupThenMainWindow)
{
  Strings order;
  {
    Ui::Ui ui(true);
    QObject::connect(&ui.Tray(), &QObject::destroyed, [&] { order.push_back("tray icon"); });
    QObject::connect(&ui.PopupWindow(), &QObject::destroyed, [&] { order.push_back("popup"); });
    QObject::connect(&ui.Window(), &QObject::destroyed, [&] { order.push_back("main window"); });
  }
  EXPECT_EQ(order, (Strings{"tray icon", "popup", "main window"}));
}
