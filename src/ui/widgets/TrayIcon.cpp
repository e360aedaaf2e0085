#include "ui/widgets/TrayIcon.h"

#include "Log.h"
#include "cfg/Config.h"
#include "fmu/MapStorage.h"
#include "ui/IUi.h"

#include <QAction>
#include <QCoreApplication>
#include <QIcon>
#include <QList>

#include <map>

namespace Ui {

namespace {

enum MenuEntry : int
{
  OpenEntry = 0,
  SettingsEntry = 1,
  QuitEntry = 2
};

const char* const MenuTexts[] = {QT_TRANSLATE_NOOP("global", "Open application"),
                                 QT_TRANSLATE_NOOP("global", "Settings"),
                                 QT_TRANSLATE_NOOP("global", "Quit")};

enum Picture : int
{
  DefaultPicture = 0,
  AttentionPicture = 1,
  ProgressPicture = 2,
  FinishedPicture = 3
};

const std::map<int, QString> TrayIcons = {{DefaultPicture, QStringLiteral(":/icons/ic_osx_default.png")},
                                          {AttentionPicture, QStringLiteral(":/icons/ic_osx_attention.png")},
                                          {ProgressPicture, QStringLiteral(":/icons/ic_osx_progress.png")},
                                          {FinishedPicture, QStringLiteral(":/icons/ic_osx_finished.png")}};

QString Translate(const char* source)
{
  return QCoreApplication::translate("global", source);
}

} // namespace

TrayIcon::TrayIcon(IUi& ui, QObject* parent) : QObject(parent), ui_(ui), trayIcon_(this)
{
  QList<QAction*> entries;
  for (int key : {OpenEntry, SettingsEntry, QuitEntry}) {
    auto* action = new QAction(Translate(MenuTexts[key]), &menu_);
    actions_.insert(key, action);
    switch (key) {
    case OpenEntry:
      connect(action, &QAction::triggered, this, &TrayIcon::OpenApplicationClicked);
      break;
    case SettingsEntry:
      connect(action, &QAction::triggered, this, &TrayIcon::SettingsClicked);
      break;
    default:
      connect(action, &QAction::triggered, &ui_, &IUi::Quit);
      break;
    }
    entries.append(action);
  }
  menu_.addActions(entries);
  connect(&menu_, &QMenu::aboutToShow, this, &TrayIcon::MenuAboutToShow);
  trayIcon_.setContextMenu(&menu_);

  connect(&ui_, &IUi::UpdateLocale, this, &TrayIcon::RetranslateUi);
  connect(&trayIcon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::Trigger)
      emit Clicked();
  });

  CreateStateData();
}

TrayIcon::~TrayIcon() = default;

void TrayIcon::CreateStateData()
{
  auto set = [this](State state, int picture, const char* text, bool open = true, bool settings = true) {
    StateData& data = stateData_[state];
    data.icon = TrayIcons.at(picture);
    data.text = text;
    data.openEnabled = open;
    data.settingsEnabled = settings;
  };
  const char* const cannotWrite = QT_TRANSLATE_NOOP("global", "Cannot write to USB stick");
  const char* const updatesAvailable = QT_TRANSLATE_NOOP("global", "Map updates available");

  set(State::CancelDownload, ProgressPicture, QT_TRANSLATE_NOOP("global", "Cancelling download"), true,
      false);
  set(State::MandatoryUpdate, AttentionPicture, QT_TRANSLATE_NOOP("global", "Map update required"));
  set(State::MapDownload, ProgressPicture, QT_TRANSLATE_NOOP("global", "Downloading map"), true, false);
  set(State::MapUpdateCheck, ProgressPicture, QT_TRANSLATE_NOOP("global", "Checking for map updates"), false,
      false);
  set(State::MetadataCorrupt, AttentionPicture, QT_TRANSLATE_NOOP("global", "Cannot read from USB stick"),
      false);
  set(State::NoConnection, AttentionPicture,
      QT_TRANSLATE_NOOP("global", "Please check your internet connection"));
  set(State::NoSubscription, AttentionPicture,
      QT_TRANSLATE_NOOP("global", "Vehicle's navigation device not registered yet"), false);
  set(State::OptionalUpdate, DefaultPicture, updatesAvailable);
  set(State::PendingUpdate, FinishedPicture, QT_TRANSLATE_NOOP("global", "Map updates ready"));
  set(State::RootUpdate, DefaultPicture, updatesAvailable);
  set(State::ServerError, AttentionPicture, QT_TRANSLATE_NOOP("global", "Map update server error"));
  set(State::SubscriptionExpired, AttentionPicture,
      QT_TRANSLATE_NOOP("global", "Map update subscription expired"));
  set(State::UpToDate, DefaultPicture,
      QT_TRANSLATE_NOOP("global", "Your vehicle's navigation system is up to date"));
  set(State::UsbBlocked, AttentionPicture, cannotWrite);
  set(State::UsbCheck, ProgressPicture, QT_TRANSLATE_NOOP("global", "Checking data on USB stick"), true,
      false);
  set(State::UsbFull, AttentionPicture, cannotWrite);
  set(State::UsbRemoved, AttentionPicture,
      QT_TRANSLATE_NOOP("global", "The USB stick was removed while the application was accessing it"));
  set(State::UsbTooSmall, AttentionPicture, cannotWrite);

  // After a failed check there is nothing to open; after an interrupted
  // download the main window offers to retry or cancel it.
  for (State state : {State::NoConnection, State::ServerError})
    stateData_[state].refresh = [this, state] { stateData_[state].openEnabled = DownloadingMap().Valid(); };
}

void TrayIcon::SetState(State state)
{
  if (state != state_) {
    LOG(Debug) << "Changing state from: " << state_ << " to: " << state;
    state_ = state;
  }
  StateData data = stateData_.value(state);
  if (data.refresh) {
    data.refresh();
    data = stateData_.value(state);
  }
  iconPath_ = data.icon;
  trayIcon_.setIcon(data.icon.isEmpty() ? QIcon() : QIcon(data.icon));
  trayIcon_.setToolTip(Config::get().appName + QStringLiteral("\r\n") + Translate(data.text));
  trayIcon_.show();
  actions_[OpenEntry]->setEnabled(data.openEnabled);
  actions_[SettingsEntry]->setEnabled(data.settingsEnabled);
}

QRect TrayIcon::Geometry() const
{
  return trayIcon_.geometry();
}

void TrayIcon::RetranslateUi()
{
  LOG(Debug) << "Retranslating tray icon's strings";
  for (auto entry = actions_.cbegin(); entry != actions_.cend(); ++entry)
    entry.value()->setText(Translate(MenuTexts[entry.key()]));
  SetState(state_);
}

} // namespace Ui
