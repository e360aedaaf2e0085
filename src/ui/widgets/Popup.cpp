#include "ui/widgets/Popup.h"

#include "Log.h"
#include "cfg/Config.h"
#include "ui/IUi.h"
#include "ui/widgets/DynamicIcon.h"
#include "ui_PopupDialog.h"
#include "usb/UsbStorage.h"
#include "util/Fonts.h"
#include "util/Stylesheet.h"

#include <QApplication>
#include <QCoreApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QLayout>
#include <QScreen>
#include <QTimer>
#include <QVariant>

#include <ostream>

std::ostream& operator<<(std::ostream& os, const QRect& rect)
{
  return os << "[(" << rect.left() << "," << rect.top() << "),(" << rect.right() << "," << rect.bottom()
            << ")]";
}

namespace Ui {

namespace {

const char* const StyleSheet = ":/styles/PopupDialog.qss";
const char* const ConnectedStatusStyle = "QLabel#labelStatusText { color : #78BE20; }";
const char* const ErrorStatusStyle = "QLabel#labelStatusText { color : #EA0016; }";

const char* const ConnectedIcon = ":/icons/ic_connected.png";
const char* const ErrorIcon = ":/icons/ic_device_notification.png";
const char* const SpinnerGif = ":/icons/ic_spinner.gif";
const char* const SpinnerFrames = ":/icons/ic_spinner_1414/ic_spinner_%1.png";
const unsigned int SpinnerFrameCount = 18;
const char* const ErrorBigIcon = ":/icons/ic_error_big.png";

const char* const LinkIdProperty = "LinkId";

// How far from the pointer the popup keeps when it hangs from the pointer.
const int PointerMargin = 8;

QString Translate(const char* source)
{
  return QCoreApplication::translate("global", source);
}

bool IsEmpty(const char* text)
{
  return !text || !*text;
}

// A stick whose metadata the application cannot use yet.
bool NoMetadataStick(const UsbInfo& usb)
{
  return !usb.Valid() || usb.state == UsbInfo::NoMetadata;
}

// The screen that shows `point`, else the primary screen (null only when the
// system has no screen at all).
QScreen* ScreenAt(const QPoint& point)
{
  QScreen* screen = QGuiApplication::screenAt(point);
  return screen ? screen : QGuiApplication::primaryScreen();
}

} // namespace

Popup::StateData::StateData()
    : statusTitle(QT_TRANSLATE_NOOP("global", "USB stick")),
      statusText(QT_TRANSLATE_NOOP("global", "Connected")), statusStyle(ConnectedStatusStyle),
      statusIcon(ConnectedIcon)
{
}

Popup::Popup(IUi& ui, QWidget* parent)
    : QDialog(parent), form(new Ui_PopupDialog), leaveTimer(new QTimer(this)), fadeTimer(new QTimer(this))
{
  form->setupUi(this);

  form->labelStatusTitle->setFont(Fonts::Get(Fonts::Bold, 13));
  form->labelContentTitle->setFont(Fonts::Get(Fonts::Bold, 13));
  form->labelStatusText->setFont(Fonts::Get(Fonts::Regular, 12));
  form->labelContentText->setFont(Fonts::Get(Fonts::Regular, 12));
  form->pushButtonContentLink->setFont(Fonts::Get(Fonts::Regular, 12));

  // A tool window without frame or title bar, above ordinary windows. The
  // flags are set once: changing window flags later re-creates the native
  // window on X11 and hides it.
  //
  // It never takes the keyboard: it comes forward while the user types in
  // another window, where a key meant for that window must not press its link
  // (Dismiss cancels a download and removes it from the stick). The link is
  // pressed by a click alone, and is no dialog's default button.
  setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::CustomizeWindowHint | Qt::WindowStaysOnTopHint |
                 Qt::WindowDoesNotAcceptFocus);
  setAttribute(Qt::WA_ShowWithoutActivating);
  form->pushButtonContentLink->setFocusPolicy(Qt::NoFocus);
  form->pushButtonContentLink->setAutoDefault(false);
  form->pushButtonContentLink->setDefault(false);

  LoadStylesheet(StyleSheet, this);

  leaveTimer->setObjectName(QStringLiteral("leaveTimer"));
  fadeTimer->setObjectName(QStringLiteral("fadeTimer"));
  leaveTimer->setSingleShot(true);

  connect(leaveTimer, &QTimer::timeout, this, &Popup::StartFadeTimer);
  connect(fadeTimer, &QTimer::timeout, this, &Popup::OnFadeTimeout);
  connect(form->pushButtonContentLink, &QPushButton::clicked, this, &Popup::OnLinkButtonClicked);
  connect(&ui, &IUi::UpdateLocale, this, &Popup::RetranslateUi);

