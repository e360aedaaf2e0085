// The update manager on its worker thread, driven as the state machine drives
// it (queued invocations by name, queued signals), against the loopback map
// service and real sticks: the map states and the head unit's space through a
// download, a cancellation, failures and retries, and the update checks.

#include "fmu/FullMapUpdateManager.h"
#include "DownloadSupport.h"
#include "MapStick.h"
#include "fmu/MapStorage.h"
#include "usb/UsbStorage.h"

#include <QCoreApplication>
#include <QThread>

#include <gtest/gtest.h>

using namespace TestSupport;
using Strings = std::vector<std::string>;

namespace {

constexpr qint64 HeadUnitSpace = 8LL * 1024 * 1024 * 1024;

class FullMapUpdateManagerTest : public ::testing::Test
{
public:
  void SetUp() override
  {
    MapStorage::Get().Clear();
    MapStorage::Get().UpdateHeadUnit({QDate::currentDate().addYears(1), HeadUnitSpace, 2 * HeadUnitSpace});
    archive = MakeArchive("EUR_2024.06", 300000);
    manager = new FullMapUpdateManager({maps.Url(), maps.Key(), "OrvaneNDSUpdate/meta_data",
                                        "OrvaneNDSUpdate/meta_data/GENERAL.JSON",
                                        [] { return QStringLiteral("de_DE"); }});
    // As the state machine does: queued connections to an object of the main thread.
    const auto record = [this](const char* what) {
      return [this, what](auto result) {
        std::ostringstream text;
        text << what << ":" << result;
        events.push_back(text.str());
      };
    };
    QObject::connect(manager, &FullMapUpdateManager::RootUpdatesChecked, &receiver, record("Root"));
    QObject::connect(manager, &FullMapUpdateManager::RelatedUpdatesChecked, &receiver, record("Related"));
    QObject::connect(manager, &FullMapUpdateManager::OperationFinished, &receiver, record("Finished"));
    QObject::connect(manager, &FullMapUpdateManager::OperationStarted, &receiver,
                     [this] { events.push_back("Started"); });
    QObject::connect(manager, &FullMapUpdateManager::MapNamesUpdated, &receiver,
                     [this] { events.push_back("Names"); });
    // What the store holds at the moment of emission (read only after the
    // queued "Started" that follows has arrived).
    QObject::connect(
        manager, &FullMapUpdateManager::OperationStarted, manager,
        [this] { atStart.push_back(DownloadingMap().id + "|" + DeletingMap().id); }, Qt::DirectConnection);
    manager->moveToThread(&thread);
    thread.start();
  }

  void TearDown() override
  {
    thread.quit();
    thread.wait();
    delete manager;
    MapStorage::Get().Clear();
  }

  static qint64 Space() { return MapStorage::Get().GetHeadUnit().availableMapSpace; }
  static MapInfo Stored(const MapInfo::Id& id) { return MapStorage::Get().GetMap(id); }
  QString PathOf(const MapArchive& map) const { return QString::fromStdString("/maps/" + map.name + ".tar"); }
  MapInfo Offer(const MapArchive& map, const std::string& id, qint64 size = -1,
                MapInfo::State state = MapInfo::Available)
  {
    MapInfo info = MakeMap(id, service.Url(PathOf(map)).toStdString(), map);
    info.size = size >= 0 ? size : info.size;
    info.state = state;
    MapStorage::Get().UpdateMap(info);
    return info;
  }
  void Invoke(const char* slot, const MapInfo::Id& id = "")
  {
    ASSERT_TRUE(id.empty()
                    ? QMetaObject::invokeMethod(manager, slot, Qt::QueuedConnection)
                    : QMetaObject::invokeMethod(manager, slot, Qt::QueuedConnection, Q_ARG(MapInfo::Id, id)));
  }
  void Download(const MapInfo::Id& id) { Invoke("DownloadMap", id); }
  bool WaitForEvents(std::size_t count)
  {
    return WaitFor([&] { return events.size() >= count; }, 60000);
  }
  // Waits until the map's count holds the 100000 bytes a held answer sends,
  // so that no chunk is on its way when the test goes on.
  bool WaitForBytes()
  {
    return WaitFor([] { return Stored("EUR").downloaded == 100000; });
  }
  // Cancels and expects the map offered again with the space given back.
  void ExpectCancelled(const ActiveStick& stick)
  {
    const std::size_t before = events.size();
    Invoke("AbortMapDownload");
    ASSERT_TRUE(WaitForEvents(before + 2));
    EXPECT_EQ(events.back(), "Finished:Aborted");
    EXPECT_EQ(Stored("EUR").state, MapInfo::Available);
    EXPECT_EQ(Stored("EUR").downloaded, 0);
    EXPECT_EQ(Space(), HeadUnitSpace);
    EXPECT_FALSE(Exists(stick.FullMapFolder()));
  }

