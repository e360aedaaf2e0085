#include "ui/widgets/Popup.h"

#include "WidgetTest.h"
#include "ui/widgets/DynamicIcon.h"

#include <QCursor>
#include <QScreen>
#include <QTimer>

#include <optional>

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
  void Pointer(QEvent::Type type)
  {
    QEvent event(type);
    QCoreApplication::sendEvent(&popup, &event);
  }

  RecordingUi ui;
  Ui::Popup popup{ui, nullptr};
  std::vector<PopupLink> clicked;
};

TEST_F(PopupTest, EveryStateButTheQuietOnesShowsItWholeAndALinkThatAsksTheMachineSendsOneSignalPerState)
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
}

TEST_F(PopupTest, StickDecidesStatusBlockAndRaisingAndTheRemovedStickIsHeldUntilTheSituationMovesOn)
{
  // clang-format off
  struct Case { State from; std::optional<UsbInfo::State> stick; State next; QString shown; } const cases[] = {
      {Unknown, {}, MapUpdateCheck, "MapUpdateCheck"},
      {Unknown, UsbInfo::NoMetadata, MapUpdateCheck, "MapUpdateCheck status"},
      {Unknown, UsbInfo::InvalidMetadata, MapUpdateCheck, "MapUpdateCheck status raised"},
      {UsbRemoved, UsbInfo::NoMetadata, RootUpdate, "UsbRemoved status"},
      {UsbRemoved, {}, MapDownload, "MapDownload raised"},
      {UsbRemoved, UsbInfo::ValidMetadata, UpToDate, "UpToDate status raised"},
  };
  // clang-format on
  for (const Case& c : cases) {
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
  // "Continue" lifts the hold before the owner applies its state again.
  PutSticks();
  popup.SetState(UsbRemoved);
  const int withStatus = popup.height();
  QObject::connect(&popup, &Ui::Popup::LinkClicked, [&] { EXPECT_EQ(popup.CurrentState(), RootUpdate); });
  Click(&popup, "pushButtonContentLink");
  popup.SetState(MapUpdateCheck);
  EXPECT_LT(popup.height(), withStatus) << "the popup fits its content without the status";
}

TEST_F(PopupTest, StaysWhilePointedAtThenFadesOut)
{
  auto* leave = popup.findChild<QTimer*>("leaveTimer");
  auto* fade = popup.findChild<QTimer*>("fadeTimer");
  popup.Activate();
  EXPECT_EQ(leave->isActive() ? leave->interval() : 0, 5000);
  Pointer(QEvent::Enter);
  popup.hide();
  popup.show();
  EXPECT_FALSE(leave->isActive()) << "no countdown while the pointer is over it";
  popup.SetTiming({1, 50});
  Pointer(QEvent::Leave);
  ASSERT_TRUE(QSignalSpy(fade, &QTimer::timeout).wait());
  EXPECT_LT(popup.windowOpacity(), 1.0);
  Pointer(QEvent::Enter);
  EXPECT_TRUE(!fade->isActive() && popup.windowOpacity() == 1.0) << "the pointer back stops the fade";
  popup.SetTiming({1, 1});
  Pointer(QEvent::Leave);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !popup.isVisible(); }, 5000));
  EXPECT_FALSE(fade->isActive() || leave->isActive());
  popup.show();
  EXPECT_EQ(popup.windowOpacity(), 1.0);
}

TEST_F(PopupTest, PlacedUnderTheTrayIconInsideTheScreen)
{
  ASSERT_EQ(QGuiApplication::primaryScreen()->availableGeometry(), QRect(0, 0, 800, 600));
  popup.SetState(UpToDate);
  const int h = popup.height();
  const QPoint away(-3000, -3000);
  // clang-format off
  struct Case { const char* name; QRect tray; QPoint pointer, topLeft; } const cases[] = {
      {"centred below the icon", {400, 0, 21, 22}, away, {290, 21}},
      {"held at the right edge", {790, 0, 10, 22}, away, {560, 21}},
      {"held at the left edge", {0, 0, 20, 22}, away, {0, 21}},
      {"above an icon at the bottom", {400, 578, 21, 22}, away, {290, 579 - h}},
      {"icon on no screen: primary screen", {5000, 5000, 20, 20}, away, {560, 600 - h}},
      {"no icon place: below the pointer", {}, {100, 50}, {0, 58}},
      {"no icon place: above the pointer", {}, {700, 500}, {560, 493 - h}},
      {"no icon place, no pointer: top-right corner", {}, away, {560, 0}},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    popup.hide();
    QCursor::setPos(c.pointer);
    popup.show();
    popup.SetGeometry(c.tray);
    EXPECT_EQ(popup.geometry(), QRect(c.topLeft, QSize(240, h)));
  }
  QCursor::setPos(300, 100); // without an icon place the popup keeps its place while it is shown
  popup.SetGeometry(QRect());
  EXPECT_EQ(popup.geometry().topLeft(), QPoint(560, 0));
  popup.hide();
  popup.show();
  popup.SetGeometry(QRect());
  EXPECT_EQ(popup.geometry().topLeft(), QPoint(180, 108));
  QCursor::setPos(away);
}

TEST_F(PopupTest, TextsArePlainAndFollowTheLanguageButAHeldMessageStaysAsItIs)
{
  struct Markup : QTranslator // markup and a second placeholder around the application name
  {
    QString translate(const char*, const char* source, const char*, int) const override
    {
      return QByteArray(source) == "Something has gone wrong." ? "<b>%1</b> %2 failed" : QString();
    }
    bool isEmpty() const override { return false; }
  } markup;
  QCoreApplication::installTranslator(&markup);
  popup.SetState(ServerError);
  QCoreApplication::removeTranslator(&markup);
  EXPECT_EQ(Text("labelContentText"), "<b>Lumora</b> %2 failed");
  EXPECT_EQ(Find<QLabel>(&popup, "labelContentText")->textFormat(), Qt::PlainText);
  {
    German german;
    emit ui.UpdateLocale();
    EXPECT_EQ(Text("labelContentTitle") + ", " + Text("labelStatusText"),
              "Kartenupdate-Server nicht erreichbar, Verbunden");
    PutSticks();
    popup.SetState(UsbRemoved);
    popup.hide();
  }
  emit ui.UpdateLocale();
  EXPECT_EQ(Link()->text(), "Weiter") << "a held message keeps its language";
  EXPECT_FALSE(popup.isVisible());
}
