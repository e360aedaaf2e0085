#include "sm/States/Common.h"

#include "devicediscovery/MountTable.h"
#include "fmu/FullMapUpdateManager.h"
#include "fmu/MapStorage.h"
#include "sm/States/CancelDownload.h"
#include "sm/States/MapDownload.h"
#include "sm/States/MapUpdateCheck.h"
#include "sm/States/MapUpdatePresent.h"
#include "sm/States/NetworkOperation.h"
#include "ui/IUi.h"
#include "ui/Ui.h"
#include "usb/UsbManager.h"
#include "usb/UsbStorage.h"

#include "Log.h"

#include <boost/filesystem/operations.hpp>
#include <boost/filesystem/path.hpp>

#include <QCoreApplication>
#include <QMetaObject>

#include <stdexcept>
#include <utility>

namespace States {

namespace {

// The factories set for the parts; an empty one leaves the default part.
struct Factories
{
  Common::UiFactory ui;
  Common::UsbManagerFactory usbManager;
  Common::UpdateManagerFactory updateManager;
};

Factories& FactoriesInUse()
{
  static Factories factories;
  return factories;
}

template <typename Default, typename Part>
std::unique_ptr<Part> Make(const std::function<std::unique_ptr<Part>()>& factory)
{
  if (factory)
    return factory();
  return std::make_unique<Default>();
}

// Which check reported: a root check runs without a stick with metadata and
// so knows nothing of a subscription or of a stick.
enum class Check
{
  Root,
  Related
};

bool CanReport(Check check, MetadataChecker::Result result)
{
  switch (result) {
  case MetadataChecker::Ok:
  case MetadataChecker::InvalidMetadata:
  case MetadataChecker::NoConnection:
  case MetadataChecker::ServerError:
  case MetadataChecker::NoMetadata:
    return true;
  case MetadataChecker::NoSubscription:
  case MetadataChecker::SubscriptionExpired:
  case MetadataChecker::UsbRemoved:
    return check == Check::Related;
  }
  return false;
}

} // namespace

void Common::SetUiFactory(UiFactory factory)
{
  FactoriesInUse().ui = std::move(factory);
}

void Common::SetUsbManagerFactory(UsbManagerFactory factory)
{
  FactoriesInUse().usbManager = std::move(factory);
}

void Common::SetUpdateManagerFactory(UpdateManagerFactory factory)
{
  FactoriesInUse().updateManager = std::move(factory);
}

UsbInfo Common::FirstUsbOf(std::initializer_list<UsbInfo::State> states)
{
  for (const UsbInfo::State state : states) {
    const UsbStorage::Usbs usbs = UsbStorage::Get().GetUsbs(state);
    if (!usbs.empty())
      return usbs.begin()->second;
  }
  return UsbInfo();
}

Common::Common(my_context ctx)
    : QObject(nullptr), my_base(ctx), ui(Make<Ui::Ui>(FactoriesInUse().ui)),
      usbManager(Make<UsbManager>(FactoriesInUse().usbManager)),
      updateManager(Make<FullMapUpdateManager>(FactoriesInUse().updateManager))
{
  if (!ui || !usbManager || !updateManager)
    throw std::logic_error("Failed to enter Common state: a part could not be made");

  // The queued connections and invocations carry these types by name, also
  // to and from an update manager of another kind.
  FullMapUpdateManager::RegisterMetaTypes();

  LOG(Info) << "Entered Common state";

  Connect();

  usbManager->moveToThread(&usbThread);
  usbThread.start();
  updateManager->moveToThread(&managerThread);
  managerThread.start();
}

Common::~Common()
{
  // Each manager is deleted on its own thread: the deletion is queued there
  // and runs, at the latest, as the thread ends. After the waits no slot of
  // either manager runs any more.
  updateManager.release()->deleteLater();
  usbManager.release()->deleteLater();
  usbThread.quit();
  managerThread.quit();
  usbThread.wait();
  managerThread.wait();
  ui.reset();
  LOG(Info) << "Left Common state";
}

void Common::Connect()
{
  Ui::IUi* facade = ui.get();
  connect(facade, &Ui::IUi::UpdateLocale, this, [this] { DeliverGuarded(Events::LocaleUpdate()); });
  connect(facade, &Ui::IUi::DownloadMap, this,
          [this](const MapInfo::Id& mapId) { DeliverGuarded(Events::DownloadMap(mapId)); });
  connect(facade, &Ui::IUi::CancelDownload, this, [this] { DeliverGuarded(Events::CancelDownload()); });
  connect(facade, &Ui::IUi::Retry, this, [this] { DeliverGuarded(Events::Retry()); });
  connect(facade, &Ui::IUi::Quit, this, [this] { DeliverGuarded(Events::Quit()); });
  connect(facade, &Ui::IUi::ForcedQuit, this, [] { QCoreApplication::quit(); });

  UsbManager* usb = usbManager.get();
  connect(
      usb, &UsbManager::UsbCheckStarted, this, [this] { DeliverGuarded(Events::UsbInsert()); },
      Qt::QueuedConnection);
  connect(usb, &UsbManager::UsbCheckComplete, this, &Common::OnUsbChecked, Qt::QueuedConnection);
  connect(usb, &UsbManager::UsbRemoved, this, &Common::OnUsbRemoved, Qt::QueuedConnection);

  QObject* manager = updateManager.get();
  const bool connected =
      connect(usb, SIGNAL(UsbRemoved(UsbInfo::Id)), manager, SLOT(StickRemoved(UsbInfo::Id)),
              Qt::QueuedConnection) &&
      connect(manager, SIGNAL(RootUpdatesChecked(MetadataChecker::Result)), this,
              SLOT(OnRootUpdates(MetadataChecker::Result)), Qt::QueuedConnection) &&
      connect(manager, SIGNAL(RelatedUpdatesChecked(MetadataChecker::Result)), this,
              SLOT(OnRelatedUpdates(MetadataChecker::Result)), Qt::QueuedConnection) &&
      connect(manager, SIGNAL(MapNamesUpdated()), this, SLOT(OnMapNamesUpdated()), Qt::QueuedConnection) &&
      connect(manager, SIGNAL(OperationStarted()), this, SLOT(OnMapOperationStarted()),
              Qt::QueuedConnection) &&
      connect(manager, SIGNAL(OperationFinished(MapDownloader::Result)), this,
              SLOT(OnMapOperationFinished(MapDownloader::Result)), Qt::QueuedConnection);
  if (!connected)
    throw std::logic_error("Failed to enter Common state: the update manager lacks a signal");
}

void Common::Invoke(const char* slot)
{
  QMetaObject::invokeMethod(updateManager.get(), slot, Qt::QueuedConnection);
}

void Common::CheckMapUpdates()
{
  Invoke("CheckMapUpdates");
}

void Common::DownloadMap(const MapInfo::Id& mapId)
{
  QMetaObject::invokeMethod(updateManager.get(), "DownloadMap", Qt::QueuedConnection,
                            Q_ARG(MapInfo::Id, mapId));
}

void Common::AbortMapDownload()
{
  ++removalsNotStarted;
  Invoke("AbortMapDownload");
}

boost::statechart::result Common::react(const Events::Activate&)
{
  LOG(Info) << "Got Activate event";
  ui->Activate();
  return discard_event();
}

boost::statechart::result Common::react(const Events::LocaleUpdate&)
{
  LOG(Info) << "Got LocaleUpdate event: updating map name";
  Invoke("UpdateLocale");
  return discard_event();
}

boost::statechart::result Common::react(const Events::Quit&)
{
  LOG(Info) << "Got Quit event: quitting application";
  QCoreApplication::quit();
  return discard_event();
}

template <typename Event>
void Common::Deliver(const Event& event)
{
  outermost_context().process_event(event);
}

template <typename Event>
void Common::DeliverGuarded(const Event& event)
{
  Guarded([&] { Deliver(event); });
}

template <typename Handler>
void Common::Guarded(Handler&& handler)
{
  // A failing reaction has terminated the machine and with it this state:
  // nothing of the state may be touched after the handler threw.
  try {
    handler();
  } catch (const std::exception& e) {
    LOG(Error) << "Caught unhandled error: " << e.what();
    QCoreApplication::exit(1);
  } catch (...) {
    LOG(Error) << "Caught unknown unhandled error";
    QCoreApplication::exit(1);
  }
}

bool Common::MapOperationRunning() const
{
  return state_downcast<const MapDownload*>() != nullptr ||
         state_downcast<const CancelDownload*>() != nullptr;
}

void Common::OnUsbChecked(UsbInfo::Id usbId)
{
  Guarded([&] {
    const UsbInfo usb = UsbStorage::Get().GetUsb(usbId);
    LOG(Debug) << "Inserted usb: " << boost::filesystem::path(usb.path) << " with state: " << usb.state;

    // The first stick becomes active; later a stick with metadata replaces an
    // active stick without, unless a map is in work on the active one.
    const UsbInfo active = UsbStorage::Get().GetActiveUsb();
    if (!active.Valid() || (usb.state != UsbInfo::NoMetadata && active.state == UsbInfo::NoMetadata &&
                            !DownloadingMap().Valid() && !DeletingMap().Valid() && !PendingMap().Valid()))
      UsbStorage::Get().ActivateUsb(usbId);
    ui->UpdateUsbs();

    switch (usb.state) {
    case UsbInfo::InvalidMetadata:
      Deliver(Events::InvalidMetadata(usbId));
      break;
    case UsbInfo::NoMetadata:
      Deliver(Events::NoMetadata(usbId));
      break;
    case UsbInfo::ValidMetadata:
      Deliver(Events::ValidMetadata(usbId));
      break;
    default:
      throw std::logic_error("Usb check failed: result is not supported");
    }
  });
}

void Common::OnUsbRemoved(UsbInfo::Id usbId)
{
  Guarded([&] {
    LOG(Debug) << "Usb: " << usbId << " was removed";
    const UsbInfo removed = UsbStorage::Get().GetUsb(usbId);
    if (!removed.Valid()) {
      // Gone before its check stored it.
      ui->UpdateUsbs();
      return;
    }
    const bool wasActive = ForgetUsb(removed);
    ui->UpdateUsbs();
    if (wasActive)
      Deliver(Events::UsbRemove());
  });
}

bool Common::ForgetUsb(const UsbInfo& removed)
{
  UsbStorage& store = UsbStorage::Get();
  store.RemoveUsb(removed.id);
  if (!removed.active)
    return false;
  const UsbInfo next = FirstUsbOf({UsbInfo::ValidMetadata, UsbInfo::InvalidMetadata, UsbInfo::NoMetadata});
  if (next.Valid())
    store.ActivateUsb(next.id);
  return true;
}

void Common::ForgetActiveUsbIfGone()
{
  const UsbInfo active = UsbStorage::Get().GetActiveUsb();
  if (!active.Valid())
    return;
  // A mount folder that stays after the unmount (a fixed mount point) is no
  // sign of the stick: the mount table, which the discovery reads, tells.
  boost::system::error_code error;
  if (!boost::filesystem::is_directory(active.path, error)) {
    LOG(Info) << "Usb: " << active.id << " has gone: its mount path is no more";
  } else if (MountTable::Lists(active.path) == false) {
    LOG(Info) << "Usb: " << active.id << " has gone: nothing is mounted at its mount path";
  } else {
    return;
  }
  ForgetUsb(active);
  ui->UpdateUsbs();
}

void Common::OnRootUpdates(MetadataChecker::Result result)
{
  Guarded([&] {
    if (!CanReport(Check::Root, result))
      throw std::logic_error("Failed to check root updates: result is not supported");
    if (StaleNamesReport("root", result))
      return;
    if (MapOperationRunning()) {
      LOG(Info) << "Ignoring root updates check result: " << result << " while a map operation runs";
      return;
    }
    if (result != MetadataChecker::Ok) {
      DeliverCheckOutcome(result);
      return;
    }
    Deliver(Events::RootUpdate());
    // Sticks are looked for only once the service has answered.
    usbManager->StartUsbDiscovery();
  });
}

void Common::OnRelatedUpdates(MetadataChecker::Result result)
{
  Guarded([&] {
    if (!CanReport(Check::Related, result))
      throw std::logic_error("Failed to check related updates: result is not supported");
    if (StaleNamesReport("related", result))
      return;
    if (MapOperationRunning()) {
      LOG(Info) << "Ignoring related updates check result: " << result << " while a map operation runs";
      return;
    }
    if (result != MetadataChecker::Ok)
      DeliverCheckOutcome(result);
    else if (MandatoryMap().Valid())
      Deliver(Events::MandatoryUpdate());
    else if (OptionalMap().Valid())
      Deliver(Events::OptionalUpdate());
    else if (InstalledMap().Valid())
      Deliver(Events::UpToDate());
    else
      throw std::logic_error("Failed to check related updates: no valid map found");
  });
}

void Common::DeliverCheckOutcome(MetadataChecker::Result result)
{
  switch (result) {
  case MetadataChecker::InvalidMetadata:
    Deliver(Events::InvalidMetadata());
    break;
  case MetadataChecker::NoConnection:
    Deliver(Events::NoConnection());
    break;
  case MetadataChecker::NoSubscription:
    Deliver(Events::NoSubscription());
    break;
  case MetadataChecker::ServerError:
    Deliver(Events::ServerError());
    break;
  case MetadataChecker::SubscriptionExpired:
    Deliver(Events::SubscriptionExpired());
    break;
  case MetadataChecker::UsbRemoved:
    Deliver(Events::UsbRemove());
    break;
  default: // NoMetadata
    Deliver(Events::NoMetadata());
    break;
  }
}

void Common::OnMapNamesUpdated()
{
  namesReport = true;
}

bool Common::StaleNamesReport(const char* kind, MetadataChecker::Result result)
{
  // Only the states that show a check's outcome show the new names. While a
  // check runs, the manager sent this report before it took up that check (a
  // stick plugged in or pulled meanwhile), which reports its own result: this
  // one must not stand in for it, nor reach what follows from it.
  if (!std::exchange(namesReport, false) || state_downcast<const MapUpdatePresent*>() != nullptr)
    return false;
  LOG(Info) << "Ignoring " << kind << " updates check result: " << result
            << " reported again for new map names "
            << (state_downcast<const MapUpdateCheck*>() ? "while a map update check runs"
                                                        : "while no check result is on show");
  return true;
}

void Common::OnMapOperationStarted()
{
  Guarded([&] {
    if (removalsNotStarted > 0)
      --removalsNotStarted;
    if (DownloadingMap().Valid())
      Deliver(Events::MapDownloadStarted());
    if (DeletingMap().Valid())
      Deliver(Events::MapDeletionStarted());
  });
}

void Common::OnMapOperationFinished(MapDownloader::Result result)
{
  Guarded([&] {
    // A result that arrives after the machine left the download or the
    // removal (the stick's removal was reported first) is stale: acting on it
    // would report the removal twice and start a second check.
    if (!MapOperationRunning()) {
      LOG(Info) << "Ignoring map operation result: " << result << " while no map operation runs";
      return;
    }
    if (removalsNotStarted > 0 && state_downcast<const CancelDownload*>() != nullptr) {
      LOG(Info) << "Ignoring map operation result: " << result << " of the download being cancelled";
      return;
    }
    switch (result) {
    case MapDownloader::Ok:
      Deliver(Events::FinishDownload());
      break;
    case MapDownloader::Aborted:
      Deliver(Events::CancelDownload());
      break;
    case MapDownloader::NoConnection:
      Deliver(Events::NoConnection());
      break;
    case MapDownloader::ServerError:
      Deliver(Events::ServerError());
      break;
    case MapDownloader::UsbBlocked:
      Deliver(Events::UsbBlocked());
      break;
    case MapDownloader::UsbTooSmall:
      Deliver(Events::UsbTooSmall());
      break;
    case MapDownloader::UsbFull:
      Deliver(Events::UsbFull());
      break;
    case MapDownloader::UsbRemoved:
      ForgetActiveUsbIfGone();
      Deliver(Events::UsbRemove());
      break;
    default:
      throw std::logic_error("Failed to finish map operation: result is not supported");
    }
  });
}

} // namespace States
