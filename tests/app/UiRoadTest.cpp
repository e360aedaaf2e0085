// The whole road through the real windows: the state machine with the real
// USB and update managers, the real user interface (main window, popup, tray
// icon) as the application builds it with a tray, the map service on
// loopback with real tar archives, and a folder that the volume discovery
// takes for a plugged-in stick. The test clicks what a user clicks and looks
// at what a user sees; a screenshot of each step goes to the test's output
// folder.

#include "MachineHarness.h"
#include "RoadFiles.h"
#include "Screenshot.h"
#include "Widgets.h"

#include "TimeScale.h"
#include "TmpfsMount.h"

#include "cfg/Config.h"
#include "cfg/Settings.h"
#include "fmu/FullMapUpdateManager.h"
#include "fmu/MapStorage.h"
#include "sm/States/Common.h"
#include "ui/Ui.h"
#include "ui/widgets/MainWindow.h"
#include "ui/widgets/Popup.h"
#include "ui/widgets/SettingsScreen.h"
#include "ui/widgets/TableRow.h"
#include "ui/widgets/TrayIcon.h"
#include "util/Fonts.h"

#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QSemaphore>
#include <QStackedWidget>
#include <QTableWidget>

#include <atomic>
#include <iostream>
#include <utility>

using TestSupport::Answer;
using TestSupport::WaitFor;

namespace {

const std::string Key = "ui-road-key";
const QString NewerArchive = "/archives/EUR_2025_06.tar";
const int Timeout = 30000;

TestSupport::TestService& Service()
{
  static auto* service = new TestSupport::TestService();
  return *service;
}

// One run of the application with its windows, and the user's hands.
class Road
{
public:
  Road()
  {
    // The data folder with a config.json that points at the service, and the
    // fonts, once: the configuration is read once.
    static QTemporaryDir home;
    [[maybe_unused]] static const bool ready = [] {
      qputenv("HOME", home.path().toUtf8());
      qputenv("XDG_DATA_HOME", home.path().toUtf8());
      qputenv("XDG_CONFIG_HOME", (home.path() + "/config").toUtf8());
      EXPECT_TRUE(TestSupport::WriteRoadConfig(home.path(), Service().Url("/tesk/v1").toStdString(), Key));
      EXPECT_EQ(Config::get().serviceKey, Key);
      Fonts::Load();
      return true;
    }();
    ClearStores();
    // The application's own interface, as on a desktop with a tray.
    States::Common::SetUiFactory([this] {
      auto ui = std::make_unique<Ui::Ui>(true);
      facade = ui.get();
      ui->Window().resize(800, 640);
      return ui;
    });
    States::Common::SetUsbManagerFactory([] {
      auto manager = std::make_unique<UsbManager>();
      manager->SetDiscoveryInterval(std::chrono::milliseconds(20));
      manager->SetMountPathRetry(std::chrono::milliseconds(20));
      return manager;
    });
    // The real update manager, which a test may watch before the machine does.
    States::Common::SetUpdateManagerFactory([this] {
      auto manager = std::make_unique<FullMapUpdateManager>();
      if (watchManager)
        watchManager(*manager);
      return manager;
    });
    QDir().mkpath(stickRoot);
  }

  ~Road()
  {
    machine.reset();
    States::Common::SetUiFactory(nullptr);
    States::Common::SetUsbManagerFactory(nullptr);
    States::Common::SetUpdateManagerFactory(nullptr);
    ClearStores();
  }

  void Start()
  {
    machine = std::make_unique<StateMachine>();
    machine->initiate();
    ASSERT_TRUE(TestSupport::WaitFor([&] { return facade != nullptr; }, Timeout));
  }

  void InsertStick()
  {
    served.WriteVehicleFiles(stickRoot);
    volumes.AddPartition(8, 17, FakeVolumes::Bus::Usb, true);
    mountId = volumes.Mount(8, 17, stickRoot.toStdString());
  }

  // The stick pulled: its mount entry and its folder go.
  void PullStick()
  {
    volumes.Unmount(mountId);
    QDir(stickRoot).removeRecursively();
  }

  // Offers the newer map and starts its download, as the row's button and
  // the question that follows it do.
  bool StartDownload()
  {
    if (!WaitFor(State::OptionalUpdate))
      return false;
    emit facade->DownloadMap(served.newer.id);
    return true;
  }

