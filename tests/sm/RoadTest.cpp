// The whole road of a run: the real state machine with the real USB and
// update managers on their threads, the map-update service on loopback
// (serving the protocol's documents and real tar archives), a folder that the
// volume discovery takes for a plugged-in stick, and the recording user
// interface in the user's place.

#include "MachineHarness.h"

#include "Request.h"
#include "cfg/Config.h"
#include "fmu/MapStorage.h"
#include "sm/States/Common.h"
#include "usb/UsbManager.h"
#include "usb/UsbStorage.h"

#include "MapService.h"
#include "RoadFiles.h"
#include "TmpfsMount.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

using Strings = std::vector<std::string>;
using StateList = std::vector<State>;
using TestSupport::Answer;
using TestSupport::MapService;
using TestSupport::ServedMap;
using TestSupport::WriteFile;

namespace {

const std::string Key = "road-key";
const std::string Installed = "EUR_2024_06";
const std::string Newer = "EUR_2025_06";
const QString NewerArchive = "/archives/EUR_2025_06.tar";

// One service for the process: the configuration names its address once.
TestSupport::TestService& Service()
{
  static auto* service = new TestSupport::TestService();
  return *service;
}

// The data folder with a config.json that points at the service.
class RoadEnvironment : public ::testing::Environment
{
public:
  void SetUp() override
  {
    qputenv("XDG_DATA_HOME", home.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", (home.path() + "/config").toUtf8());
    QDir().mkpath(home.path() + "/Arvel/Lumora");
    QFile config(home.path() + "/Arvel/Lumora/config.json");
    ASSERT_TRUE(config.open(QIODevice::WriteOnly));
    config.write(QByteArray::fromStdString(
        R"({"Application": {"LogLevel": "Info"}, "FullMapUpdate": {"UpdateSource": ")" +
        Service().Url("/tesk/v1").toStdString() + R"(", "UpdateKey": ")" + Key +
        R"("}, "MapDownload": {"RetryDuration": "1"}})"));
    config.close();
    ASSERT_EQ(Config::get().serviceKey, Key);
  }

private:
  QTemporaryDir home;
};

const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new RoadEnvironment);

// A map of the service with a real archive, served at the archive's address.
ServedMap Map(const std::string& id, const std::string& release, int dataBytes, bool mandatory,
              QByteArray& archive)
{
  ServedMap map;
  map.id = id;
  map.mapLineId = map.region = "EUR";
  map.release = release;
  map.mandatory = mandatory;
  map.name = map.names["en-GB"] = "Europe " + release;
  archive = TestSupport::MakeMapArchive(map, dataBytes);
  Service().Serve("/archives/" + QString::fromStdString(id) + ".tar",
                  Answer::Ok(archive, "application/x-tar"));
  return map;
}

// One run of the application on its road, with the stick as the vehicle
// leaves it.
class Road
{
public:
  explicit Road(bool mandatory = false) : maps(Service(), "/tesk/v1", Key)
  {
    ClearStores();
    installed = Map(Installed, "2024.06", 150000, false, installedArchive);
    newer = Map(Newer, "2025.06", 300000, mandatory, newerArchive);
    maps.AddMap(installed);
    maps.AddMap(newer);
    maps.AddRoot("EUR_ROOT", {Newer});
    maps.SetRelated(Installed, {Installed, Newer});
    States::Common::SetUiFactory([] { return std::make_unique<RecordingUi>(); });
    States::Common::SetUsbManagerFactory([] {
      auto manager = std::make_unique<UsbManager>();
      manager->SetDiscoveryInterval(std::chrono::milliseconds(20));
      manager->SetMountPathRetry(std::chrono::milliseconds(20));
      return manager;
    });
    QDir().mkpath(stickRoot);
    for (const char* operation : {"allroots", "allrelated"})
      requestsBefore[operation] = maps.Requests(operation).size();
  }

  ~Road()
  {
    machine.reset();
    States::Common::SetUiFactory(nullptr);
    States::Common::SetUsbManagerFactory(nullptr);
    ClearStores();
  }

  // The vehicle's files on the stick: its data, the head unit with the end of
  // the subscription, the installed map's metadata and their checksums.
  void WriteStick(const std::string& subscriptionEnd = "2099-12-31")
  {
    TestSupport::WriteVehicleFiles(stickRoot, installed, subscriptionEnd);
  }

