#pragma once

#include "fmu/MapInfo.h"
#include "ui/PopupLink.h"
#include "ui/State.h"

#include <QObject>

namespace Ui {

// The user interface as the state machine sees it. The machine listens to
// the signals (the user's requests) and calls the four slots; everything runs
// on the main thread.
class IUi : public QObject
{
  Q_OBJECT

public:
  using QObject::QObject;

signals:
  // The user confirmed downloading the map with this id.
  void DownloadMap(const MapInfo::Id& mapId);
  // The user cancels a download or dismisses a failed one.
  void CancelDownload();
  // The user asks for a retry after a failure.
  void Retry();
  // The user interface language has changed.
  void UpdateLocale();
  // "Quit" was chosen.
  void Quit();
  // The user confirmed quitting on the question that ConfirmQuit shows.
  void ForcedQuit();

public slots:
  // Brings the application's window forward.
  virtual void Activate() = 0;
  // Shows a state in every part of the user interface, also when it is the
  // state shown already.
  virtual void SetState(State state) = 0;
  // Refreshes the stick displays from the stick store.
  virtual void UpdateUsbs() = 0;
  // Asks the user to confirm quitting; confirming emits ForcedQuit.
  virtual void ConfirmQuit() = 0;
};

// Registers "PopupLink" and then "State" with Qt's meta-type system, so that
// they can travel through queued connections and be looked up by name.
// Implementations of IUi call it when they are built; safe to call again.
void RegisterMetaTypes();

} // namespace Ui
