#pragma once

#include "ui/PopupLink.h"
#include "ui/State.h"

#include <QDialog>
#include <QRect>

#include <iosfwd>
#include <map>
#include <optional>

class QEvent;
class QScreen;
class QTimer;
class Ui_PopupDialog;

// Writes a rectangle for the log as [(left,top),(right,bottom)].
std::ostream& operator<<(std::ostream& os, const QRect& rect);

namespace Ui {

class IUi;

// The small frameless window under the tray icon: a status block about the
// USB stick, a title, an icon, a short text and one link for the current UI
// state. It shows itself for most states, stays 5 seconds after the pointer
// has left it, then fades out; it stays above other windows. It never takes
// the keyboard, and its link answers a click alone. Main thread only.
class Popup : public QDialog
{
  Q_OBJECT

public:
  // What the popup shows for one state. Texts are translation sources of the
  // context "global", translated each time they are shown; an empty text or
  // icon path hides its widget. Frame counts go to DynamicIcon::Init.
  struct StateData
  {
    const char* statusTitle;
    const char* statusText;
    const char* statusStyle;
    const char* statusIcon;
    unsigned int statusFrames = 1;
    const char* contentTitle = "";
    const char* contentIcon = "";
    unsigned int contentFrames = 0;
    const char* contentText = "";
    const char* linkText = "";
    PopupLink linkId = PopupLink::Blank;

    StateData();
  };

  // How long the popup stays after the pointer left it, and the interval of
  // the fade-out's steps.
  struct Timing
  {
    int leaveMs = 5000;
    int fadeIntervalMs = 50;
  };

  // `ui` announces language changes; `parent` is the main window. The popup
  // starts hidden with no state rendered.
  Popup(IUi& ui, QWidget* parent);
  ~Popup() override;

  // Shows the popup and raises it, leaving the keyboard where it is; does not
  // move it.
  void Activate();
  // Renders `state` and shows the popup unless the state is a quiet one. While
  // the message about a stick removed during its use is on show, other states
  // are ignored until a stick with metadata is active, a download starts or
  // the user clicks "Continue".
  void SetState(State newState);
  // Shows or hides the stick status block for the active stick and the stored
  // state, then fits the popup's height to its content.
  void UpdateUsbs();
  // Places the popup below the tray icon's rectangle (above it when the icon
  // is in the lower half of the screen), kept inside the screen's available
  // area. Without a rectangle (many Linux trays cannot tell where their icon
  // is) the popup hangs from the pointer, or else from the top-right corner,
  // and stays where it is for as long as it is shown.
  void SetGeometry(const QRect& trayRect);

  State CurrentState() const { return state; }
  void SetTiming(Timing newTiming) { timing = newTiming; }

  void setVisible(bool visible) override;

signals:
  // The user clicked the link. A link that asks the machine for something
  // (Dismiss, Retry, Continue) sends one signal until the next state.
  void LinkClicked(PopupLink link);

public slots:
  void RetranslateUi();

protected:
  void enterEvent(QEvent* event) override;
  void leaveEvent(QEvent* event) override;

private slots:
  void OnFadeTimeout();
  void OnLinkButtonClicked();

private:
  void CreateStateData();
  StateData Data(State of) const;
  void StartLeaveTimer();
  void StartFadeTimer();
  std::optional<QRect> PointerAnchor() const;
  QRect Place(const QRect& anchorRect, const QScreen* screen) const;

  Ui_PopupDialog* form;
  State state = State::Unknown;
  std::map<State, StateData> stateData;
  QTimer* leaveTimer;
  QTimer* fadeTimer;
  bool pointerOver = false;
  Timing timing;
  // Where the popup hangs from when the tray cannot tell its icon's place;
  // taken once per showing, so that the popup does not follow the pointer.
  std::optional<QRect> anchor;
  bool anchorTaken = false;
};

} // namespace Ui