  // Starts the machine, waits for the root maps, then presents the stick
  // folder as a USB stick and waits until `shown`.
  void StartAndInsert(State shown, unsigned major = 8, unsigned minor = 17)
  {
    machine = std::make_unique<StateMachine>();
    machine->initiate();
    ASSERT_TRUE(WaitFor(State::RootUpdate));
    volumes.AddPartition(major, minor, FakeVolumes::Bus::Usb, true);
    mountId = volumes.Mount(major, minor, stickRoot.toStdString());
    ASSERT_TRUE(WaitFor(shown));
  }

  void PullStick()
  {
    volumes.Unmount(mountId);
    QDir(stickRoot).removeRecursively();
  }

  bool WaitFor(State state)
  {
    return TestSupport::WaitFor(
        [&] { return RecordingUi::Instance() && RecordingUi::Instance()->Current() == state; }, 30000);
  }

  RecordingUi& Ui() { return *RecordingUi::Instance(); }
  StateList Shown() { return Ui().States(); }

  // The machine's messages; the machine ends first.
  Strings Messages()
  {
    machine.reset();
    return MachineMessages(log.Lines());
  }

  // The requests of one operation that this run sent.
  int Requests(const QString& operation)
  {
    return maps.Requests(operation).size() - requestsBefore[operation];
  }

  bool OnStick(const QString& relative) const { return QFileInfo::exists(stickRoot + "/" + relative); }

  LogCapture log;
  FakeVolumes volumes;
  MapService maps;
  QByteArray installedArchive;
  QByteArray newerArchive;
  ServedMap installed;
  ServedMap newer;
  QTemporaryDir stickDir;
  QString stickRoot = stickDir.path() + "/stick";
  int mountId = 0;
  std::map<QString, int> requestsBefore;
  std::unique_ptr<StateMachine> machine;
};

// Every timer of the service client runs for a tenth of its length while it
// lives: the download's retry window of one minute lasts 6 s, that of a check 1 s.
struct FastRetries
{
  FastRetries() { Tesk::Request::SetTimeScaleForTesting(0.1); }
  ~FastRetries() { Tesk::Request::SetTimeScaleForTesting(1.0); }
};

StateList Then(StateList states, const StateList& more)
{
  states.insert(states.end(), more.begin(), more.end());
  return states;
}

// The root maps, the stick's check and the related check for it.
const StateList ToRelatedCheck = {State::MapUpdateCheck, State::RootUpdate, State::UsbCheck,
                                  State::MapUpdateCheck};
const StateList ToOptional = Then(ToRelatedCheck, {State::OptionalUpdate});

void DriveTheWholeRoad(bool mandatory)
{
  Road road(mandatory);
  const State update = mandatory ? State::MandatoryUpdate : State::OptionalUpdate;
  road.WriteStick();
  ASSERT_NO_FATAL_FAILURE(road.StartAndInsert(update));
  EXPECT_EQ(UsbStorage::Get().GetActiveUsb().path, road.stickRoot.toStdString());
  EXPECT_EQ(UsbStorage::Get().GetActiveUsb().state, UsbInfo::ValidMetadata);

  emit road.Ui().DownloadMap(Newer);
  ASSERT_TRUE(road.WaitFor(State::PendingUpdate));
  // The archive unpacked into a folder named after it, its metadata beside it.
  EXPECT_TRUE(road.OnStick("OrvaneNDSFull/EUR_2025_06/data/region.bin"));
  EXPECT_TRUE(road.OnStick("OrvaneNDSFull/EUR_2025_06/EUR_2025_06.meta.xml"));
  EXPECT_TRUE(road.OnStick("OrvaneNDSFull/EUR_2025_06.meta.xml"));
  EXPECT_EQ(MapStorage::Get().GetMap(Newer).state, MapInfo::Pending);

  emit road.Ui().CancelDownload();
  ASSERT_TRUE(road.WaitFor(update));
  EXPECT_FALSE(road.OnStick("OrvaneNDSFull"));
  EXPECT_EQ(MapStorage::Get().GetMap(Newer).state, MapInfo::Available);
  EXPECT_TRUE(road.OnStick("OrvaneNDSUpdate/CHECKSUMS.MD5")) << "the vehicle's files stay";
  EXPECT_EQ(road.Shown(), Then(ToRelatedCheck, {update, State::MapDownload, State::PendingUpdate,
                                                State::CancelDownload, update}));

  // Every reaction of the run, in order.
  const std::string name = mandatory ? "MandatoryUpdate" : "OptionalUpdate";
  Strings reactions;
  for (const std::string& message : road.Messages())
    if (message.rfind("Entered ", 0) != 0)
      reactions.push_back(message);
  EXPECT_EQ(
      reactions,
      (Strings{"Got StartUp event; switching to Common state",
               "Got RootUpdate event: switching to RootUpdate state",
               "Got UsbInsert event: switching to UsbCheck state",
               "Got ValidMetadata event: switching to MapUpdateCheck state",
               "Got " + name + " event: switching to " + name + " state",
               "Got DownloadMap event: switching to MapDownload state", "Got MapDownloadStarted event",
               "Got FinishDownload event: switching to PendingUpdate state",
               "Got CancelDownload event: switching to CancelDownload state", "Got MapDeletionStarted event",
               "Got CancelDownload event", "Switching to OptionalUpdate state", "Left Common state"}));
}

} // namespace

