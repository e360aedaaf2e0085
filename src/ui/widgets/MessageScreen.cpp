#include "ui/widgets/MessageScreen.h"

#include "ui_MessageScreenWidget.h"

#include "Log.h"
#include "fmu/MapStorage.h"
#include "ui/IUi.h"
#include "util/Fonts.h"
#include "util/Format.h"
#include "util/Stylesheet.h"

#include <QCoreApplication>

#include <algorithm>

namespace {

const QString StyleSheet = QStringLiteral(":/styles/MessageScreenWidget.qss");
const QString WarningIcon = QStringLiteral(":/icons/ic_warning_big.png");
// 33 frames each, 0 to 32: the blue sector of the disc grows with the number.
const QString DownloadFrames = QStringLiteral(":/icons/ic_progress_72/ic_progress_%1.png");
const QString DeleteFrames = QStringLiteral(":/icons/ic_delete_72/ic_delete_%1.png");

// How much of a map is on the stick: its bytes there, kept within 0 and its
// size as the store keeps them, and that share of its size in percent. A map
// of no size has nothing on the stick and nothing to remove: both pages show
// 0 % for it.
struct OnStick
{
  explicit OnStick(const MapInfo& map)
      : size(std::max<qint64>(map.size, 0)), bytes(std::clamp<qint64>(map.downloaded, 0, size)),
        share(size > 0 ? static_cast<double>(bytes) / static_cast<double>(size) * 100.0 : 0.0)
  {
  }

  // Percentages are truncated, so that 100 % means all of it.
  int Downloaded() const { return static_cast<int>(share); }
  int Removed() const { return size > 0 ? static_cast<int>(100.0 - share) : 0; }

  qint64 size;
  qint64 bytes;
  double share;
};

// The screens whose content depends on nothing but the language: source
// texts of the context "global", translated at every showing. No second
// button text hides the second button.
struct FixedScreen
{
  Ui::MessageScreen::Type type;
  const char* log;
  const char* title;
  const char* description;
  const char* firstButton;
  const char* secondButton;
};

const FixedScreen FixedScreens[] = {
    {Ui::MessageScreen::DiscardUpdate, "Showing Discard update message screen",
     QT_TRANSLATE_NOOP("global", "Cancel map update?"),
     QT_TRANSLATE_NOOP("global",
                       "Cancelling the map update will delete the map update from the USB stick. For future "
                       "installation on your vehicle's navigation system, the map update needs to be "
                       "downloaded to the USB stick again. Please confirm cancelling this map update."),
     QT_TRANSLATE_NOOP("global", "Yes"), QT_TRANSLATE_NOOP("global", "No")},
    {Ui::MessageScreen::SaveSettings, "Showing You have unsaved changes message screen",
     QT_TRANSLATE_NOOP("global", "Unsaved changes detected"),
     QT_TRANSLATE_NOOP("global",
                       "Unsaved changes detected. Closing this settings window will discard the changes."),
     QT_TRANSLATE_NOOP("global", "Yes, discard"), QT_TRANSLATE_NOOP("global", "No, go back")},
    {Ui::MessageScreen::NoConnection, "Showing Connection lost message screen",
     QT_TRANSLATE_NOOP("global", "No internet connection"),
     QT_TRANSLATE_NOOP("global",
                       "Downloading map updates requires an internet connection. Please check if the "
                       "computer is connected to the internet."),
     QT_TRANSLATE_NOOP("global", "Retry"), QT_TRANSLATE_NOOP("global", "Cancel")},
    {Ui::MessageScreen::NoUsb, "Showing No usb message screen",
     QT_TRANSLATE_NOOP("global", "No USB stick found"),
     QT_TRANSLATE_NOOP("global", "Connect a USB stick to the computer"),
     QT_TRANSLATE_NOOP("global", "Dismiss"), nullptr},
    {Ui::MessageScreen::QuitApplication, "Showing Quit application message screen",
     QT_TRANSLATE_NOOP("global", "Quit application"),
     QT_TRANSLATE_NOOP("global",
                       "The USB stick is in use. Quitting the application results in losing your vehicle's "
                       "navigation system map information. To return to the application click No."),
     QT_TRANSLATE_NOOP("global", "No"), QT_TRANSLATE_NOOP("global", "Yes")},
    {Ui::MessageScreen::ServerError, "Showing Server error message screen",
     QT_TRANSLATE_NOOP("global", "Map update server not available"),
     QT_TRANSLATE_NOOP("global", "Please try again later."), QT_TRANSLATE_NOOP("global", "Retry"),
     QT_TRANSLATE_NOOP("global", "Cancel")},
    {Ui::MessageScreen::StopDownload, "Showing stop download message screen",
     QT_TRANSLATE_NOOP("global", "Cancel map update download?"),
     QT_TRANSLATE_NOOP("global", "Are you sure you want to cancel the map update download?"),
     QT_TRANSLATE_NOOP("global", "Yes"), QT_TRANSLATE_NOOP("global", "No")},
    {Ui::MessageScreen::SubscriptionExpired, "Showing Map updates expired message screen",
     QT_TRANSLATE_NOOP("global", "Map update subscription expired"),
     QT_TRANSLATE_NOOP("global",
                       "You can still download a map to restore your system to the latest version you were "
                       "entitled to. To restore the latest entitled map version click below."),
     QT_TRANSLATE_NOOP("global", "Restore map"), nullptr},
    {Ui::MessageScreen::UsbBlocked, "Showing USB stick blocked message screen",
     QT_TRANSLATE_NOOP("global", "Map update download failed"),
     QT_TRANSLATE_NOOP("global",
                       "Map update download failed due to a device access operation. Please check if all "
                       "files on the USB stick can be accessed."),
     QT_TRANSLATE_NOOP("global", "Dismiss"), nullptr},
    {Ui::MessageScreen::UsbFull, "Showing USB stick full message screen",
     QT_TRANSLATE_NOOP("global", "Insufficient memory space available"),
     QT_TRANSLATE_NOOP("global",
                       "There is insufficient memory space available on the USB stick. Please create some "
                       "free memory space."),
     QT_TRANSLATE_NOOP("global", "Dismiss"), nullptr},
};

QString Translate(const char* source)
{
  return source ? QCoreApplication::translate("global", source) : QString();
}

} // namespace

