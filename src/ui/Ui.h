#pragma once

#include "ui/IUi.h"

#include <memory>

namespace Ui {

class MainWindow;
class Popup;
class TrayIcon;

// The user interface the state machine drives: it owns the main window, the
// popup and the tray icon, passes every state to all three, keeps the popup
// under the tray icon, toggles the popup when the icon is clicked and brings
// the right window forward when the application is activated.
//
// Without a system tray at start (many Linux desktops have none) the main
// window is the whole interface: it is shown with the first state and never
// hidden, closing it asks to quit through Quit (so a stick in use is still
// asked about), and the popup, which has no icon to hang from, stays away.
// Main thread only.
class Ui : public IUi
{
public:
  // Looks whether the desktop offers a system tray.
  Ui();
  // With a tray or without one, whatever the desktop offers (tests).
  explicit Ui(bool trayAvailable);
  ~Ui() override;

  // Brings the application's window forward: a minimized main window is
  // restored, a maximized one left alone, otherwise the popup is shown.
  // Without a tray the main window comes forward instead of the popup.
  void Activate() override;
  // Passes the state to the main window, the tray icon and the popup, in
  // that order, also when it is the state shown already, then places the
  // popup under the tray icon again.
  void SetState(State state) override;
  // Refreshes the main window's and the popup's stick displays.
  void UpdateUsbs() override;
  // Asks whether to quit on the main window.
  void ConfirmQuit() override;

  // After a change of language: places the popup again.
  void RetranslateUi();
  // Shows the popup under the tray icon, or hides it when it is shown.
  void TrayIconClicked();

  bool TrayAvailable() const { return trayAvailable; }
  State CurrentState() const { return currentState; }
  MainWindow& Window() const { return *mainWindow; }
  Popup& PopupWindow() const { return *popup; }
  TrayIcon& Tray() const { return *trayIcon; }

private:
  void Connect();
  void PlacePopup();
  // Without a tray the main window is on show from the first state on.
  void KeepWindowShown();
  void OnPopupLinkClicked(PopupLink link);
  void OnApplicationStateChanged(Qt::ApplicationState state);

  std::unique_ptr<MainWindow> mainWindow;
  std::unique_ptr<Popup> popup;
  std::unique_ptr<TrayIcon> trayIcon;
  State currentState = State::Unknown;
  const bool trayAvailable;
};

} // namespace Ui