  bool WaitFor(State state)
  {
    return TestSupport::WaitFor([&] { return facade->CurrentState() == state; }, Timeout);
  }

  Ui::MainWindow& Window() { return facade->Window(); }
  Ui::Popup& Popup() { return facade->PopupWindow(); }

  QWidget* MapsMessage() { return Find(&Window(), "widgetMapsMessage"); }

  // The maps page: the message's title and text, or the list's rows.
  QStringList Content()
  {
    if (Find<QStackedWidget>(&Window(), "stackedWidgetManageMaps")->currentIndex() == 1)
      return {Find<QLabel>(MapsMessage(), "labelMessageTitle")->text(),
              Find<QLabel>(MapsMessage(), "labelMessageDescription")->text()};
    QStringList rows;
    auto* table = Find<QTableWidget>(&Window(), "tableWidgetMapUpdates");
    for (int row = 0; row < table->rowCount(); ++row)
      for (QLabel* label : table->cellWidget(row, 0)->findChildren<QLabel*>())
        if (label->objectName() == "labelMapTitle" || label->objectName() == "labelTitle")
          rows << label->text();
    return rows;
  }

  // The popup's content title or text, and its link.
  QStringList PopupContent()
  {
    QStringList content;
    for (const char* name : {"labelContentTitle", "labelContentText"})
      if (auto* label = Find<QLabel>(&Popup(), name); label->isVisible())
        content << label->text();
    if (auto* link = Find<QPushButton>(&Popup(), "pushButtonContentLink"); link->isVisible())
      content << "link: " + link->text();
    return content;
  }

  // The map row of the list showing `name`.
  QWidget* Row(const QString& name)
  {
    auto* table = Find<QTableWidget>(&Window(), "tableWidgetMapUpdates");
    for (int row = 0; row < table->rowCount(); ++row)
      if (auto* cell = qobject_cast<Ui::TableRow*>(table->cellWidget(row, 0)))
        if (Find<QLabel>(cell, "labelMapTitle")->text() == name)
          return cell;
    ADD_FAILURE() << "no row of " << name.toStdString();
    return nullptr;
  }

  bool OnStick(const QString& relative) const { return QFileInfo::exists(stickRoot + "/" + relative); }
  MapInfo NewerMap() const { return MapStorage::Get().GetMap(served.newer.id); }
  MapInfo::State NewerMapState() const { return NewerMap().state; }
  bool Logged(const std::string& message) { return log.Contains(message); }

  void Shot(QWidget* widget, const QString& name) { EXPECT_FALSE(SaveScreenshot(widget, name).isEmpty()); }

  LogCapture log;
  FakeVolumes volumes;
  TestSupport::RoadMaps served{Service(), Key};
  QTemporaryDir stickDir;
  QString stickRoot = stickDir.path() + "/stick";
  int mountId = 0;
  Ui::Ui* facade = nullptr;
  std::function<void(FullMapUpdateManager&)> watchManager;
  std::unique_ptr<StateMachine> machine;
};

const QStringList RemovedMessage = {"The USB stick has been removed while the system was still accessing it. "
                                    "Please reconnect the USB stick",
                                    "link: Continue"};

} // namespace