namespace Ui {

MessageScreen::MessageScreen(IUi& userInterface, QWidget* parent)
    : QWidget(parent), iui(userInterface), ui(new Ui_MessageScreenWidget)
{
  ui->setupUi(this);

  ui->labelMessageTitle->setFont(Fonts::Get(Fonts::Bold, 18));
  ui->labelMessageDescription->setFont(Fonts::Get(Fonts::Regular, 14));
  ui->pushButtonPrimary->setFont(Fonts::Get(Fonts::Medium, 14));
  ui->pushButtonSecondary->setFont(Fonts::Get(Fonts::Medium, 14));

  LoadStylesheet(StyleSheet, this);

  connect(&iui, &IUi::UpdateLocale, this, &MessageScreen::RetranslateUi);
  connect(ui->pushButtonPrimary, &QPushButton::clicked, this, &MessageScreen::OnFirstButtonClicked);
  connect(ui->pushButtonSecondary, &QPushButton::clicked, this, &MessageScreen::OnSecondButtonClicked);

  downloadTimer.setInterval(500);
  connect(&downloadTimer, &QTimer::timeout, this, &MessageScreen::ShowMapDownload);
  deleteTimer.setInterval(500);
  connect(&deleteTimer, &QTimer::timeout, this, &MessageScreen::ShowMapDelete);
}

MessageScreen::~MessageScreen()
{
  delete ui;
}

void MessageScreen::Init(Type newType)
{
  downloadTimer.stop();
  deleteTimer.stop();
  ui->pushButtonPrimary->setEnabled(true);
  ui->pushButtonSecondary->setEnabled(true);

  switch (newType) {
  case MapDelete:
    ShowMapDelete();
    deleteTimer.start();
    break;
  case MapDownload:
    ShowMapDownload();
    downloadTimer.start();
    break;
  case Unknown:
  case MapUpdate:
  case UsbTooSmall:
    break;
  default:
    ShowFixed(newType);
    break;
  }

  type = newType;
  map.Clear();
}

void MessageScreen::Init(Type newType, const MapInfo& newMap)
{
  if (!newMap.Valid()) {
    LOG(Warning) << "Map info is not valid";
    return;
  }
  // A copy first: RetranslateUi passes the stored map itself.
  const MapInfo shown = newMap;
  downloadTimer.stop();
  deleteTimer.stop();
  ui->pushButtonPrimary->setEnabled(true);
  ui->pushButtonSecondary->setEnabled(true);

  if (newType == UsbTooSmall)
    ShowUsbTooSmall(shown);
  else if (newType == MapUpdate)
    ShowMapUpdate(shown);

  type = newType;
  map = shown;
}

void MessageScreen::ShowScreen(const QString& title, const QString& description, const QString& firstButton,
                               const QString& secondButton, int progress, bool deleting)
{
  ui->labelMessageTitle->setText(title);
  ui->labelMessageDescription->setText(description);

  QString icon = WarningIcon;
  if (progress >= 0) {
    const int frame = std::min(progress, 100) * 32 / 100;
    icon = deleting ? DeleteFrames.arg(32 - frame) : DownloadFrames.arg(frame);
  }
  ui->labelMessageIcon->Init(icon, 1);

  ui->pushButtonPrimary->setText(firstButton);
  ui->pushButtonPrimary->setVisible(!firstButton.isEmpty());
  ui->pushButtonPrimary->setEnabled(!firstButton.isEmpty());
  ui->pushButtonSecondary->setText(secondButton);
  ui->pushButtonSecondary->setVisible(!secondButton.isEmpty());
  ui->pushButtonSecondary->setEnabled(!secondButton.isEmpty());
}

void MessageScreen::ShowMapDownload()
{
  const MapInfo downloading = DownloadingMap();
  if (!downloading.Valid()) {
    downloadTimer.stop();
    return;
  }
  LOG(Debug) << "Showing map download message screen";
  const OnStick done(downloading);
  // The map's name comes from the service: one substitution, so that nothing
  // in it is taken for a placeholder.
  const QString description =
      QCoreApplication::translate("global", "%1\nDownloading - %2 %\n%3 of %4")
          .arg(QString::fromStdWString(downloading.name), QString::number(done.Downloaded()),
               MemorySizeToString(done.bytes, 2), MemorySizeToString(done.size, 2));
  ShowScreen(QCoreApplication::translate("global", "Map update"), description,
             QCoreApplication::translate("global", "Cancel"), QString(), done.Downloaded(), false);
}

void MessageScreen::ShowMapDelete()
{
  const MapInfo deleting = DeletingMap();
  if (!deleting.Valid()) {
    deleteTimer.stop();
    return;
  }
  LOG(Debug) << "Showing map deletetion message screen";
  const OnStick left(deleting);
  const int percent = left.Removed();
  const QString description =
      QCoreApplication::translate("global", "%1\nCancelling download - %2 %\n%3 of %4")
          .arg(QString::fromStdWString(deleting.name), QString::number(percent),
               MemorySizeToString(left.size - left.bytes, 2), MemorySizeToString(left.size, 2));
  ShowScreen(QCoreApplication::translate("global", "Deleting downloaded map update."), description, QString(),
             QString(), percent, true);
}

void MessageScreen::ShowMapUpdate(const MapInfo& update)
{
  LOG(Debug) << "Showing Map Reset message screen";
  QString title;
  QString description;
  QString secondButton;
  switch (update.type) {
  case MapInfo::Installed:
    title = QCoreApplication::translate("global", "Confirm map download");
    description =
        QCoreApplication::translate("global", "This map download of %1 will restore the current map.");
    secondButton = QCoreApplication::translate("global", "Cancel");
    break;
  case MapInfo::Optional:
    title = QCoreApplication::translate("global", "Confirm optional map update");
    description = QCoreApplication::translate(
        "global", "This map update download of %1 will refresh the current map with the latest updates.");
    secondButton = QCoreApplication::translate("global", "Cancel");
    break;
  case MapInfo::Mandatory:
    title = QCoreApplication::translate("global", "Confirm mandatory map update");
    description = QCoreApplication::translate(
        "global", "This map update download of %1 will refresh the current map with the latest updates.");
    break;
  }
  ShowScreen(title, description.arg(MemorySizeToString(update.size, 2)),
             QCoreApplication::translate("global", "Continue"), secondButton, -1, false);
}

void MessageScreen::ShowUsbTooSmall(const MapInfo& update)
{
  LOG(Debug) << "Showing USB stick too small message screen";
  ShowScreen(
      QCoreApplication::translate("global", "Insufficient memory space available"),
      QCoreApplication::translate(
          "global",
          "There is insufficient memory space available on the USB stick. Please reconnect an USB stick "
          "with at least %1 of free memory space to the vehicle's navigation system.")
          .arg(MemorySizeToString(update.size, 2)),
      QCoreApplication::translate("global", "Manage maps"), QString(), -1, false);
}

void MessageScreen::ShowFixed(Type fixed)
{
  for (const FixedScreen& screen : FixedScreens) {
    if (screen.type != fixed)
      continue;
    // A failing server is worth a line in a log kept at Info.
    if (fixed == ServerError)
      LOG(Info) << screen.log;
    else
      LOG(Debug) << screen.log;
    ShowScreen(Translate(screen.title), Translate(screen.description), Translate(screen.firstButton),
               Translate(screen.secondButton), -1, false);
    return;
  }
}

void MessageScreen::OnFirstButtonClicked()
{
  LOG(Debug) << "First button clicked";
  ui->pushButtonPrimary->setEnabled(false);
  ui->pushButtonSecondary->setEnabled(false);
  emit FirstButtonClicked();
}

void MessageScreen::OnSecondButtonClicked()
{
  LOG(Debug) << "Second button clicked";
  ui->pushButtonPrimary->setEnabled(false);
  ui->pushButtonSecondary->setEnabled(false);
  emit SecondButtonClicked();
}

void MessageScreen::RetranslateUi()
{
  LOG(Debug) << "Retranslating widget's strings";
  if (type == Unknown)
    return;
  if (map.Valid())
    Init(type, map);
  else
    Init(type);
}

} // namespace Ui
