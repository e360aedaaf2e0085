// The whole road of a run: the real state machine with the real USB and
// update managers on their threads, the map-update service on loopback
// (serving the protocol's documents and real tar archives), a folder that the
// volume discovery takes for a plugged-in stick, and the recording user
// interface in the user's place.

#include "MachineHarness.h"

#include "TimeScale.h"
#include "cfg/Config.h"
#include "fmu/MapStorage.h"
#include "sm/States/Common.h"
#include "usb/UsbManager.h"
#include "usb/UsbStorage.h"

#include "MapService.h"
#include "RoadFiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

using Strings = std::vector<std::string>;
using StateList = std::vector<State>;
using TestSupport::Answer;
using TestSupport::MapService;
using TestSupport::ServedMap;

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
ServedMap Map(const std::string& id, const std::string& release, int dataBytes, QByteArray& archive)
{
  ServedMap map;
  map.id = id;
  map.mapLineId = map.region = "EUR";
  map.release = release;
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
  Road() : maps(Service(), "/tesk/v1", Key)
  {
    ClearStores();
    installed = Map(Installed, "2024.06", 150000, installedArchive);
    newer = Map(Newer, "2025.06", 300000, newerArchive);
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
  }

  ~Road()
  {
    machine.reset();
    States::Common::SetUiFactory(nullptr);
    States::Common::SetUsbManagerFactory(nullptr);
    ClearStores();
  }

  // Starts the machine, waits for the root maps, then presents the stick
  // folder, with the vehicle's files, as a USB stick and waits for the offer.
  void StartAndInsert()
  {
    TestSupport::WriteVehicleFiles(stickRoot, installed, "2099-12-31");
    machine = std::make_unique<StateMachine>();
    machine->initiate();
    ASSERT_TRUE(WaitFor(State::RootUpdate));
    volumes.AddPartition(8, 17, FakeVolumes::Bus::Usb, true);
    volumes.Mount(8, 17, stickRoot.toStdString());
    ASSERT_TRUE(WaitFor(State::OptionalUpdate));
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
  std::unique_ptr<StateMachine> machine;
};

StateList Then(StateList states, const StateList& more)
{
  states.insert(states.end(), more.begin(), more.end());
  return states;
}

// The root maps, the stick's check, the related check for it and its offer.
const StateList ToOptional = {State::MapUpdateCheck, State::RootUpdate, State::UsbCheck,
                              State::MapUpdateCheck, State::OptionalUpdate};

} // namespace

// The map offered for the stick is downloaded onto it, waits there for the
// vehicle, and is discarded again; every reaction of the run, in order.
TEST(Road, OptionalUpdateDownloadedOntoTheStickThenDiscarded)
{
  Road road;
  ASSERT_NO_FATAL_FAILURE(road.StartAndInsert());
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
  ASSERT_TRUE(road.WaitFor(State::OptionalUpdate));
  EXPECT_FALSE(road.OnStick("OrvaneNDSFull"));
  EXPECT_EQ(MapStorage::Get().GetMap(Newer).state, MapInfo::Available);
  EXPECT_TRUE(road.OnStick("OrvaneNDSUpdate/CHECKSUMS.MD5")) << "the vehicle's files stay";
  EXPECT_EQ(road.Shown(), Then(ToOptional, {State::MapDownload, State::PendingUpdate, State::CancelDownload,
                                            State::OptionalUpdate}));
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
               "Got OptionalUpdate event: switching to OptionalUpdate state",
               "Got DownloadMap event: switching to MapDownload state", "Got MapDownloadStarted event",
               "Got FinishDownload event: switching to PendingUpdate state",
               "Got CancelDownload event: switching to CancelDownload state", "Got MapDeletionStarted event",
               "Got CancelDownload event", "Switching to OptionalUpdate state", "Left Common state"}));
}

// The download stops answering half-way; the user's retry resumes it where
// it stopped.
TEST(Road, NoConnectionDuringTheDownloadThenTheRetryResumesIt)
{
  Road road;
  ASSERT_NO_FATAL_FAILURE(road.StartAndInsert());
  TestSupport::TimeScale fast(0.02); // time-out 200 ms, the download's retry window 1.2 s
  const Answer whole = Answer::Ok(road.newerArchive, "application/x-tar");
  Service().ServeSequence(NewerArchive, {Answer(whole).StallAfter(65536), Answer::Silent()});
  emit road.Ui().DownloadMap(Newer);
  ASSERT_TRUE(road.WaitFor(State::NoConnection));
  EXPECT_EQ(MapStorage::Get().GetMap(Newer).state, MapInfo::Downloading);

  Service().Serve(NewerArchive, whole);
  emit road.Ui().Retry();
  ASSERT_TRUE(road.WaitFor(State::PendingUpdate));
  EXPECT_EQ(Service().RequestsTo(NewerArchive).last().Header("Range"), "bytes=65536-");
  EXPECT_TRUE(road.OnStick("OrvaneNDSFull/EUR_2025_06.meta.xml"));
  EXPECT_EQ(road.Shown(), Then(ToOptional, {State::MapDownload, State::NoConnection, State::MapDownload,
                                            State::PendingUpdate}));
  EXPECT_TRUE(Contains(road.Messages(), "Got Retry event: switching to NetworkOperation state"));
}