TEST(UiRoad, RootMapsStickDownloadWithProgressPendingMapOnTheStickCancelRemovalAndBack)
{
  Road road;
  Service().Serve(NewerArchive, Answer::Ok(road.served.newerArchive, "application/x-tar").HoldAfter(100000));
  ASSERT_NO_FATAL_FAILURE(road.Start());

  // Start: the root maps, seen once the window is opened from the tray.
  ASSERT_TRUE(road.WaitFor(State::RootUpdate));
  EXPECT_FALSE(road.Window().isVisible());
  EXPECT_FALSE(road.Popup().isVisible()) << "nothing to tell yet";
  emit road.facade->Tray().OpenApplicationClicked();
  ASSERT_TRUE(road.Window().isVisible());
  EXPECT_EQ(road.Content(), (QStringList{"Available maps", "Europe 2025.06"}));
  road.Shot(&road.Window(), "01-root-maps");

  // The stick: checked, then the related check offers the newer map; the
  // popup tells, and its link opens the list.
  road.InsertStick();
  ASSERT_TRUE(road.WaitFor(State::OptionalUpdate));
  EXPECT_TRUE(road.Popup().isVisible());
  EXPECT_EQ(road.PopupContent(), (QStringList{"Update available", "link: Update maps"}));
  road.Shot(&road.Popup(), "02-popup-update-available");
  Click(&road.Popup(), "pushButtonContentLink");
  ASSERT_TRUE(road.Window().isVisible());
  ASSERT_TRUE(road.Content().contains("Europe 2025.06")) << road.Content().join(", ").toStdString();
  road.Shot(&road.Window(), "03-update-offered");

  // Download: the row's button, the question, then the progress page, which
  // follows the bytes written to the stick.
  Click(road.Row("Europe 2025.06"), "pushButtonMapAction");
  ASSERT_EQ(road.Content().value(0), "Confirm optional map update")
      << road.Content().join(", ").toStdString();
  road.Shot(&road.Window(), "04-download-question");
  Click(road.MapsMessage(), "pushButtonPrimary");
  ASSERT_TRUE(road.WaitFor(State::MapDownload));
  ASSERT_TRUE(WaitFor([&] { return road.Content().value(1).contains("97.66 KB of"); }, Timeout))
      << road.Content().join(", ").toStdString();
  EXPECT_EQ(road.PopupContent(), (QStringList{"Downloading map", "link: Manage maps"}));
  road.Shot(&road.Window(), "05-download-progress");
  road.Shot(&road.Popup(), "05-popup-downloading");

  // The rest of the archive: the map, unpacked into a folder named after it
  // with its metadata beside it, waits on the stick for the vehicle.
  Service().ReleaseHeld();
  ASSERT_TRUE(road.WaitFor(State::PendingUpdate));
  for (const char* file : {"data/region.bin", "EUR_2025_06.meta.xml", "../EUR_2025_06.meta.xml"})
    EXPECT_TRUE(road.OnStick(QString("OrvaneNDSFull/EUR_2025_06/") + file)) << file;
  EXPECT_EQ(MapStorage::Get().GetMap(road.served.newer.id).state, MapInfo::Pending);
  ASSERT_TRUE(WaitFor([&] { return road.Content().contains("Pending map updates"); }, Timeout))
      << road.Content().join(", ").toStdString();
  road.Shot(&road.Window(), "06-pending");

  // Cancel: the question, the removal, and back to the offer.
  Click(road.Row("Europe 2025.06"), "pushButtonDiscard");
  road.Shot(&road.Window(), "07-discard-question");
  Click(road.MapsMessage(), "pushButtonPrimary");
  ASSERT_TRUE(road.WaitFor(State::OptionalUpdate));
  EXPECT_FALSE(road.OnStick("OrvaneNDSFull"));
  EXPECT_EQ(MapStorage::Get().GetMap(road.served.newer.id).state, MapInfo::Available);
  EXPECT_TRUE(road.OnStick("OrvaneNDSUpdate/CHECKSUMS.MD5")) << "the vehicle's files stay";
  EXPECT_TRUE(road.Content().contains("Europe 2025.06"));
  road.Shot(&road.Window(), "08-back-to-the-offer");

  // The stick pulled: the root maps again.
  road.PullStick();
  ASSERT_TRUE(road.WaitFor(State::RootUpdate));
  emit road.facade->Tray().OpenApplicationClicked();
  EXPECT_EQ(road.Content(), (QStringList{"Available maps", "Europe 2025.06"}));

  // The events the machine got on the whole run, in order.
  road.machine.reset();
  std::vector<std::string> events;
  for (const std::string& message : MachineMessages(road.log.Lines()))
    if (message.rfind("Got ", 0) == 0)
      events.push_back(message.substr(4, message.find(" event") - 4));
  EXPECT_EQ(events,
            (std::vector<std::string>{"StartUp", "RootUpdate", "UsbInsert", "ValidMetadata", "OptionalUpdate",
                                      "DownloadMap", "MapDownloadStarted", "FinishDownload", "CancelDownload",
                                      "MapDeletionStarted", "CancelDownload", "UsbRemove", "RootUpdate"}));
}

