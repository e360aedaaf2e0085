#include "ui/Ui.h"

#include "Log.h"
#include "ui/widgets/MainWindow.h"
#include "ui/widgets/Popup.h"
#include "ui/widgets/TrayIcon.h"

#include <QApplication>
#include <QSystemTrayIcon>

namespace Ui {

Ui::Ui() : Ui(QSystemTrayIcon::isSystemTrayAvailable()) {}

Ui::Ui(bool trayAvailable)
    : IUi(nullptr), mainWindow(std::make_unique<MainWindow>(*this, nullptr)),
      popup(std::make_unique<Popup>(*this, mainWindow.get())),
      trayIcon(std::make_unique<TrayIcon>(*this, this)), trayAvailable(trayAvailable)
{
  RegisterMetaTypes();
  Connect();
  if (!trayAvailable) {
    LOG(Warning)
        << "No system tray available: the main window stays open and closing it quits the application";
    mainWindow->SetStandalone(true);
    // The popup has no icon to hang from: it follows no state and no change
    // of language (which would show it) until a tray turns up and its icon
    // is clicked.
    disconnect(this, &IUi::UpdateLocale, popup.get(), nullptr);
  }
}

Ui::~Ui()
{
  // The tray icon first, then the popup, then its parent, the main window.
  trayIcon.reset();
  popup.reset();
  mainWindow.reset();
}

void Ui::Connect()
{
  connect(this, &IUi::UpdateLocale, this, &Ui::RetranslateUi);
  connect(trayIcon.get(), &TrayIcon::Clicked, this, &Ui::TrayIconClicked);
  // The icon's menu takes the popup's place: window managers that keep
  // stay-on-top windows above all others would leave the menu under the
  // popup, where it still takes the next click.
  connect(trayIcon.get(), &TrayIcon::MenuAboutToShow, popup.get(), &QWidget::hide);
  connect(trayIcon.get(), &TrayIcon::OpenApplicationClicked, mainWindow.get(), &MainWindow::Show);
  connect(trayIcon.get(), &TrayIcon::SettingsClicked, mainWindow.get(), &MainWindow::ShowSettingsPage);
  connect(popup.get(), &Popup::LinkClicked, mainWindow.get(),
          [this](PopupLink link) { OnPopupLinkClicked(link); });
  connect(qApp, &QGuiApplication::applicationStateChanged, this,
          [this](Qt::ApplicationState state) { OnApplicationStateChanged(state); });
}

void Ui::OnPopupLinkClicked(PopupLink link)
{
  // Continue lifts the popup's hold on the removed-stick message: every
  // part shows the current state again.
  if (link == PopupLink::Continue)
    SetState(currentState);
  mainWindow->PopupClicked(link);
}

void Ui::OnApplicationStateChanged(Qt::ApplicationState state)
{
  if (state != Qt::ApplicationActive)
    return;
  // On X11 the application turns active because one of its own windows took
  // the focus: the main window the user clicked or the tray's menu (the popup
  // never takes it). Showing the popup then would cover what the user is
  // working in, so only an activation that comes without a window of ours
  // brings one forward.
  if (QGuiApplication::focusWindow() || QApplication::activeWindow() || QApplication::activePopupWidget())
    return;
  Activate();
}

void Ui::Activate()
{
  LOG(Debug) << "Activating application";
  // A closed window keeps its minimised or maximised state while hidden: it
  // is brought forward like any other hidden window, below.
  const Qt::WindowStates state = mainWindow->windowState();
  if (mainWindow->isVisible() && (state & Qt::WindowMinimized)) {
    mainWindow->setWindowState(Qt::WindowActive);
    mainWindow->raise();
    mainWindow->activateWindow();
    return;
  }
  if (mainWindow->isVisible() && (state & Qt::WindowMaximized)) {
    // Another program's window may cover it (a second start asks for it).
    mainWindow->raise();
    mainWindow->activateWindow();
    return;
  }
  if (trayAvailable)
    popup->Activate();
  else
    mainWindow->Show();
}

void Ui::SetState(State state)
{
  if (state != currentState) {
    LOG(Info) << "Changing state from: " << currentState << " to: " << state;
    currentState = state;
  }
  mainWindow->SetState(state);
  trayIcon->SetState(state);
  if (!trayAvailable) {
    KeepWindowShown();
    return;
  }
  popup->SetState(state);
  PlacePopup();
}

void Ui::UpdateUsbs()
{
  mainWindow->UpdateUsbs();
  if (!trayAvailable)
    return;
  popup->UpdateUsbs();
  PlacePopup();
}

void Ui::ConfirmQuit()
{
  mainWindow->ShowQuitApplicationMessage();
}

void Ui::RetranslateUi()
{
  if (trayAvailable)
    PlacePopup();
}

void Ui::TrayIconClicked()
{
  if (popup->isVisible()) {
    LOG(Info) << "Hiding popup dialog";
    popup->hide();
    return;
  }
  LOG(Info) << "Showing popup dialog";
  // A tray that came up after the start: the popup has followed neither the
  // states nor the language so far.
  if (!trayAvailable)
    popup->SetState(currentState);
  popup->show();
  PlacePopup();
  popup->raise();
}

void Ui::PlacePopup()
{
  popup->SetGeometry(trayIcon->Geometry());
}

void Ui::KeepWindowShown()
{
  if (mainWindow->isVisible())
    return;
  mainWindow->Show();
}

} // namespace Ui
