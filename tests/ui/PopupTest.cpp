#include "Screenshot.h"

#include "LogCapture.h"
#include "cfg/Config.h"
#include "ui/HeadlessUi.h"
#include "ui/widgets/DynamicIcon.h"
#include "ui/widgets/Popup.h"
#include "usb/UsbStorage.h"

#include <gtest/gtest.h>

#include <QCursor>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QTranslator>

#include <optional>
#include <sstream>
#include <vector>

namespace {

using Stick = std::optional<UsbInfo::State>;
const Stick NoStick;

// Makes a stick in `state` the active one, or leaves no stick at all.
void PutStick(Stick state)
{
  for (auto each : {UsbInfo::InvalidMetadata, UsbInfo::NoMetadata, UsbInfo::ValidMetadata})
    for (const auto& stick : UsbStorage::Get().GetUsbs(each))
      UsbStorage::Get().RemoveUsb(stick.first);
  if (state) {
    UsbInfo stick;
    stick.id = 7;
    stick.path = "/media/user/STICK";
    stick.state = *state;
    stick.active = true;
    UsbStorage::Get().UpdateUsb(stick);
  }
}

std::string Name(State state)
{
  std::ostringstream name;
  name << state;
  return name.str();
}

// Puts markup and a second placeholder around the application name.
class MarkupTranslator : public QTranslator
{
public:
  QString translate(const char*, const char* source, const char*, int) const override
  {
    return QByteArray(source) == "Something has gone wrong." ? QStringLiteral("<b>%1</b> %2 failed")
                                                             : QString();
  }
  bool isEmpty() const override { return false; }
};

class PopupTest : public testing::Test
{
protected:
  void SetUp() override { PutStick(UsbInfo::ValidMetadata); }
  void TearDown() override { PutStick(NoStick); }

  template <typename T = QLabel>
  T* Child(const char* name)
  {
    return popup.findChild<T*>(name);
  }
  void Pointer(QEvent::Type type)
  {
    QEvent event(type);
    QCoreApplication::sendEvent(&popup, &event);
  }