TEST(Road, OptionalUpdateDownloadedOntoTheStickThenDiscarded)
{
  DriveTheWholeRoad(false);
}

TEST(Road, MandatoryUpdateDownloadedOntoTheStickThenDiscarded)
{
  DriveTheWholeRoad(true);
}

TEST(Road, NoConnectionDuringTheDownloadThenRetryResumesIt)
{
  FastRetries fast;
  Road road;
  road.WriteStick();
  ASSERT_NO_FATAL_FAILURE(road.StartAndInsert(State::OptionalUpdate));
  Service().Serve(NewerArchive, Answer::Drop());
  emit road.Ui().DownloadMap(Newer);
  ASSERT_TRUE(road.WaitFor(State::NoConnection));
  EXPECT_EQ(MapStorage::Get().GetMap(Newer).state, MapInfo::Downloading);

  Service().Serve(NewerArchive, Answer::Ok(road.newerArchive, "application/x-tar"));
  emit road.Ui().Retry();
  ASSERT_TRUE(road.WaitFor(State::PendingUpdate));
  EXPECT_TRUE(road.OnStick("OrvaneNDSFull/EUR_2025_06.meta.xml"));
  EXPECT_EQ(road.Shown(), Then(ToOptional, {State::MapDownload, State::NoConnection, State::MapDownload,
                                            State::PendingUpdate}));
  EXPECT_TRUE(Contains(road.Messages(), "Got Retry event: switching to NetworkOperation state"));
}

TEST(Road, ServerErrorDuringTheCheckThenRetryChecksAgain)
{
  FastRetries fast;
  Road road;
  road.maps.Override("allrelated", Installed, {Answer::Status(500)});
  road.WriteStick();
  ASSERT_NO_FATAL_FAILURE(road.StartAndInsert(State::ServerError));
  road.maps.Override("allrelated", Installed, {Answer::Ok(MapService::PackageListXml({Installed, Newer}))});
  emit road.Ui().Retry();
  ASSERT_TRUE(road.WaitFor(State::OptionalUpdate));
  EXPECT_EQ(road.Shown(),
            Then(ToRelatedCheck, {State::ServerError, State::MapUpdateCheck, State::OptionalUpdate}));
  EXPECT_TRUE(Contains(road.Messages(), "Got ServerError event: switching to ServerError state"));
}

TEST(Road, StickPulledDuringTheDownload)
{
  Road road;
  road.WriteStick();
  ASSERT_NO_FATAL_FAILURE(road.StartAndInsert(State::OptionalUpdate));
  Service().Serve(NewerArchive, Answer::Ok(road.newerArchive, "application/x-tar").HoldAfter(65536));
  emit road.Ui().DownloadMap(Newer);
  ASSERT_TRUE(road.WaitFor(State::MapDownload));
  ASSERT_TRUE(TestSupport::WaitFor([] { return MapStorage::Get().GetMap(Newer).downloaded == 65536; }));

  road.PullStick();
  ASSERT_TRUE(road.WaitFor(State::RootUpdate));
  EXPECT_FALSE(UsbStorage::Get().GetActiveUsb().Valid());
  // The discovery and the download's writer both find the stick gone, in
  // either order. The writer's report after the discovery's is stale and
  // ignored; before it, both show the removal and start a check.
  const StateList shown = road.Shown();
  const StateList removed = Then(ToOptional, {State::MapDownload, State::UsbRemoved, State::MapUpdateCheck});
  ASSERT_GT(shown.size(), removed.size());
  EXPECT_EQ(StateList(shown.begin(), shown.begin() + removed.size()), removed);
  for (auto state = shown.begin() + removed.size(); state + 1 != shown.end(); ++state)
    EXPECT_TRUE(*state == State::UsbRemoved || *state == State::MapUpdateCheck) << *state;
  EXPECT_EQ(shown.back(), State::RootUpdate);
  EXPECT_TRUE(Contains(road.Messages(), "Got UsbRemove event: switching to MapUpdateCheck state"));
}