  DataHome home;
  TestService service;
  MapService maps{service};
  std::shared_ptr<MapArchive> archive;
  FullMapUpdateManager* manager = nullptr;
  QThread thread;
  QObject receiver;
  Strings events;
  Strings atStart;
};

} // namespace

TEST_F(FullMapUpdateManagerTest, ACancellationStopsARunningDownloadAndGivesItsSpaceBack)
{
  ActiveStick stick;
  service.Serve(PathOf(*archive), Answer::File(archive->file).HoldAfter(100000));
  Offer(*archive, "EUR");
  Download("EUR");
  ASSERT_TRUE(WaitForBytes());
  EXPECT_EQ(Space(), HeadUnitSpace - 100000);
  ExpectCancelled(stick);
  EXPECT_EQ(events, (Strings{"Started", "Started", "Finished:Aborted"}));
  EXPECT_EQ(atStart, (Strings{"EUR|", "|EUR"}));
}

// A failed download stays downloading, a retry goes on where the service
// stopped answering, the finished map waits on the stick for the vehicle,
// and a cancellation removes it and gives its space back.
TEST_F(FullMapUpdateManagerTest, AFailedDownloadStaysDownloadingARetryResumesItAndItEndsPending)
{
  TimeScale scale(0.1);
  ActiveStick stick;
  service.ServeSequence(PathOf(*archive), {Answer::File(archive->file).StallAfter(150000), Answer::Silent()});
  Offer(*archive, "EUR");
  Download("EUR");
  ASSERT_TRUE(WaitForEvents(2));
  EXPECT_EQ(Stored("EUR").state, MapInfo::Downloading);
  const qint64 written = Stored("EUR").downloaded;
  EXPECT_GT(written, 0);
  EXPECT_LE(written, 150000);
  EXPECT_EQ(Space(), HeadUnitSpace - written);

  service.Serve(PathOf(*archive), Answer::File(archive->file));
  Download("EUR");
  ASSERT_TRUE(WaitForEvents(4));
  EXPECT_EQ(events, (Strings{"Started", "Finished:NoConnection", "Started", "Finished:Ok"}));
  EXPECT_EQ(service.Requests().last().Header("Range"), "bytes=" + QByteArray::number(written) + "-");
  EXPECT_EQ(Stored("EUR").state, MapInfo::Pending);
  EXPECT_EQ(Listing(stick.FullMapFolder() / archive->name), archive->listing);
  // Every chunk is counted once the transfer has ended (the last counts may
  // arrive just after its result).
  const qint64 left = HeadUnitSpace - archive->bytes.size();
  EXPECT_TRUE(WaitFor([&] { return Space() <= left; }) && Space() == left) << Space();
  ExpectCancelled(stick);
}

namespace {

// A download or cancellation that cannot be carried out, or fails on the
// stick: what the manager reports, and the map's state afterwards. A map
// left downloading is cancelled at the end, which gives everything back.
struct Failure
{
  using Act = std::function<void(FullMapUpdateManagerTest&, ActiveStick*)>;
  Failure(const char* name, int stickMegabytes, Strings events, MapInfo::State state, Act act)
      : name(name), stickMegabytes(stickMegabytes), events(std::move(events)), state(state),
        act(std::move(act))
  {
  }
  const char* name;
  int stickMegabytes; // -1: no stick; 0: a plain folder; else a tmpfs of that size
  Strings events;
  MapInfo::State state; // of EUR afterwards
  Act act;
};

class ManagerFailureTest : public FullMapUpdateManagerTest, public ::testing::WithParamInterface<Failure>
{
};

} // namespace

TEST_P(ManagerFailureTest, EndsWithOneResultAndLeavesTheMapAsItShould)
{
  const Failure& failure = GetParam();
  std::unique_ptr<ActiveStick> stick;
  if (failure.stickMegabytes >= 0) {
    stick = std::make_unique<ActiveStick>(4720, failure.stickMegabytes);
    if (failure.stickMegabytes > 0 && !stick->Mounted())
      GTEST_SKIP() << "needs a tmpfs mount: " << stick->MountError();
  }
  Offer(*archive, "EUR");
  failure.act(*this, stick.get());
  ASSERT_TRUE(WaitForEvents(failure.events.size()));
  QCoreApplication::processEvents();
  EXPECT_EQ(events, failure.events);
  EXPECT_EQ(Stored("EUR").state, failure.state);
  if (failure.state == MapInfo::Downloading)
    ExpectCancelled(*stick);
}

