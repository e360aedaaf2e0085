#pragma once

#include <QPointer>
#include <QString>
#include <QTimer>
#include <QWidget>

class QListWidget;
class QListWidgetItem;
class Ui_FooterWidget;

namespace Ui {

// The strip at the bottom of the main window: the head unit's map space and
// the active stick's free space as gauges, the stick's mount path, and a
// drop-down list from which the user picks the active stick among the sticks
// without map metadata. It reads the stick and map stores, writes the stick
// store only when the user picks a stick, and sends nothing to the state
// machine. The gauges refresh every second once a stick was shown.
//
// The list floats over the page above the footer: it is a child of the
// footer's parent (the main window), which owns it.
class Footer : public QWidget
{
  Q_OBJECT

public:
  explicit Footer(QWidget* parent = nullptr);
  ~Footer() override;

  // Rebuilds the stick list from the stores, shows the panels that apply,
  // refreshes the gauges and enables the stick switch when a choice is open.
  void UpdateState();
  // Translates the head-unit caption and gives the stick's path its width.
  void RetranslateUi();
  // Opens the closed list above the stick row, or closes the open one. The
  // argument (the button's checked flag) is not used.
  void ToggleUsbList(bool checked = false);
  // Repaints both gauges from the stores and restarts the one-second refresh.
  void UpdateSpaceInfo();
  void SetVisibleUsbPanel(bool visible);
  void SetVisibleHeadUnitPanel(bool visible);

  // Closes the list on a mouse press anywhere in the application but on the
  // footer, its stick switch and the main window's own native window.
  bool eventFilter(QObject* watched, QEvent* event) override;

protected:
  // A hidden footer takes its floating list with it.
  void hideEvent(QHideEvent* event) override;

private:
  void OnUsbListItemClicked(QListWidgetItem* item);
  void CloseUsbList();
  // Shows the active stick's path in the width of the caption column.
  void ShowUsbPath();

  Ui_FooterWidget* ui;
  QPointer<QListWidget> usbList;
  QTimer refreshTimer;
  // The active stick's whole mount path.
  QString usbPath;
};

} // namespace Ui
