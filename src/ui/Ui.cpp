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
    : IUi(nullptr), mainWindow_(std::make_unique<MainWindow>(*this, nullptr)),
      popup_(std::make_unique<Popup>(*this, mainWindow_.get())),
      trayIcon_(std::make_unique<TrayIcon>(*this, this)), trayAvailable_(trayAvailable)
{
  RegisterMetaTypes();
  Connect();
  if (!trayAvailable_) {
    LOG(Warning)
        << "No system tray available: the main window stays open and closing it quits the application";
    mainWindow_->SetStandalone(true);
    // The popup has no icon to hang from: it follows no state and no change
    // of language (which would show it) until a tray turns up and its icon
    // is clicked.
    disconnect(this, &IUi::UpdateLocale, popup_.get(), nullptr);
  }
}

Ui::~Ui()
{
  // The tray icon first, then the popup, then its parent, the main window.
  trayIcon_.reset();
  popup_.reset();
  mainWindow_.reset();
}

void Ui::Connect()
{
  connect(this, &IUi::UpdateLocale, this, &Ui::RetranslateUi);
  connect(trayIcon_.get(), &TrayIcon::Clicked, this, &Ui::TrayIconClicked);
  // The icon's menu takes the popup's place: window managers that keep
  // stay-on-top windows above all others would leave the menu under the
  // popup, where it still takes the next click.
  connect(trayIcon_.get(), &TrayIcon::MenuAboutToShow, popup_.get(), &QWidget::hide);
  connect(trayIcon_.get(), &TrayIcon::OpenApplicationClicked, mainWindow_.get(), &MainWindow::Show);
  connect(trayIcon_.get(), &TrayIcon::SettingsClicked, mainWindow_.get(), &MainWindow::ShowSettingsPage);
  connect(popup_.get(), &Popup::LinkClicked, mainWindow_.get(),
          [this](PopupLink link) { OnPopupLinkClicked(link); });
  connect(qApp, &QGuiApplication::applicationStateChanged, this,
          [this](Qt::ApplicationState state) { OnApplicationStateChanged(state); });
}

void Ui::OnPopupLinkClicked(PopupLink link)
{
  // Continue lifts the popup's hold on the removed-stick message: every
  // part shows the current state again.
  if (link == PopupLink::Continue)
    SetState(state_);
  mainWindow_->PopupClicked(link);
}

void Ui::OnApplicationStateChanged(Qt::ApplicationState state)
{
  if (state != Qt::ApplicationActive)
    return;
  // On X11 the application turns active because one of its own windows took
  // the focus: the main window the user clicked, the popup or the tray's
  // menu. Showing the popup then would cover what the user is working in, so
  // only an activation that comes without a window of ours brings one forward.
  if (QGuiApplication::focusWindow() || QApplication::activeWindow() || QApplication::activePopupWidget())
    return;
  Activate();
}

void Ui::Activate()
{
  LOG(Debug) << "Activating application";
  const Qt::WindowStates state = mainWindow_->windowState();
  if (state & Qt::WindowMinimized) {
    mainWindow_->setWindowState(Qt::WindowActive);
    mainWindow_->raise();
    mainWindow_->activateWindow();
    return;
  }
  if (state & Qt::WindowMaximized)
    return;
  if (trayAvailable_)
    popup_->Activate();
  else
    mainWindow_->Show();
}

void Ui::SetState(State state)
{
  if (state != state_) {
    LOG(Info) << "Changing state from: " << state_ << " to: " << state;
    state_ = state;
  }
  mainWindow_->SetState(state);
  trayIcon_->SetState(state);
  if (!trayAvailable_) {
    KeepWindowShown();
    return;
  }
  popup_->SetState(state);
  PlacePopup();
}

void Ui::UpdateUsbs()
{
  mainWindow_->UpdateUsbs();
  if (!trayAvailable_)
    return;
  popup_->UpdateUsbs();
  PlacePopup();
}

void Ui::ConfirmQuit()
{
  mainWindow_->ShowQuitApplicationMessage();
}

void Ui::RetranslateUi()
{
  if (trayAvailable_)
    PlacePopup();
}

void Ui::TrayIconClicked()
{
  if (popup_->isVisible()) {
    LOG(Info) << "Hiding popup dialog";
    popup_->hide();
    return;
  }
  LOG(Info) << "Showing popup dialog";
  // A tray that came up after the start: the popup has followed neither the
  // states nor the language so far.
  if (!trayAvailable_)
    popup_->SetState(state_);
  popup_->show();
  popup_->activateWindow();
  PlacePopup();
  popup_->raise();
}

void Ui::PlacePopup()
{
  popup_->SetGeometry(trayIcon_->Geometry());
}

void Ui::KeepWindowShown()
{
  if (mainWindow_->isVisible())
    return;
  mainWindow_->Show();
}

} // namespace Ui
