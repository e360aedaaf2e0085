#pragma once

#include "fmu/MapInfo.h"
#include "ui/PopupLink.h"
#include "ui/State.h"
#include "ui/widgets/MessageScreen.h"

#include <QDialog>
#include <QMap>
#include <QPixmap>
#include <QString>

#include <functional>
#include <iosfwd>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

class QCloseEvent;
class Ui_MainWindowDialog;

namespace Ui {

class IUi;
class SettingsScreen;

// The maps of a table from map id to map, in ascending byte order of their
// regions (an upper-case region before a lower-case one, an empty region
// first). Maps of the same region come in no particular order.
std::vector<std::pair<std::string, MapInfo>>
GetSortedMaps(const std::unordered_map<std::string, MapInfo>& maps);

// The application's window: a header with the map-updates tab and the
// settings and help buttons, a stack of three pages and the footer with the
// stick and head-unit gauges. The maps page shows a notification banner above
// either the map list or a message screen; the settings page holds the
// settings screen; the message page a second message screen for the quit and
// discard-settings questions.
//
// The state machine reaches it through the facade: SetState renders a UI state
// (banner, header buttons and the maps page's content, from a table built at
// construction), also when the state is the one shown already. The user's
// requests leave only as signals of the IUi it was built with. Every function
// that wires a message screen's buttons first drops what the screen was wired
// to, so one click emits one signal however often a state was set. A signal to
// the machine may change the state, or end the machine and delete the window,
// before the emission returns: nothing here touches the window after an
// emission without checking that it still exists. Main thread only.
class MainWindow : public QDialog
{
  Q_OBJECT

public:
  // The pages of the window, the index in its page stack.
  enum class PageIndex : int
  {
    None = -1,
    Maps = 0,
    Settings = 1,
    Message = 2
  };

  // The screens of the maps page, the index in its inner stack.
  enum class ScreenIndex : int
  {
    None = -1,
    MapUpdates = 0,
    Message = 1
  };

  // Builds the window hidden, with `ui` as the interface its requests go to.
  explicit MainWindow(IUi& ui, QWidget* parent = nullptr);
  ~MainWindow() override;

  // Asks whether to quit while the stick is in use: "Yes" emits ForcedQuit,
  // "No" goes back to the page shown before (the map list when that was no
  // page to work on) and hides a window that was hidden before.
  void ShowQuitApplicationMessage();
  // Asks the machine to cancel the download or throw away the downloaded map;
  // sent at most once per state, and never while the removal runs.
  void CancelMapDownload();
  // Asks the machine to retry after a failure; shows the maps page's message
  // when the state that follows keeps the map-updates tab enabled.
  void RetryMapDownload();

  // Without a system tray the window is the whole application: nothing hides
  // it (a state, an answered question, Escape), and closing it asks to quit
  // through IUi::Quit, so that a stick in use is still asked about.
  void SetStandalone(bool standalone) { this->standalone = standalone; }
  bool Standalone() const { return standalone; }

  PageIndex CurrentPage() const { return currentPage; }
  ScreenIndex CurrentScreen() const { return currentScreen; }
  State CurrentState() const { return state; }

public slots:
  // Shows the window, raises it and makes it the active one, unless it is
  // active already.
  void Show();
  void Hide();
  // Shows the window once more when a check hid it while it was on show, and
  // the result the check came to shows the maps page; once per such hiding.
  // SetState calls it for every state but those of a running check, so the
  // first result uses it up, also one that keeps the window hidden. A window
  // the user closed stays closed.
  void Reappear();
  void SetState(State state);
  // Refreshes the footer from the stick store.
  void UpdateUsbs();
  // Runs what a popup link (or the help button) asks for.
  void PopupClicked(PopupLink link);
  void ShowMapsPage();
  void ShowSettingsPage();
  void ShowMessagePage();
  // Asks whether to throw away unsaved settings. `forced`: the user was on
  // the way to the maps page (else the settings screen's Cancel asked).
  void ShowDiscardSettingsMessage(bool forced);