  CreateStateData();
}

Popup::~Popup()
{
  delete form;
}

void Popup::CreateStateData()
{
  auto entry = [this](State key) -> StateData& { return stateData[key]; };
  auto error = [](StateData& data) {
    data.statusText = QT_TRANSLATE_NOOP("global", "Error");
    data.statusStyle = ErrorStatusStyle;
    data.statusIcon = ErrorIcon;
  };
  auto content = [](StateData& data, const char* title, const char* icon, unsigned int frames,
                    const char* text, const char* link, PopupLink id) {
    data.contentTitle = title;
    data.contentIcon = icon;
    data.contentFrames = frames;
    data.contentText = text;
    data.linkText = link;
    data.linkId = id;
  };
  const unsigned int Gif = DynamicIcon::AnimatedPicture;

  content(entry(State::CancelDownload), "", SpinnerGif, Gif,
          QT_TRANSLATE_NOOP("global", "Cancelling download"), "", PopupLink::Blank);
  content(entry(State::MandatoryUpdate), QT_TRANSLATE_NOOP("global", "Map update required"),
          ":/icons/ic_full_update_required.png", 1, "", QT_TRANSLATE_NOOP("global", "Update map"),
          PopupLink::ManageMaps);
  content(entry(State::MapDownload), "", SpinnerGif, Gif, QT_TRANSLATE_NOOP("global", "Downloading map"),
          QT_TRANSLATE_NOOP("global", "Manage maps"), PopupLink::ManageMaps);
  content(entry(State::MapUpdateCheck), "", SpinnerGif, Gif,
          QT_TRANSLATE_NOOP("global", "Checking for map updates. Please do not disconnect the USB stick."),
          "", PopupLink::Blank);
  StateData& corrupt = entry(State::MetadataCorrupt);
  error(corrupt);
  content(corrupt, "", ErrorBigIcon, 1,
          QT_TRANSLATE_NOOP("global",
                            "Something has gone wrong. Please connect the USB stick to your vehicle again."),
          QT_TRANSLATE_NOOP("global", "See help"), PopupLink::ShowHelp);
  content(entry(State::NoConnection), "", ":/icons/ic_connect_usb.png", 1,
          QT_TRANSLATE_NOOP("global",
                            "Checking for map updates requires an internet connection. Please check if "
                            "the computer is connected to the internet."),
          QT_TRANSLATE_NOOP("global", "Retry"), PopupLink::Retry);
  content(entry(State::NoSubscription),
          QT_TRANSLATE_NOOP("global", "Vehicle's navigation device not registered yet"), "", 0,
          QT_TRANSLATE_NOOP("global",
                            "Your vehicle's navigation device is not registered yet to receive map updates."),
          QT_TRANSLATE_NOOP("global", "See help"), PopupLink::ShowHelp);
  content(entry(State::OptionalUpdate), QT_TRANSLATE_NOOP("global", "Update available"),
          ":/icons/ic_full_update_available.png", 1, "", QT_TRANSLATE_NOOP("global", "Update maps"),
          PopupLink::ManageMaps);
  content(entry(State::PendingUpdate), QT_TRANSLATE_NOOP("global", "Pending map updates"), "", 0,
          QT_TRANSLATE_NOOP("global",
                            "This USB stick already contains map updates. Please connect it to your "
                            "vehicle to transfer the map updates to your navigation system."),
          QT_TRANSLATE_NOOP("global", "Manage maps"), PopupLink::ManageMaps);
  content(entry(State::RootUpdate), QT_TRANSLATE_NOOP("global", "Manage maps"), "", 0,
          QT_TRANSLATE_NOOP(
              "global", "Open the main application to download maps for your vehicle's navigation system."),
          QT_TRANSLATE_NOOP("global", "Open application"), PopupLink::ManageMaps);
  content(entry(State::ServerError), QT_TRANSLATE_NOOP("global", "Map update server not available"),
          ":/icons/ic_map_expired.png", 1, QT_TRANSLATE_NOOP("global", "Something has gone wrong."),
          QT_TRANSLATE_NOOP("global", "Retry"), PopupLink::Retry);
  content(entry(State::SubscriptionExpired), QT_TRANSLATE_NOOP("global", "Map update subscription expired"),
          ":/icons/ic_map_expired.png", 1, "", QT_TRANSLATE_NOOP("global", "Restore map"),
          PopupLink::ManageMaps);
  content(entry(State::UpToDate), QT_TRANSLATE_NOOP("global", "Your navigation system is up to date"),
          ":/icons/ic_full_update_updated.png", 1, "", QT_TRANSLATE_NOOP("global", "Manage maps"),
          PopupLink::ManageMaps);
  content(entry(State::UsbBlocked), "", ErrorBigIcon, 1,
          QT_TRANSLATE_NOOP("global", "Map update download failed"), QT_TRANSLATE_NOOP("global", "Dismiss"),
          PopupLink::Dismiss);
  StateData& usbCheck = entry(State::UsbCheck);
  usbCheck.statusIcon = SpinnerFrames;
  usbCheck.statusFrames = SpinnerFrameCount;
  content(usbCheck, "", "", 0,
          QT_TRANSLATE_NOOP("global",
                            "Checking your USB stick. Please wait. Please do not disconnect your USB stick."),
          "", PopupLink::Blank);
  content(entry(State::UsbFull), "", ErrorBigIcon, 1,
          QT_TRANSLATE_NOOP("global",
                            "Insufficient memory space available on the USB stick. Please create some "
                            "free memory space."),
          QT_TRANSLATE_NOOP("global", "Dismiss"), PopupLink::Dismiss);
  StateData& removed = entry(State::UsbRemoved);
  error(removed);
  content(removed, "", ErrorBigIcon, 1,
          QT_TRANSLATE_NOOP("global",
                            "The USB stick has been removed while the system was still accessing it. "
                            "Please reconnect the USB stick"),
          QT_TRANSLATE_NOOP("global", "Continue"), PopupLink::Continue);
  // The link cancels the failed download, as the main window's button does.
  content(entry(State::UsbTooSmall), "", ErrorBigIcon, 1,
          QT_TRANSLATE_NOOP("global",
                            "Insufficient memory space available on the USB stick. Please use another "
                            "USB stick with more free memory."),
          QT_TRANSLATE_NOOP("global", "Manage maps"), PopupLink::Dismiss);
}