// The download stops answering half-way: the popup tells, and its retry link
// resumes the download where it stopped. While a result is on show, whatever
// it is, nothing of the process holds the stick open (so that it can be
// ejected).
TEST(UiRoad, NoConnectionDuringTheDownloadIsToldByThePopupWhoseRetryLinkResumesIt)
{
  Road road;
  ASSERT_NO_FATAL_FAILURE(road.Start());
  road.InsertStick();
  ASSERT_TRUE(road.WaitFor(State::OptionalUpdate));
  TestSupport::TimeScale fast(0.02); // time-out 200 ms, the download's retry window 1.2 s
  const Answer whole = Answer::Ok(road.served.newerArchive, "application/x-tar");
  Service().ServeSequence(NewerArchive, {Answer(whole).StallAfter(65536), Answer::Silent()});
  emit road.facade->DownloadMap(road.served.newer.id);
  ASSERT_TRUE(road.WaitFor(State::NoConnection));
  ASSERT_TRUE(road.Popup().isVisible());
  EXPECT_EQ(road.PopupContent().value(1), "link: Retry");
  EXPECT_EQ(TestSupport::OpenBelow(road.stickRoot), "");
  road.Shot(&road.Popup(), "popup-no-connection");

  Service().Serve(NewerArchive, whole);
  Click(&road.Popup(), "pushButtonContentLink");
  ASSERT_TRUE(road.WaitFor(State::PendingUpdate));
  EXPECT_EQ(Service().RequestsTo(NewerArchive).last().Header("Range"), "bytes=65536-");
  EXPECT_TRUE(road.OnStick("OrvaneNDSFull/EUR_2025_06.meta.xml"));
  EXPECT_EQ(TestSupport::OpenBelow(road.stickRoot), "");
}

// A window on show that a check hides comes back with the check's result,
// when a stick is plugged in and when it is pulled while the user reads the
// offer; one the user closed stays closed.
TEST(UiRoad, AWindowThatACheckHidComesBackWithItsResultAndAClosedOneStaysClosed)
{
  Road road;
  ASSERT_NO_FATAL_FAILURE(road.Start());
  ASSERT_TRUE(road.WaitFor(State::RootUpdate));
  emit road.facade->Tray().OpenApplicationClicked();
  // clang-format off
  struct Step { const char* what; std::function<void()> act; State result; bool shown; } const steps[] = {
      {"plugged in", [&] { road.InsertStick(); }, State::OptionalUpdate, true},
      {"pulled", [&] { road.PullStick(); }, State::RootUpdate, true},
      {"plugged in after the window was closed", [&] { road.Window().close(), road.InsertStick(); },
       State::OptionalUpdate, false},
  };
  // clang-format on
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    step.act();
    ASSERT_TRUE(road.WaitFor(step.result));
    EXPECT_EQ(road.Window().isVisible(), step.shown);
  }
  EXPECT_TRUE(road.Content().contains("Europe 2025.06")) << road.Content().join(", ").toStdString();
}

// A check that hid the window and failed uses up its coming back: the root
// maps of the check that follows when the stick is pulled leave the window
// hidden, and nothing takes the keyboard.
TEST(UiRoad, AWindowThatAFailedCheckHidStaysHiddenWhenTheStickIsPulled)
{
  Road road;
  TestSupport::TimeScale fast(0.02);
  road.served.maps.Override("allrelated", road.served.installed.id, {Answer::Status(500)});
  ASSERT_NO_FATAL_FAILURE(road.Start());
  ASSERT_TRUE(road.WaitFor(State::RootUpdate));
  emit road.facade->Tray().OpenApplicationClicked();
  ASSERT_TRUE(road.Window().isVisible());
  road.InsertStick();
  ASSERT_TRUE(road.WaitFor(State::ServerError));
  EXPECT_FALSE(road.Window().isVisible());
  EXPECT_TRUE(road.PopupContent().contains("link: Retry")) << road.PopupContent().join(", ").toStdString();
  road.PullStick();
  ASSERT_TRUE(road.WaitFor(State::RootUpdate));
  EXPECT_FALSE(road.Window().isVisible());
}