TEST(Road, StickTooFullForTheMapThenTheDownloadIsCancelled)
{
  if (!TmpfsMount::Allowed())
    GTEST_SKIP() << "mounting a small stick needs root";
  Road road;
  TmpfsMount small(road.stickRoot.toStdString(), 1);
  ASSERT_TRUE(small.Mounted()) << small.Error();
  // The vehicle's files and something of the user's leave less room than the map needs.
  ASSERT_TRUE(WriteFile(road.stickRoot + "/holiday.mov", QByteArray(800 * 1024, 'h')));
  road.WriteStick();
  ASSERT_NO_FATAL_FAILURE(road.StartAndInsert(State::OptionalUpdate, small.Major(), small.Minor()));

  emit road.Ui().DownloadMap(Newer);
  ASSERT_TRUE(road.WaitFor(State::UsbFull));
  emit road.Ui().CancelDownload();
  ASSERT_TRUE(road.WaitFor(State::OptionalUpdate));
  EXPECT_EQ(MapStorage::Get().GetMap(Newer).state, MapInfo::Available);
  EXPECT_TRUE(road.OnStick("holiday.mov"));
  EXPECT_EQ(road.Shown(), Then(ToOptional, {State::MapDownload, State::UsbFull, State::CancelDownload,
                                            State::OptionalUpdate}));
  EXPECT_TRUE(Contains(road.Messages(), "Got UsbFull event: switching to UsbFull state"));
  small.Unmount(true);
}

TEST(Road, CorruptStickIsShownUntilItIsPulled)
{
  Road road;
  road.WriteStick();
  // A file changed after the vehicle listed it.
  ASSERT_TRUE(WriteFile(road.stickRoot + "/OrvaneNDSUpdate/NAVDATA/PART1.NDS", QByteArray(70000, 'x')));
  ASSERT_NO_FATAL_FAILURE(road.StartAndInsert(State::MetadataCorrupt));
  EXPECT_EQ(UsbStorage::Get().GetActiveUsb().state, UsbInfo::InvalidMetadata);
  const int checks = road.Requests("allroots");
  road.PullStick();
  ASSERT_TRUE(road.WaitFor(State::RootUpdate));
  EXPECT_EQ(road.Requests("allroots"), checks + 1) << "the root maps are asked for again";
  EXPECT_EQ(road.Requests("allrelated"), 0) << "a corrupt stick is never checked with the service";
  EXPECT_EQ(road.Shown(), (StateList{State::MapUpdateCheck, State::RootUpdate, State::UsbCheck,
                                     State::MetadataCorrupt, State::MapUpdateCheck, State::RootUpdate}));
  EXPECT_TRUE(Contains(road.Messages(), "Got InvalidMetadata event: switching to MetadataCorrupt state"));
}

TEST(Road, VehicleWithoutSubscription)
{
  Road road;
  road.WriteStick("");
  ASSERT_NO_FATAL_FAILURE(road.StartAndInsert(State::NoSubscription));
  EXPECT_EQ(road.Requests("allrelated"), 0);
  EXPECT_EQ(road.Shown(), Then(ToRelatedCheck, {State::NoSubscription}));
  EXPECT_TRUE(Contains(road.Messages(), "Got NoSubscription event: switching to NoSubscription state"));
}

TEST(Road, ExpiredSubscriptionLoadsTheInstalledMapAgain)
{
  Road road;
  road.WriteStick("2020-01-31");
  ASSERT_NO_FATAL_FAILURE(road.StartAndInsert(State::SubscriptionExpired));
  EXPECT_FALSE(MapStorage::Get().GetMap(Newer).Valid()) << "released after the subscription ended";
  emit road.Ui().DownloadMap(Installed);
  ASSERT_TRUE(road.WaitFor(State::PendingUpdate));
  EXPECT_TRUE(road.OnStick("OrvaneNDSFull/EUR_2024_06.meta.xml"));
  EXPECT_TRUE(road.OnStick("OrvaneNDSFull/EUR_2024_06/data/region.bin"));
  EXPECT_EQ(road.Shown(),
            Then(ToRelatedCheck, {State::SubscriptionExpired, State::MapDownload, State::PendingUpdate}));
  EXPECT_TRUE(Contains(road.Messages(), "Got ResetMap event: switching to MapDownload state"));
}