Popup::StateData Popup::Data(State of) const
{
  const auto found = stateData.find(of);
  return found == stateData.end() ? StateData() : found->second;
}

void Popup::SetState(State newState)
{
  const UsbInfo usb = UsbStorage::Get().GetActiveUsb();
  // The removed-stick message stays until the user has read it or the
  // situation has moved on for good.
  if (state == State::UsbRemoved && newState != State::MapDownload && NoMetadataStick(usb)) {
    LOG(Debug) << "Ignoring: " << newState << " state";
    return;
  }
  if (newState != state) {
    LOG(Debug) << "Changing state from: " << state << " to: " << newState;
    state = newState;
  }

  const StateData data = Data(newState);
  form->labelContentTitle->setText(Translate(data.contentTitle));
  form->labelContentTitle->setVisible(!IsEmpty(data.contentTitle));
  form->labelContentIcon->Init(data.contentIcon, data.contentFrames);
  form->labelContentIcon->setVisible(!IsEmpty(data.contentIcon));
  // Only the application name is put into the text, in one step, so that
  // nothing in the name is read as a placeholder or as markup.
  QString text = Translate(data.contentText);
  text.replace(QLatin1String("%1"), Config::get().appName);
  form->labelContentText->setText(text);
  form->labelContentText->setVisible(!IsEmpty(data.contentText));
  form->pushButtonContentLink->setText(Translate(data.linkText));
  form->pushButtonContentLink->setVisible(!IsEmpty(data.linkText));
  form->pushButtonContentLink->setProperty(LinkIdProperty, static_cast<int>(data.linkId));
  form->pushButtonContentLink->setEnabled(true);

  UpdateUsbs();

  const bool quiet = newState == State::UsbCheck || newState == State::RootUpdate ||
                     (newState == State::MapUpdateCheck && NoMetadataStick(usb));
  if (!quiet)
    Activate();
}

void Popup::UpdateUsbs()
{
  const UsbInfo usb = UsbStorage::Get().GetActiveUsb();
  if (usb.Valid() || state == State::UsbRemoved) {
    const StateData data = Data(state);
    form->widgetStatus->show();
    form->labelStatusTitle->setText(Translate(data.statusTitle));
    form->labelStatusTitle->setVisible(!IsEmpty(data.statusTitle));
    form->labelStatusText->setText(Translate(data.statusText));
    form->labelStatusText->setVisible(!IsEmpty(data.statusText));
    form->labelStatusText->setStyleSheet(data.statusStyle);
    form->labelStatusIcon->Init(data.statusIcon, data.statusFrames);
    form->labelStatusIcon->setVisible(data.statusFrames > 0);
  } else {
    form->widgetStatus->hide();
  }
  adjustSize();
  // The wrapped texts ask for more than the popup's fixed width; their height
  // is the one they need at that width.
  if (layout()->hasHeightForWidth())
    resize(width(), qMax(minimumHeight(), layout()->totalHeightForWidth(width())));
  updateGeometry();
}