// "Yes, discard" never hides the window the user looks at: settings changed
// while the first check had failed, the root maps that the popup's retry
// brings, "Open application", Cancel and "Yes, discard" leave the settings.
TEST(UiRoad, DiscardingUnsavedSettingsKeepsTheWindowOnTheSettingsPage)
{
  Road road;
  TestSupport::TimeScale fast(0.02);
  road.served.maps.Override("allroots", "", {Answer::Status(500)});
  ASSERT_NO_FATAL_FAILURE(road.Start());
  road.Popup().SetTiming({Timeout, 50}); // on show until the retry is clicked
  ASSERT_TRUE(road.WaitFor(State::ServerError));
  emit road.facade->Tray().SettingsClicked();
  auto* settings = road.Window().findChild<Ui::SettingsScreen*>();
  Click(settings, "checkBoxAutoStart");
  road.served.maps.Override("allroots", "", {});
  Click(&road.Popup(), "pushButtonContentLink");
  ASSERT_TRUE(road.WaitFor(State::RootUpdate));
  emit road.facade->Tray().OpenApplicationClicked();
  Click(settings, "pushButtonCancel");
  Click(Find(&road.Window(), "widgetMessage"), "pushButtonPrimary");
  EXPECT_TRUE(road.Window().isVisible() && !settings->SettingsChanged());
  EXPECT_EQ(road.Window().CurrentPage(), Ui::MainWindow::PageIndex::Settings);
}

// Map names follow a change of language without a new check, on the root
// maps and on a stick's offer; names that cannot be fetched stay as they
// were, and so does the state.
TEST(UiRoad, MapNamesFollowTheLanguageWithoutANewCheck)
{
  struct English
  {
    ~English() { Settings::get().SetLocale("en_GB"); }
  } const english;
  Road road;
  TestSupport::TimeScale fast(0.02);
  for (TestSupport::ServedMap* map : {&road.served.installed, &road.served.newer}) {
    map->names["de-DE"] = "Europa " + map->release;
    road.served.maps.AddMap(*map);
  }
  const auto speak = [&](const char* locale) {
    ASSERT_TRUE(Settings::get().SetLocale(locale));
    emit road.facade->UpdateLocale(); // as the settings screen does on Save
  };
  const auto shows = [&](const QString& name) {
    return WaitFor([&] { return road.Content().contains(name); }, Timeout);
  };
  const auto checks = [&] {
    return road.served.maps.Requests("allroots").size() + road.served.maps.Requests("allrelated").size();
  };
  ASSERT_NO_FATAL_FAILURE(road.Start());
  ASSERT_TRUE(road.WaitFor(State::RootUpdate));
  emit road.facade->Tray().OpenApplicationClicked();
  ASSERT_TRUE(shows("Europe 2025.06"));
  // clang-format off
  struct Step { const char* what; std::function<void()> before; State state; };
  const Step steps[] = {
      {"root maps", [] {}, State::RootUpdate},
      {"a stick's offer", [&] { ASSERT_NO_FATAL_FAILURE(speak("en_GB")); road.InsertStick(); }, State::OptionalUpdate},
  };
  // clang-format on
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    ASSERT_NO_FATAL_FAILURE(step.before());
    ASSERT_TRUE(road.WaitFor(step.state));
    ASSERT_TRUE(shows("Europe 2025.06")) << road.Content().join(", ").toStdString();
    const int checked = checks();
    ASSERT_NO_FATAL_FAILURE(speak("de_DE"));
    EXPECT_TRUE(shows("Europa 2025.06")) << road.Content().join(", ").toStdString();
    EXPECT_EQ(road.facade->CurrentState(), step.state);
    EXPECT_EQ(checks(), checked);
  }
  road.Shot(&road.Window(), "offer-in-german");

  // The offered map's name cannot be fetched: it keeps the German one, while
  // the installed map's comes, and the offer stays. The list is built anew
  // when the names have been fetched.
  road.served.maps.Override("localedata", road.served.newer.id, {Answer::Status(500)});
  const auto offered = [&] {
    return Find<QTableWidget>(&road.Window(), "tableWidgetMapUpdates")->cellWidget(3, 0);
  };
  ASSERT_NO_FATAL_FAILURE(speak("en_GB"));
  ASSERT_TRUE(offered());
  offered()->setProperty("before", true);
  EXPECT_TRUE(WaitFor([&] { return offered() && !offered()->property("before").toBool(); }, Timeout));
  EXPECT_TRUE(road.Content().contains("Europa 2025.06")) << road.Content().join(", ").toStdString();
  EXPECT_EQ(MapStorage::Get().GetMap(road.served.installed.id).name, L"Europe 2024.06");
  EXPECT_EQ(road.facade->CurrentState(), State::OptionalUpdate);
}

