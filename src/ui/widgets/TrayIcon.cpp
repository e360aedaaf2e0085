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

TrayIcon::TrayIcon(IUi& userInterface, QObject* parent) : QObject(parent), ui(userInterface), trayIcon(this)
{
  QList<QAction*> entries;
  for (int key : {OpenEntry, SettingsEntry, QuitEntry}) {
    auto* action = new QAction(Translate(MenuTexts[key]), &menu);
    actions.insert(key, action);
    switch (key) {
    case OpenEntry:
      connect(action, &QAction::triggered, this, &TrayIcon::OpenApplicationClicked);
      break;
    case SettingsEntry:
      connect(action, &QAction::triggered, this, &TrayIcon::SettingsClicked);
      break;
    default:
      connect(action, &QAction::triggered, &ui, &IUi::Quit);
      break;
    }
    entries.append(action);
  }
  menu.addActions(entries);
  connect(&menu, &QMenu::aboutToShow, this, &TrayIcon::MenuAboutToShow);
  trayIcon.setContextMenu(&menu);

  connect(&ui, &IUi::UpdateLocale, this, &TrayIcon::RetranslateUi);
  connect(&trayIcon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::Trigger)
      emit Clicked();
  });

  CreateStateData();
}

TrayIcon::~TrayIcon() = default;

void TrayIcon::CreateStateData()
{
  auto set = [this](State key, int picture, const char* text, bool open = true, bool settings = true) {
    StateData& data = stateData[key];
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
  for (State key : {State::NoConnection, State::ServerError})
    stateData[key].refresh = [this, key] { stateData[key].openEnabled = DownloadingMap().Valid(); };
}

void TrayIcon::SetState(State newState)
{
  if (newState != state) {
    LOG(Debug) << "Changing state from: " << state << " to: " << newState;
    state = newState;
  }
  StateData data = stateData.value(newState);
  if (data.refresh) {
    data.refresh();
    data = stateData.value(newState);
  }
  iconPath = data.icon;
  trayIcon.setIcon(data.icon.isEmpty() ? QIcon() : QIcon(data.icon));
  trayIcon.setToolTip(Config::get().appName + QStringLiteral("\r\n") + Translate(data.text));
  trayIcon.show();
  actions[OpenEntry]->setEnabled(data.openEnabled);
  actions[SettingsEntry]->setEnabled(data.settingsEnabled);
}

QRect TrayIcon::Geometry() const
{
  return trayIcon.geometry();
}

void TrayIcon::RetranslateUi()
{
  LOG(Debug) << "Retranslating tray icon's strings";
  for (auto entry = actions.cbegin(); entry != actions.cend(); ++entry)
    entry.value()->setText(Translate(MenuTexts[entry.key()]));
  SetState(state);
}

} // namespace Ui