  Ui::HeadlessUi ui;
  Ui::Popup popup{ui, nullptr};
};

TEST_F(PopupTest, EveryStateShowsItsContentLinkAndStatus)
{
  const char *spin = ":/icons/ic_spinner.gif", *bad = ":/icons/ic_error_big.png",
             *expired = ":/icons/ic_map_expired.png";
  struct Case
  {
    State state;
    char status; // c connected, e error, s checking
    const char* title;
    const char* icon;
    const char* text;
    const char* link;
    PopupLink linkId;
  } const cases[] = {
      {CancelDownload, 'c', "", spin, "Cancelling download", "", Blank},
      {MandatoryUpdate, 'c', "Map update required", ":/icons/ic_full_update_required.png", "", "Update map",
       ManageMaps},
      {MapDownload, 'c', "", spin, "Downloading map", "Manage maps", ManageMaps},
      {MapUpdateCheck, 'c', "", spin, "Checking for map updates. Please do not disconnect the USB stick.", "",
       Blank},
      {MetadataCorrupt, 'e', "", bad,
       "Something has gone wrong. Please connect the USB stick to your vehicle again.", "See help", ShowHelp},
      {NoConnection, 'c', "", ":/icons/ic_connect_usb.png",
       "Checking for map updates requires an internet connection. Please check if the computer is connected "
       "to the "
       "internet.",
       "Retry", Retry},
      {NoSubscription, 'c', "Vehicle's navigation device not registered yet", "",
       "Your vehicle's navigation device is not registered yet to receive map updates.", "See help",
       ShowHelp},
      {OptionalUpdate, 'c', "Update available", ":/icons/ic_full_update_available.png", "", "Update maps",
       ManageMaps},
      {PendingUpdate, 'c', "Pending map updates", "",
       "This USB stick already contains map updates. Please connect it to your vehicle to transfer the map "
       "updates "
       "to your navigation system.",
       "Manage maps", ManageMaps},
      {RootUpdate, 'c', "Manage maps", "",
       "Open the main application to download maps for your vehicle's navigation system.", "Open application",
       ManageMaps},
      {ServerError, 'c', "Map update server not available", expired, "Something has gone wrong.", "Retry",
       Retry},
      {SubscriptionExpired, 'c', "Map update subscription expired", expired, "", "Restore map", ManageMaps},
      {Unknown, 'c', "", "", "", "", Blank},
      {UpToDate, 'c', "Your navigation system is up to date", ":/icons/ic_full_update_updated.png", "",
       "Manage maps", ManageMaps},
      {UsbBlocked, 'c', "", bad, "Map update download failed", "Dismiss", Dismiss},
      {UsbCheck, 's', "", "",
       "Checking your USB stick. Please wait. Please do not disconnect your USB stick.", "", Blank},
      {UsbFull, 'c', "", bad,
       "Insufficient memory space available on the USB stick. Please create some free memory space.",
       "Dismiss", Dismiss},
      {UsbRemoved, 'e', "", bad,
       "The USB stick has been removed while the system was still accessing it. Please reconnect the USB "
       "stick",
       "Continue", Continue},
      {UsbTooSmall, 'c', "", bad,
       "Insufficient memory space available on the USB stick. Please use another USB stick with more free "
       "memory.",
       "Manage maps", Dismiss},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Name(c.state));
    popup.hide();
    popup.SetState(c.state);
    EXPECT_EQ(popup.isVisible(), c.state != UsbCheck && c.state != RootUpdate);
    EXPECT_EQ(Child("labelStatusTitle")->text(), "USB stick");
    EXPECT_EQ(Child("labelStatusText")->text(), c.status == 'e' ? "Error" : "Connected");
    EXPECT_TRUE(Child("labelStatusText")->styleSheet().contains(c.status == 'e' ? "#EA0016" : "#78BE20"));
    auto* statusIcon = Child<Ui::DynamicIcon>("labelStatusIcon");
    EXPECT_EQ(statusIcon->Path(), c.status == 's'   ? ":/icons/ic_spinner_1414/ic_spinner_%1.png"
                                  : c.status == 'e' ? ":/icons/ic_device_notification.png"
                                                    : ":/icons/ic_connected.png");
    EXPECT_EQ(statusIcon->Frames(), c.status == 's' ? 18u : 1u);
    EXPECT_EQ(Child("labelContentTitle")->text(), c.title);
    EXPECT_EQ(Child("labelContentTitle")->isHidden(), !*c.title);
    auto* icon = Child<Ui::DynamicIcon>("labelContentIcon");
    EXPECT_EQ(icon->Path(), c.icon);
    EXPECT_EQ(icon->Frames(), c.icon == spin ? Ui::DynamicIcon::AnimatedPicture : *c.icon ? 1u : 0u);
    EXPECT_EQ(icon->isHidden(), !*c.icon);
    EXPECT_EQ(Child("labelContentText")->text(), c.text);
    EXPECT_EQ(Child("labelContentText")->isHidden(), !*c.text);
    auto* link = Child<QPushButton>("pushButtonContentLink");
    EXPECT_EQ(link->text(), c.link);
    EXPECT_EQ(link->isHidden(), !*c.link);
    EXPECT_EQ(link->property("LinkId"), QVariant(static_cast<int>(c.linkId)));
    EXPECT_FALSE(SaveScreenshot(&popup, QString::fromStdString("Popup_" + Name(c.state))).isEmpty());
    auto* text = Child("labelContentText");
    EXPECT_GE(text->height(), text->heightForWidth(text->width())) << "the wrapped text is not cut";
  }
}