// A download stopped by the stick (too small for the map, or a full-map folder
// that cannot be emptied), then the stick pulled and another one, which holds
// a finished map, mounted at the same path: the failure is left behind, the
// other stick gets a check of its own, and its map stays.
TEST(UiRoad, AStickPulledFromAStoppedDownloadIsLeftAndTheStickInItsPlaceIsCheckedAnew)
{
  const QStringList stickB = {"OrvaneNDSFull/EUR_2025_06/data/region.bin",
                              "OrvaneNDSFull/EUR_2025_06.meta.xml"};
  for (const auto& [failure, link] :
       {std::pair{State::UsbTooSmall, "link: Manage maps"}, {State::UsbBlocked, "link: Dismiss"}}) {
    SCOPED_TRACE(testing::PrintToString(failure));
    if (failure == State::UsbBlocked && !TmpfsMount::Allowed()) {
      std::cout << "UsbBlocked needs a tmpfs mount: not running as root\n";
      continue;
    }
    Road road;
    if (failure == State::UsbTooSmall) {
      road.served.newer.size = 1LL << 60;
      road.served.maps.AddMap(road.served.newer);
    }
    ASSERT_NO_FATAL_FAILURE(road.Start());
    road.InsertStick();
    std::unique_ptr<TmpfsMount> held;
    if (failure == State::UsbBlocked) {
      const QString inside = road.stickRoot + "/OrvaneNDSFull/held";
      QDir().mkpath(inside);
      held = std::make_unique<TmpfsMount>(inside.toStdString(), 1);
      ASSERT_TRUE(held->Mounted()) << held->Error();
    }
    ASSERT_TRUE(road.StartDownload());
    ASSERT_TRUE(road.WaitFor(failure));
    EXPECT_EQ(road.PopupContent().value(1), link);

    if (held)
      held->Unmount(true);
    road.PullStick();
    ASSERT_TRUE(road.WaitFor(State::RootUpdate));
    road.served.WriteVehicleFiles(road.stickRoot);
    for (const QString& file : stickB)
      ASSERT_TRUE(TestSupport::WriteFile(road.stickRoot + "/" + file, "stick B"));
    const int checks = road.served.maps.Requests("allrelated").size();
    road.mountId = road.volumes.Mount(8, 17, road.stickRoot.toStdString());
    ASSERT_TRUE(road.WaitFor(State::OptionalUpdate));
    EXPECT_EQ(road.served.maps.Requests("allrelated").size(), checks + 1) << "stick B's own check";
    EXPECT_EQ(road.NewerMapState(), MapInfo::Available);
    for (const QString& file : stickB)
      EXPECT_TRUE(road.OnStick(file)) << file.toStdString();
  }
}

// The stick goes while the download writes to it, told by either sign: its
// mount entry goes while its folder stays (an unmount), or its folder goes
// while the mount table, looked at once a second, still lists it. The
// download stops at once and fetches nothing more, what it wrote stays, the
// map is never finished there, and the popup tells of the removal.
TEST(UiRoad, ADownloadStopsWhenItsStickGoesAndThePopupTellsWhicheverSignComesFirst)
{
  TestSupport::TimeScale slow(10); // a silent transfer is dropped only after 100 s
  for (const bool mountEntryGoes : {true, false}) {
    SCOPED_TRACE(mountEntryGoes ? "mount entry gone" : "folder gone");
    Road road;
    Service().Serve(NewerArchive,
                    Answer::Ok(road.served.newerArchive, "application/x-tar").HoldAfter(100000));
    ASSERT_NO_FATAL_FAILURE(road.Start());
    road.InsertStick();
    ASSERT_TRUE(road.StartDownload());
    ASSERT_TRUE(WaitFor([&] { return road.NewerMap().downloaded > 0; }, Timeout));

    // The folder leaves its place in one step, as at an unmount; only the
    // download, writing on, can notice.
    const QString folder = mountEntryGoes ? road.stickRoot : road.stickRoot + "-gone";
    if (mountEntryGoes) {
      road.volumes.Unmount(road.mountId);
    } else {
      ASSERT_TRUE(QDir().rename(road.stickRoot, folder));
      Service().ReleaseHeld();
    }
    ASSERT_TRUE(road.WaitFor(State::RootUpdate));
    ASSERT_TRUE(WaitFor([] { return Service().OpenConnections() == 0; }, Timeout)) << "the transfer goes on";
    const auto written = TestSupport::Listing(folder + "/OrvaneNDSFull");
    EXPECT_FALSE(written.empty());
    Service().ReleaseHeld();
    EXPECT_TRUE(road.Popup().isVisible());
    EXPECT_EQ(road.PopupContent(), RemovedMessage);
    road.Shot(&road.Popup(), mountEntryGoes ? "popup-stick-unmounted" : "popup-stick-folder-gone");
    EXPECT_EQ(TestSupport::Listing(folder + "/OrvaneNDSFull"), written);
    EXPECT_FALSE(QFileInfo::exists(folder + "/OrvaneNDSFull/EUR_2025_06.meta.xml"));
  }
}

