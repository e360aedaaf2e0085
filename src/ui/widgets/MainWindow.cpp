#include "ui/widgets/MainWindow.h"

#include "ui_MainWindowDialog.h"
#include "ui_MessageRowWidget.h"
#include "ui_TitleRowWidget.h"

#include "EnumNames.h"
#include "Log.h"
#include "cfg/Config.h"
#include "fmu/MapStorage.h"
#include "ui/IUi.h"
#include "ui/OpenLink.h"
#include "ui/widgets/Footer.h"
#include "ui/widgets/MessageScreen.h"
#include "ui/widgets/SettingsScreen.h"
#include "ui/widgets/TableRow.h"
#include "usb/UsbStorage.h"
#include "util/Fonts.h"
#include "util/Stylesheet.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QHeaderView>
#include <QPointer>
#include <QScrollBar>
#include <QStyle>
#include <QStyleFactory>

#include <algorithm>
#include <ostream>

namespace {

const QString MainWindowStyle = QStringLiteral(":/styles/MainWindowDialog.qss");
const QString HeaderStyle = QStringLiteral(":/styles/HeaderWidget.qss");
const QString TitleRowStyle = QStringLiteral(":/styles/TitleRowWidget.qss");
const QString MessageRowStyle = QStringLiteral(":/styles/MessageRowWidget.qss");
const QString DownloadingIcon = QStringLiteral(":/icons/notification-downloading.png");
const QString PendingIcon = QStringLiteral(":/icons/notification-pending.png");

constexpr int TitleRowHeight = 34;

QString Translate(const QString& source)
{
  return source.isEmpty() ? QString() : QCoreApplication::translate("global", source.toUtf8().constData());
}

} // namespace