INSTANTIATE_TEST_SUITE_P(
    Manager, ManagerFailureTest,
    ::testing::Values(Failure("NoStick", -1, {"Finished:UsbRemoved"}, MapInfo::Available,
                              [](auto& t, auto) { t.Download("EUR"); }),
                      Failure("MapNotStored", 0, {"Finished:ServerError"}, MapInfo::Available,
                              [](auto& t, auto) { t.Download("NOT_STORED"); }),
                      Failure("MapOnTheStickAlready", 0, {"Finished:ServerError"}, MapInfo::Pending,
                              [](auto& t, auto) {
                                t.Offer(*t.archive, "EUR", -1, MapInfo::Pending);
                                t.Download("EUR");
                              }),
                      Failure("NothingToCancel", 0, {"Started", "Finished:Aborted"}, MapInfo::Available,
                              [](auto& t, auto) { t.Invoke("AbortMapDownload"); }),
                      Failure("SecondDownloadWhileOneRuns", 0,
                              {"Started", "Finished:UsbBlocked", "Finished:Ok"}, MapInfo::Pending,
                              [](auto& t, auto) {
                                t.service.Serve(t.PathOf(*t.archive),
                                                Answer::File(t.archive->file).HoldAfter(100000));
                                t.Offer(*t.archive, "NAM");
                                t.Download("EUR");
                                ASSERT_TRUE(t.WaitForBytes());
                                t.Download("NAM");
                                ASSERT_TRUE(t.WaitForEvents(2));
                                t.service.ReleaseHeld();
                              }),
                      Failure("SecondDownloadWhileOneWaitsOnTheStick", 0, {"Finished:UsbBlocked"},
                              MapInfo::Pending,
                              [](auto& t, auto) {
                                t.Offer(*t.archive, "EUR", -1, MapInfo::Pending);
                                t.Offer(*t.archive, "NAM");
                                t.Download("NAM");
                              }),
                      Failure("TooSmall", 4, {"Started", "Finished:UsbTooSmall"}, MapInfo::Downloading,
                              [](auto& t, auto) {
                                t.Offer(*t.archive, "EUR", 5 * 1024 * 1024);
                                t.Download("EUR");
                              }),
                      Failure("ReadOnly", 4, {"Started", "Finished:UsbBlocked"}, MapInfo::Downloading,
                              [](auto& t, ActiveStick* stick) {
                                ASSERT_TRUE(stick->SetReadOnly(true));
                                t.Download("EUR");
                              })),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FullMapUpdateManagerTest, UpdateChecksPassTheirResultsOn)
{
  const ServedMap installed = MakeServedMap("EUR_2023_06", "2023.06", "EUR", "Europa");
  maps.AddMap(installed);
  maps.AddMap(MakeServedMap("EUR_2024_06", "2024.06", "EUR", "Europa"));
  maps.AddRoot("EUR_ROOT", {"EUR_2024_06"});
  maps.SetRelated("EUR_2023_06", {"EUR_2023_06", "EUR_2024_06"});

  // Without a stick: the root check; a new language asks for the names again
  // and reports the root check's result once more, marked as such.
  Invoke("CheckMapUpdates");
  ASSERT_TRUE(WaitForEvents(1));
  EXPECT_TRUE(Stored("EUR_2024_06").root);
  const int names = maps.Requests("localedata").size();
  Invoke("UpdateLocale");
  ASSERT_TRUE(WaitForEvents(3));
  EXPECT_EQ(maps.Requests("localedata").size(), names + 1);

  // The active stick with valid metadata gets the related check. A stick
  // whose metadata failed its check is reported at once; a stick without map
  // metadata, or whose folder has gone (pulled before the discovery noticed),
  // gets the root check, whose failure is passed on unchanged.
  MapStick mapStick;
  mapStick.WriteVehicleFiles(installed, "2099-12-31");
  maps.Override("allroots", "", {Answer::Ok("<not a package list")});
  for (const auto& [state, path] : {std::pair{UsbInfo::ValidMetadata, mapStick.Path()},
                                    {UsbInfo::InvalidMetadata, mapStick.Path()},
                                    {UsbInfo::NoMetadata, mapStick.Path()},
                                    {UsbInfo::ValidMetadata, mapStick.Path() + "/pulled"}}) {
    UsbStorage::Get().UpdateUsb({31, path, 0, 0, state, true});
    Invoke("CheckMapUpdates");
    ASSERT_TRUE(WaitForEvents(events.size() + 1));
    if (events.size() == 4) {
      EXPECT_EQ(InstalledMap().id, "EUR_2023_06");
      EXPECT_EQ(OptionalMap().id, "EUR_2024_06");
    }
  }
  EXPECT_EQ(events, (Strings{"Root:Ok", "Names", "Root:Ok", "Related:Ok", "Related:InvalidMetadata",
                             "Root:ServerError", "Root:ServerError"}));
  UsbStorage::Get().RemoveUsb(31);
}