// A stick unmounted from a mount folder that stays (a fixed mount point)
// leaves that folder empty. The download finds its folder gone before the
// discovery notices (the USB manager is held meanwhile): the removal is told
// once and stays on show, nothing says the pulled stick is connected, and the
// discovery's report that follows starts no second check.
TEST(UiRoad, AStickUnmountedFromAFolderThatStaysIsToldRemovedOnce)
{
  TestSupport::TimeScale slow(10); // a silent transfer is dropped only after 100 s
  Road road;
  UsbManager* usb = nullptr;
  States::Common::SetUsbManagerFactory([&usb] {
    auto manager = std::make_unique<UsbManager>();
    manager->SetDiscoveryInterval(std::chrono::milliseconds(20));
    manager->SetMountPathRetry(std::chrono::milliseconds(20));
    usb = manager.get();
    return manager;
  });
  Service().Serve(NewerArchive, Answer::Ok(road.served.newerArchive, "application/x-tar").HoldAfter(100000));
  ASSERT_NO_FATAL_FAILURE(road.Start());
  road.InsertStick();
  ASSERT_TRUE(road.StartDownload());
  ASSERT_TRUE(WaitFor([&] { return road.NewerMap().downloaded > 0; }, Timeout));
  const UsbInfo pulled = UsbStorage::Get().GetActiveUsb();
  ASSERT_TRUE(pulled.Valid());
  // Heard after the machine's own queued connection has taken the report.
  std::atomic<int> reports{0};
  QObject::connect(
      usb, &UsbManager::UsbRemoved, usb, [&reports](UsbInfo::Id) { ++reports; }, Qt::DirectConnection);

  QSemaphore held, go;
  struct Release
  {
    QSemaphore& go;
    ~Release() { go.release(); }
  } release{go};
  QMetaObject::invokeMethod(
      usb,
      [&] {
        held.release();
        go.acquire();
      },
      Qt::QueuedConnection);
  held.acquire();

  // The unmount: the mount entry goes, the folder stays and is empty.
  road.volumes.Unmount(road.mountId);
  ASSERT_TRUE(QDir().rename(road.stickRoot, road.stickRoot + "-unmounted"));
  ASSERT_TRUE(QDir().mkdir(road.stickRoot));
  const int checksBefore = road.log.Count("Checking root full map updates");
  Service().ReleaseHeld();
  ASSERT_TRUE(road.WaitFor(State::RootUpdate));
  EXPECT_TRUE(
      road.Logged("Usb: " + std::to_string(pulled.id) + " has gone: nothing is mounted at its mount path"));
  EXPECT_FALSE(UsbStorage::Get().GetUsb(pulled.id).Valid());
  const auto told = [&] {
    EXPECT_TRUE(road.Popup().isVisible());
    EXPECT_EQ(road.PopupContent(), RemovedMessage);
    const auto* status = Find<QLabel>(&road.Popup(), "labelStatusText");
    EXPECT_FALSE(status->isVisible() && status->text() == "Connected");
  };
  told();

  // The discovery's report comes late and finds nothing left to do.
  go.release();
  ASSERT_TRUE(WaitFor([&] { return reports > 0; }, Timeout));
  bool handled = false;
  QMetaObject::invokeMethod(
      road.facade, [&handled] { handled = true; }, Qt::QueuedConnection);
  ASSERT_TRUE(WaitFor([&] { return handled; }, Timeout));
  told();
  road.Shot(&road.Popup(), "popup-stick-unmounted-folder-stays");
  EXPECT_EQ(road.facade->CurrentState(), State::RootUpdate);
  EXPECT_EQ(road.log.Count("Checking root full map updates"), checksBefore + 1);
  EXPECT_EQ(road.log.Count("Checking related full map updates"), 1);
  EXPECT_EQ(road.log.Count("Got UsbRemove event: switching to MapUpdateCheck state"), 1);
  EXPECT_TRUE(TestSupport::Listing(road.stickRoot).empty());
}