  void reject() override;

protected:
  void closeEvent(QCloseEvent* event) override;

private slots:
  void RetranslateUi();
  void ShowUpdateMapMessage(const MapInfo& mapInfo);
  void ShowStopDownloadMessage();
  void ShowDiscardUpdateMessage();

private:
  // The secondary screens, children of the window.
  struct Screens
  {
    Screens(IUi& ui, QWidget* parent);

    MessageScreen* mapsMessageScreen;
    MessageScreen* messageScreen;
    SettingsScreen* settingsScreen;
  };

  // What the window shows for one UI state. The texts are the untranslated
  // sources; the banner is shown when `text` is not empty.
  struct StateData
  {
    QString title;
    QString text;
    QPixmap icon;
    std::function<void()> action;
    bool mapUpdatesEnabled = true;
    bool settingsEnabled = true;
  };

  void CreateStateData();
  StateData Record(State state) const;
  void EnableHeaderButtons(const StateData& record);

  void SetPage(PageIndex page);
  void SetScreen(ScreenIndex screen);
  void InitTable();

  // The map list.
  void AddTitleRow(int row, const QString& title);
  void AddMessageRow(int row, const QString& title, const QString& message);
  void AddMapRow(int row, const MapInfo& mapInfo);
  void PlaceRow(int row, QWidget* widget, int height);

  // The maps page's content for a state.
  void SetRootMaps(const std::unordered_map<std::string, MapInfo>& maps);
  void SetOptionalMap(const MapInfo& mapInfo);
  void SetMandatoryMap(const MapInfo& mapInfo);
  void SetPendingMap(const MapInfo& mapInfo);
  void SetDownloadingMap(const MapInfo& mapInfo);
  void SetDeletingMap(const MapInfo& mapInfo);
  void SetSubscriptionExpired();
  void SetNoConnection();
  void SetServerError();
  void SetUsbBlocked();
  void SetUsbFull();
  void SetUsbTooSmall(const MapInfo& mapInfo);
  void SetNoUsb();

  void ShowMapUpdatesScreen();
  void ShowMapMessageScreen();
  // Replaces every reaction of a message screen's buttons by `first` and
  // `second` (none for an empty one).
  void Wire(MessageScreen* screen, const std::function<void()>& first,
            const std::function<void()>& second = {});
  // Puts a message that needs no map on the maps page's message screen with
  // the reactions of its buttons, and switches the maps page to it.
  void PutMapsMessage(MessageScreen::Type type, const std::function<void()>& first,
                      const std::function<void()>& second = {});

  // Reactions of the buttons.
  void OnResetMapButtonClicked(const MapInfo& mapInfo);
  void OnStartMapDownload(const MapInfo::Id& mapId);
  void OnRestoreMap();
  void OnReturnToPreviousScreen();
  void OnReturnToStateScreen();
  void OnQuitMessageBack();
  void OnQuitConfirmed();
  void OnDiscardSettingsConfirmed(bool forced);
  void OnSettingsCancel();
  void OnMapUpdatesClicked();
  void OnSettingsClicked();
  void OnHelpClicked();

  IUi& iui;
  Ui_MainWindowDialog* ui;
  Screens screens;
  PageIndex currentPage = PageIndex::None;
  PageIndex previousPage = PageIndex::None;
  ScreenIndex currentScreen = ScreenIndex::None;
  ScreenIndex previousScreen = ScreenIndex::None;
  State state = State::Unknown;
  QMap<State, StateData> stateData;
  // A cancellation went to the machine since the state last changed.
  bool cancelSent = false;
  // Where "No" on the quit question leads: the page shown when it was asked,
  // and whether the window was hidden then.
  PageIndex quitReturnPage = PageIndex::None;
  bool quitReturnHidden = false;
  bool standalone = false;
  // A check hid the window while it was on show: its result shows it again.
  bool reappear = false;
};

// Write the value's name ("None", "Maps", ...); any other value writes nothing.
std::ostream& operator<<(std::ostream& os, MainWindow::PageIndex page);
std::ostream& operator<<(std::ostream& os, MainWindow::ScreenIndex screen);

} // namespace Ui