namespace Ui {

std::vector<std::pair<std::string, MapInfo>>
GetSortedMaps(const std::unordered_map<std::string, MapInfo>& maps)
{
  std::vector<std::pair<std::string, MapInfo>> sorted(maps.begin(), maps.end());
  // std::string compares its characters as unsigned bytes.
  std::sort(sorted.begin(), sorted.end(),
            [](const auto& a, const auto& b) { return a.second.region < b.second.region; });
  return sorted;
}

MainWindow::Screens::Screens(IUi& ui, QWidget* parent)
    : mapsMessageScreen(new MessageScreen(ui, parent)), messageScreen(new MessageScreen(ui, parent)),
      settingsScreen(new SettingsScreen(ui, parent))
{
}

MainWindow::MainWindow(IUi& userInterface, QWidget* parent)
    : QDialog(parent), iui(userInterface), ui(new Ui_MainWindowDialog), screens(userInterface, this)
{
  ui->setupUi(this);
  setWindowTitle(QStringLiteral("Lumora v%1").arg(Config::get().version));

  RetranslateUi();

  LoadStylesheet(MainWindowStyle, this);
  LoadStylesheet(HeaderStyle, ui->widgetHeader);
  setWindowFlags(Qt::Window);

  ui->pushButtonMapUpdates->setFont(Fonts::Get(Fonts::Bold, 13));
  ui->labelNotificationTitle->setFont(Fonts::Get(Fonts::Bold, 12));
  ui->labelNotificationText->setFont(Fonts::Get(Fonts::Regular, 12));
  ui->labelNotificationTitle->setTextFormat(Qt::PlainText);
  ui->labelNotificationText->setTextFormat(Qt::PlainText);
  ui->widgetNotificationBanner->hide();

  ui->widgetSettings->layout()->addWidget(screens.settingsScreen);
  ui->widgetMapsMessage->layout()->addWidget(screens.mapsMessageScreen);
  ui->widgetMessage->layout()->addWidget(screens.messageScreen);

  QTableWidget* table = ui->tableWidgetMapUpdates;
  table->verticalHeader()->hide();
  table->horizontalHeader()->hide();
  table->setAutoScroll(false);
  table->setShowGrid(false);
  // The window owns the scroll bar's style; it is created after the table and
  // so destroyed after it.
  if (QStyle* style = QStyleFactory::create(QStringLiteral("windows"))) {
    style->setParent(this);
    table->verticalScrollBar()->setStyle(style);
  }
  table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table->setSelectionMode(QAbstractItemView::NoSelection);
  table->setFocusPolicy(Qt::NoFocus);
  table->clearFocus();

  connect(&iui, &IUi::UpdateLocale, this, &MainWindow::RetranslateUi);
  connect(screens.settingsScreen, &SettingsScreen::CancelButtonClicked, this, [this] { OnSettingsCancel(); });
  connect(ui->pushButtonMapUpdates, &QPushButton::clicked, this, [this] { OnMapUpdatesClicked(); });
  connect(ui->pushButtonSettings, &QPushButton::clicked, this, [this] { OnSettingsClicked(); });
  connect(ui->pushButtonHelp, &QPushButton::clicked, this, [this] { OnHelpClicked(); });

  CreateStateData();
}

MainWindow::~MainWindow()
{
  delete ui;
}

// ---------------------------------------------------------------------------
// State table

void MainWindow::CreateStateData()
{
  const QString accessing = QT_TRANSLATE_NOOP("global", "Accessing information on the USB stick");
  const QString doNotDisconnect =
      QT_TRANSLATE_NOOP("global", "Please do not disconnect the USB stick from the computer");
  const QPixmap downloading(DownloadingIcon);

  const auto record = [](std::function<void()> action, bool mapUpdates, bool settings) {
    StateData data;
    data.action = std::move(action);
    data.mapUpdatesEnabled = mapUpdates;
    data.settingsEnabled = settings;
    return data;
  };
  const auto updateSubscription = [this] { screens.settingsScreen->UpdateSubscription(); };
  // A network failure keeps the window only while a map was downloading: the
  // maps page then offers to retry the download.
  const auto networkFailure = [this](State failure, void (MainWindow::*show)()) {
    return [this, failure, show] {
      const bool downloading = DownloadingMap().Valid();
      stateData[failure].mapUpdatesEnabled = downloading;
      if (downloading)
        (this->*show)();
      screens.settingsScreen->UpdateSubscription();
    };
  };

  StateData cancel = record(
      [this] {
        const MapInfo map = DeletingMap();
        if (map.Valid())
          SetDeletingMap(map);
      },
      true, false);
  cancel.title = accessing;
  cancel.text = doNotDisconnect;
  cancel.icon = downloading;
  stateData.insert(State::CancelDownload, cancel);

  stateData.insert(State::MandatoryUpdate, record([this] { SetMandatoryMap(MandatoryMap()); }, true, true));

  StateData download = record(
      [this] {
        const MapInfo map = DownloadingMap();
        if (map.Valid())
          SetDownloadingMap(map);
      },
      true, false);
  download.title = accessing;
  download.text = doNotDisconnect;
  download.icon = downloading;
  stateData.insert(State::MapDownload, download);

  stateData.insert(State::MapUpdateCheck, record({}, false, false));
  stateData.insert(State::MetadataCorrupt, record(updateSubscription, false, true));
  stateData.insert(State::NoConnection,
                   record(networkFailure(State::NoConnection, &MainWindow::SetNoConnection), true, true));
  stateData.insert(State::NoSubscription, record(updateSubscription, false, true));
  stateData.insert(State::OptionalUpdate, record([this] { SetOptionalMap(OptionalMap()); }, true, true));

  StateData pending = record([this] { SetPendingMap(PendingMap()); }, true, true);
  pending.title =
      QT_TRANSLATE_NOOP("global", "Map updates ready to be installed on your vehicle's navigation system");
  pending.text =
      QT_TRANSLATE_NOOP("global", "To complete installation of map updates, connect the USB stick to "
                                  "your vehicle's navigation system and follow the instructions on the "
                                  "display.");
  pending.icon = QPixmap(PendingIcon);
  stateData.insert(State::PendingUpdate, pending);

  stateData.insert(State::RootUpdate, record([this] { SetRootMaps(RootMaps()); }, true, true));
  stateData.insert(State::ServerError,
                   record(networkFailure(State::ServerError, &MainWindow::SetServerError), true, true));
  stateData.insert(State::SubscriptionExpired, record([this] { SetSubscriptionExpired(); }, true, true));
  stateData.insert(State::UpToDate, record([this] { SetOptionalMap(InstalledMap()); }, true, true));
  stateData.insert(State::UsbBlocked, record([this] { SetUsbBlocked(); }, true, true));
  stateData.insert(State::UsbCheck, record({}, true, false));
  stateData.insert(State::UsbFull, record([this] { SetUsbFull(); }, true, true));
  stateData.insert(State::UsbRemoved, record({}, false, true));
  stateData.insert(State::UsbTooSmall, record([this] { SetUsbTooSmall(DownloadingMap()); }, true, true));
}

MainWindow::StateData MainWindow::Record(State of) const
{
  return stateData.value(of);
}

void MainWindow::EnableHeaderButtons(const StateData& record)
{
  ui->pushButtonMapUpdates->setEnabled(record.mapUpdatesEnabled);
  ui->pushButtonSettings->setEnabled(record.settingsEnabled);
}

void MainWindow::SetState(State newState)
{
  const bool changed = newState != state;
  if (changed) {
    LOG(Debug) << "Changing state from: " << state << " to: " << newState;
    state = newState;
    cancelSent = false;
  }

  // A copy: the action may rewrite its own record.
  const std::function<void()> action = Record(newState).action;
  if (action)
    action();

  const StateData record = Record(newState);
  // A check runs while these are shown (a stick pulled always starts one);
  // every other state is its result, or comes after it.
  const bool checking = newState == State::MapUpdateCheck || newState == State::UsbRemoved;
  if (changed && !record.mapUpdatesEnabled) {
    // A window the user had open comes back with the check's result.
    if (checking && isVisible() && !standalone)
      reappear = true;
    Hide();
  }
  EnableHeaderButtons(record);

  ui->labelNotificationTitle->setText(Translate(record.title));
  ui->labelNotificationText->setText(Translate(record.text));
  ui->labelNotificationIcon->setPixmap(record.icon);
  ui->widgetNotificationBanner->setVisible(!record.text.isEmpty());

  // Any result uses up the coming back, also one that keeps the window
  // hidden: a later result must not bring it up unasked.
  if (!checking)
    Reappear();
}

// ---------------------------------------------------------------------------
// Pages and screens

void MainWindow::SetPage(PageIndex page)
{
  LOG(Debug) << "Changing page from: " << currentPage << " to: " << page;
  ui->stackedWidgetMainWindow->setCurrentIndex(static_cast<int>(page));
  previousPage = currentPage;
  currentPage = page;
  ui->widgetFooter->setVisible(page == PageIndex::Maps);
}

void MainWindow::SetScreen(ScreenIndex screen)
{
  LOG(Debug) << "Changing screen from: " << currentScreen << " to: " << screen;
  ui->stackedWidgetManageMaps->setCurrentIndex(static_cast<int>(screen));
  previousScreen = currentScreen;
  currentScreen = screen;
}

void MainWindow::ShowMapsPage()
{
  LOG(Debug) << "Showing maps page";
  ui->pushButtonMapUpdates->setChecked(true);
  ui->pushButtonSettings->setChecked(false);
  if (currentScreen == ScreenIndex::None)
    SetScreen(ScreenIndex::MapUpdates);
  SetPage(PageIndex::Maps);
  Show();
}

void MainWindow::ShowSettingsPage()
{
  LOG(Debug) << "Showing settings page";
  ui->pushButtonSettings->setChecked(true);
  ui->pushButtonMapUpdates->setChecked(false);
  SetPage(PageIndex::Settings);
  Show();
  // One pixel wider and back lays the settings screen out on its new page.
  resize(width() + 1, height());
  resize(width() - 1, height());
}

void MainWindow::ShowMessagePage()
{
  LOG(Debug) << "Showing message page";
  ui->pushButtonSettings->setChecked(false);
  SetPage(PageIndex::Message);
  Show();
}

void MainWindow::Show()
{
  // A hidden window can still count as the active one until the window
  // system has told that it lost the keyboard: it is shown all the same.
  if (isVisible() && isActiveWindow())
    return;
  LOG(Debug) << "Showing main window";
  setWindowState(Qt::WindowActive);
  show();
  // A window that is on show already stays behind the others until it is
  // raised, and X11 gives it the keyboard only when it asks.
  raise();
  activateWindow();
}

void MainWindow::Hide()
{
  if (standalone)
    return;
  LOG(Debug) << "Hiding main window";
  previousPage = currentPage;
  currentPage = PageIndex::None;
  hide();
}

void MainWindow::Reappear()
{
  if (!reappear)
    return;
  reappear = false;
  // A result whose map-updates tab is off keeps the window hidden.
  if (Record(state).mapUpdatesEnabled)
    Show();
}

void MainWindow::reject()
{
  // Escape would hide a window that nothing brings back.
  if (standalone)
    return;
  // Escape or the close button (through closeEvent): closed by the user, the
  // window stays closed.
  reappear = false;
  QDialog::reject();
}

void MainWindow::closeEvent(QCloseEvent* event)
{
  if (!standalone) {
    QDialog::closeEvent(event);
    return;
  }
  event->ignore();
  LOG(Info) << "Main window closed: quitting application";
  emit iui.Quit();
}

void MainWindow::RetranslateUi()
{
  LOG(Debug) << "Retranslating widget's strings";
  ui->pushButtonMapUpdates->setText(QCoreApplication::translate("global", "Map updates").toUpper());
  ui->widgetFooter->RetranslateUi();
  SetState(state);
}

void MainWindow::UpdateUsbs()
{
  ui->widgetFooter->UpdateState();
}

void MainWindow::ShowMapUpdatesScreen()
{
  LOG(Debug) << "Showing map updates screen";
  SetScreen(ScreenIndex::MapUpdates);
  ShowMapsPage();
}

void MainWindow::ShowMapMessageScreen()
{
  LOG(Debug) << "Showing map message screen";
  SetScreen(ScreenIndex::Message);
  ShowMapsPage();
}

// ---------------------------------------------------------------------------
// The map list

void MainWindow::InitTable()
{
  ui->tableWidgetMapUpdates->clear();
  ui->tableWidgetMapUpdates->setRowCount(0);
}

void MainWindow::PlaceRow(int row, QWidget* widget, int height)
{
  QTableWidget* table = ui->tableWidgetMapUpdates;
  if (table->rowCount() <= row)
    table->setRowCount(row + 1);
  table->setCellWidget(row, 0, widget);
  table->setRowHeight(row, height);
}

void MainWindow::AddTitleRow(int row, const QString& title)
{
  auto* widget = new QWidget(this);
  LoadStylesheet(TitleRowStyle, widget);
  Ui_TitleRowWidget form;
  form.setupUi(widget);
  form.labelTitle->setFont(Fonts::Get(Fonts::Bold, 18));
  form.labelTitle->setTextFormat(Qt::PlainText);
  form.labelTitle->setText(title);
  PlaceRow(row, widget, TitleRowHeight);
}

void MainWindow::AddMessageRow(int row, const QString& title, const QString& message)
{
  auto* widget = new QWidget(this);
  LoadStylesheet(MessageRowStyle, widget);
  Ui_MessageRowWidget form;
  form.setupUi(widget);
  form.labelTitle->setFont(Fonts::Get(Fonts::Bold, 18));
  form.labelTitle->setTextFormat(Qt::PlainText);
  form.labelTitle->setText(title);
  form.labelTitle->show();
  form.labelMessage->setFont(Fonts::Get(Fonts::Regular, 12));
  form.labelMessage->setTextFormat(Qt::PlainText);
  form.labelMessage->setText(message);
  form.labelMessage->show();
  PlaceRow(row, widget, widget->height());
}

void MainWindow::AddMapRow(int row, const MapInfo& mapInfo)
{
  auto* widget = new TableRow(mapInfo, this);
  connect(widget, &TableRow::ResetMapButtonClicked, this,
          [this](const MapInfo& clicked) { OnResetMapButtonClicked(clicked); });
  connect(widget, &TableRow::DiscardMapButtonClicked, this, &MainWindow::ShowDiscardUpdateMessage);
  PlaceRow(row, widget, widget->height());
}

void MainWindow::SetRootMaps(const std::unordered_map<std::string, MapInfo>& maps)
{
  LOG(Debug) << "Setting: " << maps.size() << " root maps";
  screens.settingsScreen->UpdateSubscription();
  ui->widgetFooter->UpdateState();
  InitTable();
  AddTitleRow(0, QCoreApplication::translate("global", "Available maps"));
  int row = 1;
  for (const auto& entry : GetSortedMaps(maps))
    AddMapRow(row++, entry.second);
  SetScreen(ScreenIndex::MapUpdates);
}

void MainWindow::SetOptionalMap(const MapInfo& mapInfo)
{
  LOG(Debug) << "Setting optional map: " << mapInfo.id;
  screens.settingsScreen->UpdateSubscription();
  ui->widgetFooter->UpdateState();
  InitTable();
  AddTitleRow(0, QCoreApplication::translate("global", "Available maps"));
  AddMessageRow(1, QCoreApplication::translate("global", "No maps available"),
                QCoreApplication::translate("global", "Available map updates already downloaded."));
  AddTitleRow(2, QCoreApplication::translate("global", "Optional map updates"));
  AddMapRow(3, mapInfo);
  SetScreen(ScreenIndex::MapUpdates);
}

void MainWindow::SetPendingMap(const MapInfo& mapInfo)
{
  LOG(Debug) << "Setting pending map: " << mapInfo.id;
  ui->widgetFooter->UpdateState();
  InitTable();
  AddTitleRow(0, QCoreApplication::translate("global", "Pending map updates"));
  AddMapRow(1, mapInfo);
  SetScreen(ScreenIndex::MapUpdates);
}

// ---------------------------------------------------------------------------
// Messages on the maps page

void MainWindow::Wire(MessageScreen* screen, const std::function<void()>& first,
                      const std::function<void()>& second)
{
  // Also the connections made with a function object and this window as
  // context. A reaction that is running now stays alive until it returns.
  disconnect(screen, nullptr, this, nullptr);
  connect(screen, &MessageScreen::FirstButtonClicked, this, first);
  if (second)
    connect(screen, &MessageScreen::SecondButtonClicked, this, second);
}

void MainWindow::PutMapsMessage(MessageScreen::Type type, const std::function<void()>& first,
                                const std::function<void()>& second)
{
  screens.mapsMessageScreen->Init(type);
  Wire(screens.mapsMessageScreen, first, second);
  SetScreen(ScreenIndex::Message);
}

void MainWindow::SetMandatoryMap(const MapInfo& mapInfo)
{
  LOG(Debug) << "Setting mandatory map: " << mapInfo.id;
  screens.settingsScreen->UpdateSubscription();
  ui->widgetFooter->UpdateState();
  if (!mapInfo.Valid()) {
    LOG(Warning) << "No mandatory map to ask for";
    return;
  }
  screens.mapsMessageScreen->Init(MessageScreen::MapUpdate, mapInfo);
  const MapInfo::Id id = mapInfo.id;
  Wire(screens.mapsMessageScreen, [this, id] { OnStartMapDownload(id); });
  SetScreen(ScreenIndex::Message);
}

void MainWindow::SetDownloadingMap(const MapInfo& mapInfo)
{
  LOG(Debug) << "Setting downloading map: " << mapInfo.id;
  ui->widgetFooter->UpdateState();
  PutMapsMessage(MessageScreen::MapDownload, [this] { ShowStopDownloadMessage(); });
}

void MainWindow::SetDeletingMap(const MapInfo& mapInfo)
{
  LOG(Debug) << "Setting deleting map: " << mapInfo.id;
  ui->widgetFooter->UpdateState();
  // The removal's progress has no buttons: the wiring of the page before
  // cannot be reached and stays as it is.
  screens.mapsMessageScreen->Init(MessageScreen::MapDelete);
  SetScreen(ScreenIndex::Message);
}

void MainWindow::SetSubscriptionExpired()
{
  LOG(Debug) << "Showing subscription expired message";
  screens.settingsScreen->UpdateSubscription();
  PutMapsMessage(MessageScreen::SubscriptionExpired, [this] { OnRestoreMap(); });
}

void MainWindow::SetNoConnection()
{
  LOG(Debug) << "Showing no connection message";
  PutMapsMessage(
      MessageScreen::NoConnection, [this] { RetryMapDownload(); }, [this] { ShowStopDownloadMessage(); });
}

void MainWindow::SetServerError()
{
  LOG(Debug) << "Showing server error message";
  PutMapsMessage(
      MessageScreen::ServerError, [this] { RetryMapDownload(); }, [this] { ShowStopDownloadMessage(); });
}

void MainWindow::SetUsbBlocked()
{
  LOG(Debug) << "Showing usb blocked message";
  PutMapsMessage(MessageScreen::UsbBlocked, [this] { CancelMapDownload(); });
}

void MainWindow::SetUsbFull()
{
  LOG(Debug) << "Showing usb full message";
  PutMapsMessage(MessageScreen::UsbFull, [this] { CancelMapDownload(); });
}

void MainWindow::SetUsbTooSmall(const MapInfo& mapInfo)
{
  LOG(Debug) << "Showing usb too small message";
  if (!mapInfo.Valid()) {
    LOG(Warning) << "No downloading map to show the needed space of";
    return;
  }
  screens.mapsMessageScreen->Init(MessageScreen::UsbTooSmall, mapInfo);
  Wire(screens.mapsMessageScreen, [this] { CancelMapDownload(); });
  SetScreen(ScreenIndex::Message);
}

void MainWindow::SetNoUsb()
{
  LOG(Debug) << "Showing no usb message";
  PutMapsMessage(MessageScreen::NoUsb, [this] { ShowMapUpdatesScreen(); });
}

void MainWindow::ShowStopDownloadMessage()
{
  LOG(Debug) << "Showing stop download message";
  screens.mapsMessageScreen->Init(MessageScreen::StopDownload);
  Wire(
      screens.mapsMessageScreen, [this] { CancelMapDownload(); }, [this] { OnReturnToStateScreen(); });
  ShowMapMessageScreen();
}

void MainWindow::ShowUpdateMapMessage(const MapInfo& mapInfo)
{
  LOG(Debug) << "Showing update map message";
  if (!mapInfo.Valid()) {
    LOG(Warning) << "Not asking to download a map that is not valid";
    return;
  }
  screens.mapsMessageScreen->Init(MessageScreen::MapUpdate, mapInfo);
  const MapInfo::Id id = mapInfo.id;
  Wire(
      screens.mapsMessageScreen, [this, id] { OnStartMapDownload(id); },
      [this] { OnReturnToPreviousScreen(); });
  ShowMapMessageScreen();
}

void MainWindow::ShowDiscardUpdateMessage()
{
  LOG(Debug) << "Showing discard update message";
  screens.mapsMessageScreen->Init(MessageScreen::DiscardUpdate);
  Wire(
      screens.mapsMessageScreen, [this] { CancelMapDownload(); }, [this] { OnReturnToPreviousScreen(); });
  ShowMapMessageScreen();
}

// ---------------------------------------------------------------------------
// Requests to the state machine

void MainWindow::OnStartMapDownload(const MapInfo::Id& mapId)
{
  LOG(Debug) << "Starting map download";
  if (mapId.empty()) {
    LOG(Warning) << "Not starting a download without a map id";
    return;
  }
  // The machine may rewire this screen during the emission; the id is a
  // copy of this reaction's own.
  const MapInfo::Id id = mapId;
  emit iui.DownloadMap(id);
}

void MainWindow::OnRestoreMap()
{
  const MapInfo installed = InstalledMap();
  if (!installed.Valid() || installed.id.empty()) {
    LOG(Warning) << "No installed map to restore";
    return;
  }
  OnStartMapDownload(installed.id);
}

void MainWindow::CancelMapDownload()
{
  LOG(Debug) << "Canceling map download";
  // The machine ends a running removal on a second cancellation as if it had
  // finished: one request per state, none while the removal runs.
  if (cancelSent || state == State::CancelDownload) {
    LOG(Warning) << "Map download cancellation already requested";
    return;
  }
  cancelSent = true;
  emit iui.CancelDownload();
}

void MainWindow::RetryMapDownload()
{
  LOG(Debug) << "Retrying map download";
  const QPointer<MainWindow> alive(this);
  emit iui.Retry();
  if (!alive)
    return;
  if (Record(state).mapUpdatesEnabled)
    ShowMapMessageScreen();
}

void MainWindow::OnResetMapButtonClicked(const MapInfo& mapInfo)
{
  if (UsbStorage::Get().Empty())
    SetNoUsb();
  else
    ShowUpdateMapMessage(mapInfo);
}

void MainWindow::OnReturnToPreviousScreen()
{
  LOG(Debug) << "Returning to previous screen";
  SetScreen(previousScreen == ScreenIndex::None ? ScreenIndex::MapUpdates : previousScreen);
}

void MainWindow::OnReturnToStateScreen()
{
  LOG(Debug) << "Returning to previous screen";
  const std::function<void()> action = Record(state).action;
  if (action)
    action();
  // A state that puts nothing on the message screen (the download has ended
  // meanwhile) would leave the answered question on show.
  if (currentScreen == ScreenIndex::Message &&
      screens.mapsMessageScreen->CurrentType() == MessageScreen::StopDownload)
    SetScreen(ScreenIndex::MapUpdates);
}

// ---------------------------------------------------------------------------
// Questions on the message page

void MainWindow::ShowQuitApplicationMessage()
{
  LOG(Debug) << "Showing quit application confirmation message";
  MessageScreen* screen = screens.messageScreen;
  // Asked again while on show, the question keeps the page it returns to.
  const bool onShow = isVisible() && currentPage == PageIndex::Message &&
                      screen->CurrentType() == MessageScreen::QuitApplication;
  if (!onShow) {
    quitReturnHidden = !isVisible();
    // A window hidden by Hide remembers its page as the previous one.
    quitReturnPage = currentPage == PageIndex::None ? previousPage : currentPage;
  }

  screen->Init(MessageScreen::QuitApplication);
  ui->pushButtonMapUpdates->setEnabled(false);
  ui->pushButtonSettings->setEnabled(false);
  Wire(
      screen, [this] { OnQuitMessageBack(); }, [this] { OnQuitConfirmed(); });
  ShowMessagePage();
}

void MainWindow::OnQuitMessageBack()
{
  LOG(Debug) << "Returning to previous screen";
  EnableHeaderButtons(Record(state));
  // The message page holds the answered question now: back to a page that
  // can be worked on.
  if (quitReturnPage == PageIndex::Settings)
    ShowSettingsPage();
  else
    ShowMapsPage();
  if (quitReturnHidden)
    Hide();
}

void MainWindow::OnQuitConfirmed()
{
  LOG(Debug) << "Quitting application";
  emit iui.ForcedQuit();
}

void MainWindow::ShowDiscardSettingsMessage(bool forced)
{
  LOG(Debug) << "Showing discard settings message";
  screens.messageScreen->Init(MessageScreen::SaveSettings);
  Wire(
      screens.messageScreen, [this, forced] { OnDiscardSettingsConfirmed(forced); },
      [this] { ShowSettingsPage(); });
  ShowMessagePage();
}

void MainWindow::OnDiscardSettingsConfirmed(bool forced)
{
  screens.settingsScreen->RestoreSettings();
  ui->pushButtonSettings->setChecked(false);
  // Never hidden: the user is looking at the window.
  if (forced) {
    LOG(Debug) << "Returning to map page";
    ShowMapsPage();
  } else {
    LOG(Debug) << "Returning to settings page";
    ShowSettingsPage();
  }
}

// ---------------------------------------------------------------------------
// Header, settings screen and popup

void MainWindow::OnSettingsCancel()
{
  LOG(Debug) << "Cancel button clicked";
  ShowDiscardSettingsMessage(false);
}

void MainWindow::OnMapUpdatesClicked()
{
  LOG(Debug) << "Map Updates tab clicked";
  if (screens.settingsScreen->SettingsChanged())
    ShowDiscardSettingsMessage(true);
  else
    ShowMapsPage();
}

void MainWindow::OnSettingsClicked()
{
  LOG(Debug) << "Settings button clicked";
  ShowSettingsPage();
}

void MainWindow::OnHelpClicked()
{
  LOG(Debug) << "Help button clicked";
  PopupClicked(PopupLink::ShowHelp);
}

void MainWindow::PopupClicked(PopupLink link)
{
  LOG(Info) << "Popup link: " << link << " clicked";
  switch (link) {
  case PopupLink::Dismiss:
    CancelMapDownload();
    break;
  case PopupLink::ShowHelp:
    OpenLink(Config::get().helpLink());
    break;
  case PopupLink::ManageMaps:
    if (screens.settingsScreen->SettingsChanged())
      ShowDiscardSettingsMessage(true);
    else
      ShowMapsPage();
    break;
  case PopupLink::Retry:
    RetryMapDownload();
    break;
  case PopupLink::Blank:
  case PopupLink::Continue:
    break;
  }
}

namespace {

const EnumName<MainWindow::PageIndex> PageNames[] = {
    ENUM_NAME(MainWindow::PageIndex, None), ENUM_NAME(MainWindow::PageIndex, Maps),
    ENUM_NAME(MainWindow::PageIndex, Settings), ENUM_NAME(MainWindow::PageIndex, Message)};

const EnumName<MainWindow::ScreenIndex> ScreenNames[] = {ENUM_NAME(MainWindow::ScreenIndex, None),
                                                         ENUM_NAME(MainWindow::ScreenIndex, MapUpdates),
                                                         ENUM_NAME(MainWindow::ScreenIndex, Message)};

} // namespace

std::ostream& operator<<(std::ostream& os, MainWindow::PageIndex page)
{
  return WriteName(os, page, PageNames);
}

std::ostream& operator<<(std::ostream& os, MainWindow::ScreenIndex screen)
{
  return WriteName(os, screen, ScreenNames);
}

} // namespace Ui