// A cancellation whose removal leaves files behind (a file system mounted
// inside the map's folder) is told as a failure; the map can be cancelled
// again from the popup, and once the stick lets go everything is removed.
TEST(UiRoad, ACancellationThatLeavesFilesBehindIsToldAndCanBeTriedAgain)
{
  if (!TmpfsMount::Allowed())
    GTEST_SKIP() << "needs a tmpfs mount: not running as root";
  Road road;
  ASSERT_NO_FATAL_FAILURE(road.Start());
  road.InsertStick();
  ASSERT_TRUE(road.StartDownload());
  ASSERT_TRUE(road.WaitFor(State::PendingUpdate));
  const QString inside = road.stickRoot + "/OrvaneNDSFull/EUR_2025_06/held";
  QDir().mkpath(inside);
  TmpfsMount held(inside.toStdString(), 1);
  ASSERT_TRUE(held.Mounted()) << held.Error();

  emit road.facade->CancelDownload();
  ASSERT_TRUE(road.WaitFor(State::UsbBlocked));
  EXPECT_EQ(road.PopupContent(), (QStringList{"Map update download failed", "link: Dismiss"}));
  road.Shot(&road.Popup(), "popup-removal-failed");
  EXPECT_EQ(road.NewerMapState(), MapInfo::Deleting);
  EXPECT_FALSE(road.OnStick("OrvaneNDSFull/EUR_2025_06.meta.xml")) << "the map no longer looks complete";
  EXPECT_TRUE(road.OnStick("OrvaneNDSFull/EUR_2025_06"));

  ASSERT_TRUE(held.Unmount());
  Click(&road.Popup(), "pushButtonContentLink");
  ASSERT_TRUE(road.WaitFor(State::OptionalUpdate));
  EXPECT_EQ(road.NewerMapState(), MapInfo::Available);
  EXPECT_FALSE(road.OnStick("OrvaneNDSFull"));
}

// The download ends just as the user cancels it: its result arrives after
// the cancel and is not taken for the end of the removal, which follows.
TEST(UiRoad, ADownloadResultThatArrivesAfterTheCancelDoesNotEndTheCancellation)
{
  Road road;
  // The user cancels as the update manager reports the download's end: the
  // cancel reaches the machine before that report does.
  bool cancelled = false;
  road.watchManager = [&road, &cancelled](FullMapUpdateManager& manager) {
    QObject::connect(
        &manager, &FullMapUpdateManager::OperationFinished, &manager,
        [&road, &cancelled, once = std::make_shared<bool>(false)](MapDownloader::Result result) {
          if (result == MapDownloader::Ok && !std::exchange(*once, true))
            QMetaObject::invokeMethod(
                road.facade,
                [&road, &cancelled] {
                  cancelled = true;
                  emit road.facade->CancelDownload();
                },
                Qt::QueuedConnection);
        },
        Qt::DirectConnection);
  };
  ASSERT_NO_FATAL_FAILURE(road.Start());
  road.InsertStick();
  ASSERT_TRUE(road.StartDownload());
  ASSERT_TRUE(WaitFor(
      [&] {
        return cancelled && road.facade->CurrentState() == State::OptionalUpdate &&
               !road.OnStick("OrvaneNDSFull") && road.NewerMapState() == MapInfo::Available;
      },
      Timeout));
  // The removal's own end took the machine back to the offer.
  EXPECT_TRUE(road.Logged("Ignoring map operation result: Ok of the download being cancelled"));
  EXPECT_TRUE(road.Logged("Got CancelDownload event"));
  // The list offers the map again.
  emit road.facade->Tray().OpenApplicationClicked();
  EXPECT_TRUE(Find<QPushButton>(road.Row("Europe 2025.06"), "pushButtonMapAction")->isVisible());
}