TEST_F(PopupTest, StickDecidesStatusBlockRaisingAndTheRemovedStickHold)
{
  struct Case
  {
    State from;
    Stick stick;
    State next;
    bool rendered;
    bool statusShown;
    bool raised;
  } const cases[] = {
      {Unknown, NoStick, MapUpdateCheck, true, false, false},
      {Unknown, UsbInfo::NoMetadata, MapUpdateCheck, true, true, false},
      {Unknown, UsbInfo::InvalidMetadata, MapUpdateCheck, true, true, true},
      {Unknown, UsbInfo::ValidMetadata, MapUpdateCheck, true, true, true},
      {Unknown, NoStick, OptionalUpdate, true, false, true},
      {Unknown, NoStick, UsbRemoved, true, true, true},
      {UsbRemoved, NoStick, OptionalUpdate, false, true, false},
      {UsbRemoved, UsbInfo::NoMetadata, RootUpdate, false, true, false},
      {UsbRemoved, NoStick, MapDownload, true, false, true},
      {UsbRemoved, UsbInfo::InvalidMetadata, OptionalUpdate, true, true, true},
      {UsbRemoved, UsbInfo::ValidMetadata, UpToDate, true, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Name(c.from) + " to " + Name(c.next));
    PutStick(NoStick);
    Ui::Popup fresh(ui, nullptr);
    fresh.SetState(c.from);
    fresh.hide();
    PutStick(c.stick);
    LogCapture log;
    fresh.SetState(c.next);
    EXPECT_EQ(fresh.CurrentState(), c.rendered ? c.next : c.from);
    EXPECT_EQ(log.Contains("Ignoring: " + Name(c.next) + " state"), !c.rendered);
    EXPECT_EQ(fresh.findChild<QWidget*>("widgetStatus")->isHidden(), !c.statusShown);
    EXPECT_EQ(fresh.isVisible(), c.raised);
  }

  // "Continue" lifts the hold before the owner re-applies its state.
  PutStick(NoStick);
  popup.SetState(UsbRemoved);
  const int withStatus = popup.height();
  std::optional<State> stateAtSignal;
  QObject::connect(&popup, &Ui::Popup::LinkClicked, [&] { stateAtSignal = popup.CurrentState(); });
  QTest::mouseClick(Child<QPushButton>("pushButtonContentLink"), Qt::LeftButton);
  EXPECT_EQ(stateAtSignal, RootUpdate);
  popup.SetState(MapUpdateCheck);
  EXPECT_TRUE(Child<QWidget>("widgetStatus")->isHidden());
  EXPECT_LT(popup.height(), withStatus) << "the popup fits its content";
}

TEST_F(PopupTest, OneClickOneSignalUntilTheNextState)
{
  std::vector<PopupLink> clicked;
  QObject::connect(&popup, &Ui::Popup::LinkClicked, [&](PopupLink link) { clicked.push_back(link); });
  auto* link = Child<QPushButton>("pushButtonContentLink");
  {
    LogCapture log;
    popup.show();
    QTest::mouseClick(link, Qt::LeftButton);
    EXPECT_TRUE(clicked.empty()) << "no state rendered, no link";
    EXPECT_TRUE(log.Contains("Invalid property"));
  }
  popup.SetState(UsbBlocked);
  QTest::mouseDClick(link, Qt::LeftButton);
  QTest::mouseClick(link, Qt::LeftButton);
  EXPECT_EQ(clicked, std::vector<PopupLink>{Dismiss});
  popup.SetState(UsbBlocked);
  QTest::mouseClick(link, Qt::LeftButton);
  EXPECT_EQ(clicked.size(), 2u) << "the next state takes the next click";
  popup.hide();
  popup.show();
  EXPECT_TRUE(link->isEnabled()) << "so does a new showing";
  popup.SetState(OptionalUpdate);
  QTest::mouseClick(link, Qt::LeftButton);
  QTest::mouseClick(link, Qt::LeftButton);
  EXPECT_EQ(clicked.size(), 4u) << "a link that only opens the window stays live";
}

