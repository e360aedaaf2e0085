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
  case DiscardUpdate:
    ShowDiscardUpdate();
    break;
  case SaveSettings:
    ShowSaveSettings();
    break;
  case NoConnection:
    ShowNoConnection();
    break;
  case NoUsb:
    ShowNoUsb();
    break;
  case QuitApplication:
    ShowQuitApplication();
    break;
  case ServerError:
    ShowServerError();
    break;
  case StopDownload:
    ShowStopDownload();
    break;
  case SubscriptionExpired:
    ShowSubscriptionExpired();
    break;
  case UsbBlocked:
    ShowUsbBlocked();
    break;
  case UsbFull:
    ShowUsbFull();
    break;
  case Unknown:
  case MapUpdate:
  case UsbTooSmall:
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

void MessageScreen::ShowDiscardUpdate()
{
  LOG(Debug) << "Showing Discard update message screen";
  ShowScreen(QCoreApplication::translate("global", "Cancel map update?"),
             QCoreApplication::translate(
                 "global",
                 "Cancelling the map update will delete the map update from the USB stick. For future "
                 "installation on your vehicle's navigation system, the map update needs to be downloaded to "
                 "the USB stick again. Please confirm cancelling this map update."),
             QCoreApplication::translate("global", "Yes"), QCoreApplication::translate("global", "No"), -1,
             false);
}

void MessageScreen::ShowSaveSettings()
{
  LOG(Debug) << "Showing You have unsaved changes message screen";
  ShowScreen(
      QCoreApplication::translate("global", "Unsaved changes detected"),
      QCoreApplication::translate(
          "global", "Unsaved changes detected. Closing this settings window will discard the changes."),
      QCoreApplication::translate("global", "Yes, discard"),
      QCoreApplication::translate("global", "No, go back"), -1, false);
}

void MessageScreen::ShowNoConnection()
{
  LOG(Debug) << "Showing Connection lost message screen";
  ShowScreen(QCoreApplication::translate("global", "No internet connection"),
             QCoreApplication::translate(
                 "global",
                 "Downloading map updates requires an internet connection. Please check if the computer is "
                 "connected to the internet."),
             QCoreApplication::translate("global", "Retry"), QCoreApplication::translate("global", "Cancel"),
             -1, false);
}

void MessageScreen::ShowNoUsb()
{
  LOG(Debug) << "Showing No usb message screen";
  ShowScreen(QCoreApplication::translate("global", "No USB stick found"),
             QCoreApplication::translate("global", "Connect a USB stick to the computer"),
             QCoreApplication::translate("global", "Dismiss"), QString(), -1, false);
}

void MessageScreen::ShowQuitApplication()
{
  LOG(Debug) << "Showing Quit application message screen";
  ShowScreen(
      QCoreApplication::translate("global", "Quit application"),
      QCoreApplication::translate(
          "global", "The USB stick is in use. Quitting the application results in losing your vehicle's "
                    "navigation system map information. To return to the application click No."),
      QCoreApplication::translate("global", "No"), QCoreApplication::translate("global", "Yes"), -1, false);
}

void MessageScreen::ShowServerError()
{
  LOG(Info) << "Showing Server error message screen";
  ShowScreen(QCoreApplication::translate("global", "Map update server not available"),
             QCoreApplication::translate("global", "Please try again later."),
             QCoreApplication::translate("global", "Retry"), QCoreApplication::translate("global", "Cancel"),
             -1, false);
}

void MessageScreen::ShowStopDownload()
{
  LOG(Debug) << "Showing stop download message screen";
  ShowScreen(
      QCoreApplication::translate("global", "Cancel map update download?"),
      QCoreApplication::translate("global", "Are you sure you want to cancel the map update download?"),
      QCoreApplication::translate("global", "Yes"), QCoreApplication::translate("global", "No"), -1, false);
}

void MessageScreen::ShowSubscriptionExpired()
{
  LOG(Debug) << "Showing Map updates expired message screen";
  ShowScreen(QCoreApplication::translate("global", "Map update subscription expired"),
             QCoreApplication::translate(
                 "global",
                 "You can still download a map to restore your system to the latest version you were "
                 "entitled to. To restore the latest entitled map version click below."),
             QCoreApplication::translate("global", "Restore map"), QString(), -1, false);
}

void MessageScreen::ShowUsbBlocked()
{
  LOG(Debug) << "Showing USB stick blocked message screen";
  ShowScreen(QCoreApplication::translate("global", "Map update download failed"),
             QCoreApplication::translate(
                 "global",
                 "Map update download failed due to a device access operation. Please check if all files on "
                 "the USB stick can be accessed."),
             QCoreApplication::translate("global", "Dismiss"), QString(), -1, false);
}

void MessageScreen::ShowUsbFull()
{
  LOG(Debug) << "Showing USB stick full message screen";
  ShowScreen(QCoreApplication::translate("global", "Insufficient memory space available"),
             QCoreApplication::translate(
                 "global",
                 "There is insufficient memory space available on the USB stick. Please create some free "
                 "memory space."),
             QCoreApplication::translate("global", "Dismiss"), QString(), -1, false);
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