void Popup::Activate()
{
  // An open menu (the tray icon's, or a list of the main window) holds the
  // pointer: it would take every click, also those on the tray icon it opened
  // over and on the popup's link. Qt closes open menus only when an ordinary
  // window is shown, not a tool window like this one, so the popup closes them
  // itself when it comes forward. It is shown and raised, never activated.
  while (QWidget* menu = QApplication::activePopupWidget()) {
    if (!menu->close())
      break;
  }
  show();
  raise();
}

std::optional<QRect> Popup::PointerAnchor() const
{
  const QPoint pointer = QCursor::pos();
  if (!QGuiApplication::screenAt(pointer))
    return std::nullopt;
  return QRect(pointer - QPoint(PointerMargin, PointerMargin),
               QSize(2 * PointerMargin + 1, 2 * PointerMargin + 1));
}

QRect Popup::Place(const QRect& anchorRect, const QScreen* screen) const
{
  QRect placed(QPoint(), size());
  const QRect whole = screen->geometry();
  const QRect area = screen->availableGeometry();
  // Hang below the anchor; from a panel at the bottom, stand on it instead.
  if (anchorRect.center().y() > whole.center().y())
    placed.moveBottom(anchorRect.top());
  else
    placed.moveTop(anchorRect.bottom());
  placed.moveLeft((anchorRect.left() + anchorRect.right()) / 2 - placed.width() / 2);
  if (placed.right() > area.right())
    placed.moveRight(area.right());
  if (placed.left() < area.left())
    placed.moveLeft(area.left());
  if (placed.bottom() > area.bottom())
    placed.moveBottom(area.bottom());
  if (placed.top() < area.top())
    placed.moveTop(area.top());
  return placed;
}

void Popup::SetGeometry(const QRect& trayRect)
{
  const QRect current = geometry();
  QRect placed = current;
  if (trayRect.isValid()) {
    if (const QScreen* screen = ScreenAt(trayRect.topRight()))
      placed = Place(trayRect, screen);
  } else {
    if (!anchorTaken) {
      anchor = PointerAnchor();
      anchorTaken = isVisible();
    }
    if (anchor) {
      placed = Place(*anchor, ScreenAt(anchor->center()));
    } else if (const QScreen* screen = QGuiApplication::primaryScreen()) {
      placed.moveTopRight(screen->availableGeometry().topRight());
    }
  }
  LOG(Debug) << "Updating popup geometry from: " << current << " to: " << placed;
  setGeometry(placed);
}

void Popup::setVisible(bool visible)
{
  LOG(Debug) << "Setting popup visibility to: " << visible;
  if (visible) {
    if (!isVisible()) {
      // A new showing: a new place when the tray cannot give one, and a link
      // that can be clicked again.
      anchorTaken = false;
      form->pushButtonContentLink->setEnabled(true);
    }
    setWindowOpacity(1.0);
    fadeTimer->stop();
    StartLeaveTimer();
  } else {
    fadeTimer->stop();
    leaveTimer->stop();
    anchorTaken = false;
  }
  QDialog::setVisible(visible);
}

void Popup::StartLeaveTimer()
{
  if (!pointerOver)
    leaveTimer->start(timing.leaveMs);
}

void Popup::StartFadeTimer()
{
  fadeTimer->start(timing.fadeIntervalMs);
}

void Popup::OnFadeTimeout()
{
  const double opacity = windowOpacity() - 0.025;
  if (opacity < 0.01) {
    fadeTimer->stop();
    setVisible(false);
    return;
  }
  setWindowOpacity(opacity);
}

void Popup::enterEvent(QEvent* event)
{
  fadeTimer->stop();
  leaveTimer->stop();
  setWindowOpacity(1.0);
  pointerOver = true;
  QDialog::enterEvent(event);
}

void Popup::leaveEvent(QEvent* event)
{
  pointerOver = false;
  if (isVisible())
    StartLeaveTimer();
  QDialog::leaveEvent(event);
}

void Popup::OnLinkButtonClicked()
{
  const QVariant id = form->pushButtonContentLink->property(LinkIdProperty);
  if (!id.isValid()) {
    LOG(Warning) << "Invalid property";
    return;
  }
  const auto link = static_cast<PopupLink>(id.toInt());
  // One click, one request to the machine: such a link waits for the next
  // state (a second click of a double click must not cancel twice). A link
  // that only opens a window or a page stays live.
  if (link == PopupLink::Dismiss || link == PopupLink::Retry || link == PopupLink::Continue)
    form->pushButtonContentLink->setEnabled(false);
  if (link == PopupLink::Continue)
    state = State::RootUpdate;
  emit LinkClicked(link);
}

void Popup::RetranslateUi()
{
  LOG(Debug) << "Retranslating widget's strings";
  SetState(state);
}

} // namespace Ui