TEST_F(PopupTest, StaysWhilePointedAtThenFadesOut)
{
  auto* leave = popup.findChild<QTimer*>("leaveTimer");
  auto* fade = popup.findChild<QTimer*>("fadeTimer");
  popup.Activate();
  EXPECT_TRUE(leave->isActive());
  EXPECT_EQ(leave->interval(), 5000);
  Pointer(QEvent::Enter);
  EXPECT_FALSE(leave->isActive());
  popup.hide();
  popup.show();
  EXPECT_FALSE(leave->isActive()) << "no countdown while the pointer is over it";

  popup.SetTiming({1, 50});
  QSignalSpy leaveExpired(leave, &QTimer::timeout);
  QSignalSpy fadeTicks(fade, &QTimer::timeout);
  Pointer(QEvent::Leave);
  ASSERT_TRUE(leaveExpired.wait());
  EXPECT_EQ(fade->interval(), 50);
  ASSERT_TRUE(fadeTicks.wait());
  EXPECT_LT(popup.windowOpacity(), 1.0);
  Pointer(QEvent::Enter);
  EXPECT_FALSE(fade->isActive());
  EXPECT_EQ(popup.windowOpacity(), 1.0);

  Pointer(QEvent::Leave);
  ASSERT_TRUE(leaveExpired.wait());
  popup.hide();
  EXPECT_FALSE(fade->isActive() || leave->isActive());

  popup.SetTiming({1, 1});
  popup.show();
  Pointer(QEvent::Leave);
  // QTRY_* would report a time-out to QtTest alone, unseen by GoogleTest.
  ASSERT_TRUE(QTest::qWaitFor([&] { return !popup.isVisible(); }, 5000));
  EXPECT_LT(popup.windowOpacity(), 0.05);
  EXPECT_FALSE(fade->isActive() || leave->isActive());
  popup.show();
  EXPECT_EQ(popup.windowOpacity(), 1.0);
}

TEST_F(PopupTest, PlacedUnderTheTrayIconInsideTheScreen)
{
  ASSERT_EQ(QGuiApplication::primaryScreen()->availableGeometry(), QRect(0, 0, 800, 600));
  popup.SetState(UpToDate);
  const int h = popup.height();
  const QPoint offScreen(-3000, -3000);
  struct Case
  {
    const char* name;
    QRect tray;
    QPoint pointer;
    QPoint topLeft;
  } const cases[] = {
      {"centred below the icon", {400, 0, 21, 22}, offScreen, {290, 21}},
      {"held at the right edge", {790, 0, 10, 22}, offScreen, {560, 21}},
      {"held at the left edge", {0, 0, 20, 22}, offScreen, {0, 21}},
      {"above an icon at the bottom", {400, 578, 21, 22}, offScreen, {290, 579 - h}},
      {"icon on no screen: primary screen", {5000, 5000, 20, 20}, offScreen, {560, 600 - h}},
      {"no icon place: below the pointer", {}, {100, 50}, {0, 58}},
      {"no icon place: above the pointer", {}, {700, 500}, {560, 493 - h}},
      {"no icon place, no pointer: top-right corner", {}, offScreen, {560, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    popup.hide();
    QCursor::setPos(c.pointer);
    popup.show();
    popup.SetGeometry(c.tray);
    EXPECT_EQ(popup.geometry(), QRect(c.topLeft, QSize(240, h)));
  }

  // Without an icon place the popup keeps its place while it is shown.
  LogCapture log;
  QCursor::setPos(300, 100);
  popup.SetGeometry(QRect());
  const std::string corner = "[(560,0),(799," + std::to_string(h - 1) + ")]";
  EXPECT_TRUE(log.Contains("Updating popup geometry from: " + corner + " to: " + corner));
  popup.hide();
  popup.show();
  popup.SetGeometry(QRect());
  EXPECT_EQ(popup.geometry().topLeft(), QPoint(180, 108));
  QCursor::setPos(offScreen);
}

TEST_F(PopupTest, TextsArePlainAndRetranslated)
{
  MarkupTranslator markup;
  QCoreApplication::installTranslator(&markup);
  popup.SetState(ServerError);
  QCoreApplication::removeTranslator(&markup);
  EXPECT_EQ(Child("labelContentText")->text(), "<b>Lumora</b> %2 failed");
  EXPECT_EQ(Child("labelContentText")->textFormat(), Qt::PlainText);

  QTranslator german;
  ASSERT_TRUE(german.load(Config::get().translationFile("de_DE")));
  QCoreApplication::installTranslator(&german);
  emit ui.UpdateLocale();
  EXPECT_EQ(Child("labelContentTitle")->text(), "Kartenupdate-Server nicht erreichbar");
  EXPECT_EQ(Child("labelStatusText")->text(), "Verbunden");

  PutStick(NoStick);
  popup.SetState(UsbRemoved);
  popup.hide();
  QCoreApplication::removeTranslator(&german);
  emit ui.UpdateLocale();
  EXPECT_EQ(Child<QPushButton>("pushButtonContentLink")->text(), "Weiter")
      << "a held message keeps its language";
  EXPECT_FALSE(popup.isVisible());
}

} // namespace
