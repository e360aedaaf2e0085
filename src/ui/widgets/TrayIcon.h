#pragma once

#include "ui/State.h"

#include <QMap>
#include <QMenu>
#include <QObject>
#include <QRect>
#include <QString>
#include <QSystemTrayIcon>

#include <functional>

class QAction;

namespace Ui {

class IUi;

// The application's icon in the system tray: its picture and tooltip show the
// current UI state, its menu opens the application or its settings, or quits.
// It works also where no tray is available (the icon is then not on show).
// Main thread only.
class TrayIcon : public QObject
{
  Q_OBJECT

public:
  // What the tray shows for one state. `text` is a translation source of the
  // context "global"; `refresh`, when set, runs before the record is applied
  // and may change the stored record.
  struct StateData
  {
    QString icon;
    const char* text = "";
    bool openEnabled = true;
    bool settingsEnabled = true;
    std::function<void()> refresh;
  };

  // `ui` receives "Quit" and announces language changes. The icon stays
  // hidden until the first state is set.
  TrayIcon(IUi& userInterface, QObject* parent = nullptr);
  ~TrayIcon() override;

  // Shows `state` in the picture, the tooltip and the menu's enabled entries.
  void SetState(State newState);
  // The icon's rectangle on the screen; invalid where the tray cannot tell.
  QRect Geometry() const;
  // The resource path of the picture on show (empty before the first state).
  const QString& IconPath() const { return iconPath; }

signals:
  void Clicked();
  void OpenApplicationClicked();
  void SettingsClicked();
  // The icon's menu is about to open.
  void MenuAboutToShow();

public slots:
  void RetranslateUi();
  void CreateStateData();

private:
  IUi& ui;
  // The menu is declared first so that the icon, which refers to it, goes first.
  QMenu menu;
  QSystemTrayIcon trayIcon;
  QMap<int, QAction*> actions;
  State state = State::Unknown;
  QMap<State, StateData> stateData;
  QString iconPath;
};

} // namespace Ui
