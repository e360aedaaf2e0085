#pragma once

#include "fmu/MapDownloader.h"
#include "fmu/MapInfo.h"
#include "fmu/MetadataChecker.h"
#include "sm/Events.h"
#include "sm/StateMachine.h"
#include "usb/UsbInfo.h"

#include <boost/mpl/list.hpp>
#include <boost/statechart/custom_reaction.hpp>
#include <boost/statechart/state.hpp>

#include <QObject>
#include <QThread>

#include <functional>
#include <initializer_list>
#include <memory>

class UsbManager;

namespace Ui {
class IUi;
}

namespace States {

struct NetworkOperation;

// The state that holds the working application, from the start event to the
// end of the machine. It builds the user interface and the two worker
// managers, each manager on a thread of its own, turns the user's requests
// and the managers' reports into events, and gives the inner states their
// only way to the user interface and to the update manager.
//
// The update manager is reached only by name: its slots "CheckMapUpdates",
// "DownloadMap" (a MapInfo::Id), "AbortMapDownload" and "UpdateLocale" are
// invoked through queued calls, and its signals RootUpdatesChecked,
// RelatedUpdatesChecked (MetadataChecker::Result), OperationStarted and
// OperationFinished (MapDownloader::Result) are connected by their names.
// The USB manager's report of a stick that has gone reaches its slot
// "StickRemoved" (a UsbInfo::Id) directly, so that a download onto that stick
// stops at once, whatever the machine is doing.
//
// A cancellation reports its start before its end. A result that arrives
// during the cancellation but before its start is that of the download being
// cancelled (it ended just as the user cancelled): it is not the end of the
// removal, which is still to come.
class Common : public QObject, public boost::statechart::state<Common, StateMachine, NetworkOperation>
{
  Q_OBJECT

public:
  using reactions = boost::mpl::list<boost::statechart::custom_reaction<Events::Activate>,
                                     boost::statechart::custom_reaction<Events::LocaleUpdate>,
                                     boost::statechart::custom_reaction<Events::Quit>>;

  // How the parts that Common owns are made. Without a factory each part is
  // the real one (the user interface with its windows); tests may replace
  // them (an update manager must offer the slots and signals named above).
  using UiFactory = std::function<std::unique_ptr<Ui::IUi>()>;
  using UsbManagerFactory = std::function<std::unique_ptr<UsbManager>()>;
  using UpdateManagerFactory = std::function<std::unique_ptr<QObject>()>;
  static void SetUiFactory(UiFactory factory);
  static void SetUsbManagerFactory(UsbManagerFactory factory);
  static void SetUpdateManagerFactory(UpdateManagerFactory factory);

  explicit Common(my_context ctx);
  // Stops both worker threads, waits for them (each manager is deleted on its
  // own thread as the thread ends), then deletes the user interface.
  ~Common() override;

  // The first stick in the store with the first of these metadata states
  // that any stick has, or the default record when none has any of them.
  static UsbInfo FirstUsbOf(std::initializer_list<UsbInfo::State> states);

  // The user interface; valid while Common exists.
  Ui::IUi* GetUi() const { return ui.get(); }

  // Commands to the update manager, queued to its thread.
  void CheckMapUpdates();
  void DownloadMap(const MapInfo::Id& mapId);
  void AbortMapDownload();

  boost::statechart::result react(const Events::Activate& event);
  boost::statechart::result react(const Events::LocaleUpdate& event);
  boost::statechart::result react(const Events::Quit& event);

private slots:
  void OnUsbChecked(UsbInfo::Id usbId);
  void OnUsbRemoved(UsbInfo::Id usbId);
  void OnRootUpdates(MetadataChecker::Result result);
  void OnRelatedUpdates(MetadataChecker::Result result);
  void OnMapNamesUpdated();
  void OnMapOperationStarted();
  void OnMapOperationFinished(MapDownloader::Result result);

private:
  void Connect();
  void Invoke(const char* slot);
  // Hands the event to the machine, which handles it completely before this
  // returns.
  template <typename Event>
  void Deliver(const Event& event);
  // The same for the handlers of the user interface's signals.
  template <typename Event>
  void DeliverGuarded(const Event& event);
  // Runs an input handler. An error it throws (an input no source should
  // produce) is logged and ends the application with exit code 1 through
  // the event loop, so that everything is shut down in order.
  template <typename Handler>
  static void Guarded(Handler&& handler);
  // The event of a check's result other than Ok, which both checks turn
  // into the same event.
  void DeliverCheckOutcome(MetadataChecker::Result result);
  // True while a map download or removal runs: an update check's report
  // that arrives then is not about that operation.
  bool MapOperationRunning() const;
  // Forgets a stick that has gone; when it was the active one, the best
  // stick left becomes active and true is returned.
  static bool ForgetUsb(const UsbInfo& removed);
  // Forgets the active stick when its mount path has gone or the mount table
  // no longer lists a mount there: a map operation can find the stick gone
  // before the discovery (which looks once a second) reports it, and the
  // removal is then shown as if the discovery had.
  void ForgetActiveUsbIfGone();
  // Takes the mark of a check result reported again after the map names were
  // fetched anew; true (logged) when that result must be dropped: no state
  // that shows a check's outcome is active (a check asked for since may be
  // running, which reports its own).
  bool StaleNamesReport(const char* kind, MetadataChecker::Result result);

  std::unique_ptr<Ui::IUi> ui;
  std::unique_ptr<UsbManager> usbManager;
  std::unique_ptr<QObject> updateManager;
  QThread usbThread;
  QThread managerThread;
  // Cancellations asked of the update manager whose start it has not
  // reported yet.
  unsigned removalsNotStarted = 0;
  // The next check result is the last one's, reported again with new names.
  bool namesReport = false;
};

} // namespace States
