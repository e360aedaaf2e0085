#pragma once

#include "fmu/MapInfo.h"

#include <QTimer>
#include <QWidget>

class Ui_MessageScreenWidget;

namespace Ui {

class IUi;

// A full-page message: an icon, a bold title, a description and at most two
// buttons. The main window puts a question, an error, a notice or one of the
// two progress pages (download, removal) on it with Init and reacts to the
// button signals; the screen itself only disables its buttons on a click and
// emits the signal. The progress pages redraw themselves from the map store
// every 500 ms until no map is downloading (or being removed) any more.
class MessageScreen : public QWidget
{
  Q_OBJECT

public:
  enum Type
  {
    MapDelete = 0,
    DiscardUpdate = 1,
    SaveSettings = 2,
    MapDownload = 3,
    NoConnection = 5,
    NoUsb = 6,
    QuitApplication = 7,
    ServerError = 8,
    StopDownload = 9,
    SubscriptionExpired = 10,
    Unknown = 11,
    MapUpdate = 12,
    UsbBlocked = 13,
    UsbFull = 14,
    UsbTooSmall = 15
  };
  Q_ENUM(Type)

  MessageScreen(IUi& ui, QWidget* parent = nullptr);
  ~MessageScreen() override;

  // Shows a page that needs no map. MapDelete and MapDownload start their
  // refresh; MapUpdate and UsbTooSmall need a map and draw nothing here.
  void Init(Type type);
  // Shows a page about one map (MapUpdate, UsbTooSmall). A map that is not
  // valid is refused with a warning and changes nothing.
  void Init(Type type, const MapInfo& map);

  // The page last set by Init, and whether a progress page is refreshing.
  Type CurrentType() const { return type; }
  bool Refreshing() const { return downloadTimer.isActive() || deleteTimer.isActive(); }

signals:
  // The primary (right-hand) button was clicked.
  void FirstButtonClicked();
  // The secondary (left-hand) button was clicked.
  void SecondButtonClicked();

private slots:
  void RetranslateUi();

private:
  void ShowScreen(const QString& title, const QString& description, const QString& firstButton,
                  const QString& secondButton, int progress, bool deleting);
  void ShowMapDownload();
  void ShowMapDelete();
  void ShowMapUpdate(const MapInfo& map);
  void ShowUsbTooSmall(const MapInfo& map);
  // One of the screens that need nothing but the language (the questions,
  // errors and hints); any other type draws nothing.
  void ShowFixed(Type type);

  void OnFirstButtonClicked();
  void OnSecondButtonClicked();

  IUi& iui;
  Ui_MessageScreenWidget* ui;
  Type type = Unknown;
  MapInfo map;
  QTimer downloadTimer;
  QTimer deleteTimer;
};

} // namespace Ui
