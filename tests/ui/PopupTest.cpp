#include "ui/widgets/Popup.h"

#include "WidgetTest.h"
#include "ui/widgets/DynamicIcon.h"

#include <QApplication>
#include <QCursor>
#include <QLineEdit>
#include <QScreen>
#include <QTimer>

class PopupTest : public testing::Test
{
protected:
  PopupTest()
  {
    PutSticks({Stick(UsbInfo::ValidMetadata)});
    QObject::connect(&popup, &Ui::Popup::LinkClicked, [this](PopupLink link) { clicked.push_back(link); });
  }
  ~PopupTest() override { PutSticks(); }

  QString Text(const char* label) { return Find<QLabel>(&popup, label)->text(); }
  QPushButton* Link() { return Find<QPushButton>(&popup, "pushButtonContentLink"); }

  RecordingUi ui;
  Ui::Popup popup{ui, nullptr};
  std::vector<PopupLink> clicked;
};

// Every state but the quiet ones brings the popup forward with its text
// whole and plain; a link that asks the machine sends one signal per state and
// showing; a change of language renders the state anew, but a held message
// keeps its language. The status block shows with a stick, the popup comes
// forward unless the stick has no map data during the check, and the removed
// stick's message holds until a download starts or a stick with map data
// comes.
TEST_F(PopupTest, EveryStateButTheQuietOnesShowsItWholeAndALinkThatAsksTheMachineSendsOneSignalPerShowing)
{
  // The status and the link; what two clicks on the link send.
  // clang-format off
  struct Case { State state; QString shown; std::vector<PopupLink> clicked; } const cases[] = {
      {MetadataCorrupt, "Error :/icons/ic_device_notification.png See help", {ShowHelp, ShowHelp}},
      {OptionalUpdate, "Connected :/icons/ic_connected.png Update maps", {ManageMaps, ManageMaps}},
      {UsbCheck, "Connected :/icons/ic_spinner_1414/ic_spinner_%1.png ", {}},
      {UsbRemoved, "Error :/icons/ic_device_notification.png Continue", {Continue}},
  };
  // clang-format on
  for (int each = CancelDownload; each <= UsbTooSmall; ++each) {
    const std::string name = testing::PrintToString(static_cast<State>(each));
    SCOPED_TRACE(name);
    popup.hide();
    popup.SetState(static_cast<State>(each));
    EXPECT_EQ(popup.isVisible(), each != UsbCheck && each != RootUpdate);
    auto* text = Find<QLabel>(&popup, "labelContentText");
    EXPECT_GE(text->height(), text->heightForWidth(text->width())) << "the wrapped text is not cut";
    EXPECT_EQ(text->textFormat(), Qt::PlainText);
    EXPECT_FALSE(SaveScreenshot(&popup, QString::fromStdString("Popup_" + name)).isEmpty());
    for (const Case& c : cases)
      if (c.state == each) {
        const QString link = Link()->isHidden() ? "" : Link()->text();
        EXPECT_EQ(Text("labelStatusText") + " " + Find<Ui::DynamicIcon>(&popup, "labelStatusIcon")->Path() +
                      " " + link,
                  c.shown);
        clicked.clear();
        for (int times = 0; times < 2 && !link.isEmpty(); ++times)
          QTest::mouseClick(Link(), Qt::LeftButton);
        EXPECT_EQ(clicked, c.clicked);
      }
  }
  clicked.clear();
  popup.SetState(UsbBlocked);
  Click(&popup, "pushButtonContentLink");
  popup.hide();
  popup.show();
  Click(&popup, "pushButtonContentLink"); // a new showing takes the next click
  EXPECT_EQ(clicked, std::vector<PopupLink>({Dismiss, Dismiss}));
  {
    German german;
    emit ui.UpdateLocale();
    EXPECT_EQ(Text("labelContentText"), "Download des Kartenupdates fehlgeschlagen");
    PutSticks();
    popup.SetState(UsbRemoved);
  }
  emit ui.UpdateLocale();
  EXPECT_EQ(Link()->text(), "Weiter") << "a held message keeps its language";
  // The stick before and after a move to another state decides what shows.
  // clang-format off
  struct Move { State from; std::optional<UsbInfo::State> stick; State next; QString shown; } const moves[] = {
      {Unknown, UsbInfo::NoMetadata, MapUpdateCheck, "MapUpdateCheck status"},
      {Unknown, UsbInfo::InvalidMetadata, MapUpdateCheck, "MapUpdateCheck status raised"},
      {UsbRemoved, UsbInfo::NoMetadata, RootUpdate, "UsbRemoved status"},
      {UsbRemoved, {}, MapDownload, "MapDownload raised"},
      {UsbRemoved, UsbInfo::ValidMetadata, UpToDate, "UpToDate status raised"},
  };
  // clang-format on
  for (const Move& c : moves) {
    SCOPED_TRACE(testing::PrintToString(c.from) + " to " + testing::PrintToString(c.next));
    PutSticks();
    Ui::Popup fresh(ui, nullptr);
    fresh.SetState(c.from);
    fresh.hide();
    PutSticks(c.stick ? std::vector<UsbInfo>{Stick(*c.stick)} : std::vector<UsbInfo>{});
    fresh.SetState(c.next);
    EXPECT_EQ(QString::fromStdString(testing::PrintToString(fresh.CurrentState())) +
                  (Find(&fresh, "widgetStatus")->isHidden() ? "" : " status") +
                  (fresh.isVisible() ? " raised" : ""),
              c.shown);
  }
}

// It stays while the pointer is over it and fades when it leaves; it is
// placed below the tray icon, or above it at the bottom, inside the screen,
// and without an icon place at the pointer, where it stays while it is shown.
TEST_F(PopupTest, StaysWhilePointedAtFadesOutAndIsPlacedUnderTheTrayIconInsideTheScreen)
{
  QEvent enter(QEvent::Enter);
  QCoreApplication::sendEvent(&popup, &enter);
  popup.show();
  EXPECT_FALSE(popup.findChild<QTimer*>("leaveTimer")->isActive())
      << "no countdown while the pointer is over it";
  ASSERT_EQ(QGuiApplication::primaryScreen()->availableGeometry(), QRect(0, 0, 800, 600));
  popup.SetGeometry({790, 0, 10, 22});
  EXPECT_EQ(popup.geometry(), QRect(560, 21, 240, popup.height()));
  popup.SetGeometry({400, 578, 21, 22});
  EXPECT_EQ(popup.geometry(), QRect(290, 579 - popup.height(), 240, popup.height()));
  popup.hide();
  QCursor::setPos(100, 50);
  popup.show();
  popup.SetGeometry({});
  QCursor::setPos(300, 100);
  popup.SetGeometry({});
  EXPECT_EQ(popup.geometry().topLeft(), QPoint(0, 58));
  QCursor::setPos(-3000, -3000);
  // Left, it fades; the pointer back stops the fade; left again, it goes.
  popup.SetTiming({1, 50});
  QEvent leave(QEvent::Leave);
  QCoreApplication::sendEvent(&popup, &leave);
  ASSERT_TRUE(QSignalSpy(popup.findChild<QTimer*>("fadeTimer"), &QTimer::timeout).wait());
  QCoreApplication::sendEvent(&popup, &enter);
  EXPECT_EQ(popup.windowOpacity(), 1.0);
  popup.SetTiming({1, 1});
  QCoreApplication::sendEvent(&popup, &leave);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !popup.isVisible(); }, 5000));
}

// A failure that brings the popup forward while the user types in another
// window leaves its link alone: no key, typed wherever the keyboard is or
// sent to the popup, presses it, and it never takes the focus; a click
// presses it. (That the keyboard stays in the user's window is the window
// system's part, seen in the desktop test: this platform activates every
// window shown.)
TEST_F(PopupTest, ComesForwardWithoutTakingTheKeyboardAndItsLinkAnswersOnlyAClick)
{
  QLineEdit typing;
  typing.show();
  QApplication::setActiveWindow(&typing);
  ASSERT_TRUE(QTest::qWaitForWindowActive(&typing));
  for (State state : {UsbFull, UsbBlocked, UsbTooSmall}) {
    SCOPED_TRACE(testing::PrintToString(state));
    popup.hide();
    popup.SetState(state);
    ASSERT_TRUE(popup.isVisible());
    for (Qt::Key key : {Qt::Key_Space, Qt::Key_Return, Qt::Key_Enter}) {
      QTest::keyClick(QGuiApplication::focusWindow(), key);
      QTest::keyClick(&popup, key);
    }
    EXPECT_NE(QApplication::focusWidget(), Link());
  }
  EXPECT_TRUE(clicked.empty());
  Click(&popup, "pushButtonContentLink");
  EXPECT_EQ(clicked, std::vector<PopupLink>{Dismiss});
  EXPECT_NE(QApplication::focusWidget(), Link());
}
