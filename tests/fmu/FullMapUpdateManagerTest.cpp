// The update manager on its worker thread, driven as the state machine drives
// it (queued invocations by name, queued signals), against the loopback map
// service and real sticks: the map states and the head unit's space through a
// download, a cancellation, failures and retries, and the update checks.

#include "fmu/FullMapUpdateManager.h"
#include "DownloadSupport.h"
#include "MapService.h"
#include "MapStick.h"
#include "TestService.h"
#include "fmu/MapStorage.h"
#include "usb/UsbStorage.h"

#include <QCoreApplication>
#include <QThread>

#include <gtest/gtest.h>

#include <mutex>
#include <sstream>

using namespace TestSupport;
using Strings = std::vector<std::string>;

namespace {

constexpr qint64 HeadUnitSpace = 8LL * 1024 * 1024 * 1024;

template <typename T>
std::string Text(const char* what, T value)
{
  std::ostringstream text;
  text << what << ":" << value;
  return text.str();
}

qint64 Space()
{
  return MapStorage::Get().GetHeadUnit().availableMapSpace;
}

MapInfo Stored(const MapInfo::Id& id)
{
  return MapStorage::Get().GetMap(id);
}

// The space once every chunk of a finished transfer is counted (the last
// counts may arrive just after its result).
::testing::AssertionResult SpaceSettlesAt(qint64 expected)
{
  if (WaitFor([&] { return Space() <= expected; }) && Space() == expected)
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "space " << Space() << ", expected " << expected;
}

class FullMapUpdateManagerTest : public ::testing::Test
{
protected:
  void SetUp() override
  {
    MapStorage::Get().Clear();
    MapStorage::Get().UpdateHeadUnit({QDate::currentDate().addYears(1), HeadUnitSpace, 2 * HeadUnitSpace});
    archive = MakeArchive("EUR_2024.06", 300000);
    MetadataChecker::Setup setup;
    setup.serviceUrl = maps.Url();
    setup.serviceKey = maps.Key();
    setup.metadataDir = "OrvaneNDSUpdate/meta_data";
    setup.headUnitFile = "OrvaneNDSUpdate/meta_data/GENERAL.JSON";
    setup.locale = [] { return QStringLiteral("de_DE"); };
    manager = new FullMapUpdateManager(setup);
    // As the state machine does: queued connections to an object of the main thread.
    QObject::connect(manager, &FullMapUpdateManager::RootUpdatesChecked, &receiver,
                     [this](MetadataChecker::Result result) { events.push_back(Text("Root", result)); });
    QObject::connect(manager, &FullMapUpdateManager::RelatedUpdatesChecked, &receiver,
                     [this](MetadataChecker::Result result) { events.push_back(Text("Related", result)); });
    QObject::connect(manager, &FullMapUpdateManager::OperationStarted, &receiver,
                     [this] { events.push_back("Started"); });
    QObject::connect(manager, &FullMapUpdateManager::OperationFinished, &receiver,
                     [this](MapDownloader::Result result) { events.push_back(Text("Finished", result)); });
    // What the store holds at the moment of emission, and on which thread.
    QObject::connect(
        manager, &FullMapUpdateManager::OperationStarted, manager,
        [this] {
          std::lock_guard<std::mutex> lock(mutex);
          startedOn = QThread::currentThread();
          atStart.push_back(DownloadingMap().id + "|" + DeletingMap().id);
        },
        Qt::DirectConnection);
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
  void Invoke(const char* slot)
  {
    ASSERT_TRUE(QMetaObject::invokeMethod(manager, slot, Qt::QueuedConnection));
  }
  void Download(const MapInfo::Id& id)
  {
    ASSERT_TRUE(
        QMetaObject::invokeMethod(manager, "DownloadMap", Qt::QueuedConnection, Q_ARG(MapInfo::Id, id)));
  }
  ::testing::AssertionResult WaitForEvents(std::size_t count)
  {
    if (WaitFor([&] { return events.size() >= count; }, 60000))
      return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "only " << events.size() << " of " << count << " signals arrived";
  }
  // Waits until the map's count holds `bytes` (all that a held answer sends),
  // so that no chunk is on its way when the test goes on.
  bool WaitForBytes(qint64 bytes = 100000)
  {
    return WaitFor([=] { return Stored("EUR").downloaded == bytes; });
  }
  Strings AtStart()
  {
    std::lock_guard<std::mutex> lock(mutex);
    return atStart;
  }
  // Cancels and expects the map offered again with the space given back.
  void ExpectCancelled(const ActiveStick& stick, bool spaceBack = true)
  {
    const std::size_t before = events.size();
    Invoke("AbortMapDownload");
    ASSERT_TRUE(WaitForEvents(before + 2));
    EXPECT_EQ(events.back(), "Finished:Aborted");
    EXPECT_EQ(Stored("EUR").state, MapInfo::Available);
    EXPECT_EQ(Stored("EUR").downloaded, 0);
    EXPECT_TRUE(!spaceBack || Space() == HeadUnitSpace) << Space();
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
  std::mutex mutex;
  QThread* startedOn = nullptr;
  Strings atStart;
};

} // namespace

TEST_F(FullMapUpdateManagerTest, ADownloadEndsPendingAndACancellationGivesEverythingBack)
{
  ActiveStick stick;
  service.Serve(PathOf(*archive), Answer::File(archive->file));
  Offer(*archive, "EUR");
  Download("EUR");
  ASSERT_TRUE(WaitForEvents(2));
  EXPECT_EQ(events, (Strings{"Started", "Finished:Ok"}));
  EXPECT_EQ(AtStart(), Strings{"EUR|"});
  EXPECT_EQ(startedOn, &thread);
  EXPECT_EQ(Stored("EUR").state, MapInfo::Pending);
  EXPECT_EQ(Stored("EUR").downloaded, Stored("EUR").size);
  EXPECT_TRUE(SpaceSettlesAt(HeadUnitSpace - archive->bytes.size()));
  EXPECT_EQ(Listing(stick.FullMapFolder() / archive->name), archive->listing);
  ExpectCancelled(stick);
  EXPECT_EQ(AtStart().back(), "|EUR");

  // A running download is stopped the same way.
  service.Serve(PathOf(*archive), Answer::File(archive->file).HoldAfter(100000));
  Download("EUR");
  ASSERT_TRUE(WaitForBytes());
  EXPECT_LT(Space(), HeadUnitSpace);
  ExpectCancelled(stick);
  EXPECT_EQ(Strings(events.begin() + 4, events.end()), (Strings{"Started", "Started", "Finished:Aborted"}));
}

// A retry after a checksum mismatch starts afresh without counting twice; a
// retry after the service stopped answering resumes where it stopped.
TEST_F(FullMapUpdateManagerTest, AFailedDownloadStaysDownloadingAndARetryRestartsOrResumesIt)
{
  TimeScale scale(0.1);
  ActiveStick stick;
  QByteArray corrupt = archive->bytes;
  corrupt.data()[corrupt.size() * 3 / 4] ^= 1; // inside the data of data/region.bin
  service.ServeSequence(PathOf(*archive), {Answer::File(archive->WriteVariant("corrupt.tar", corrupt)),
                                           Answer::File(archive->file).StallAfter(150000), Answer::Silent()});
  Offer(*archive, "EUR");
  Download("EUR");
  ASSERT_TRUE(WaitForEvents(2));
  EXPECT_EQ(Stored("EUR").state, MapInfo::Downloading);
  Download("EUR");
  ASSERT_TRUE(WaitForEvents(4));
  EXPECT_FALSE(service.Requests()[1].HasHeader("Range"));
  EXPECT_EQ(Stored("EUR").state, MapInfo::Downloading);
  const qint64 written = Stored("EUR").downloaded;
  EXPECT_GT(written, 0);
  EXPECT_LE(written, 150000);
  EXPECT_EQ(Space(), HeadUnitSpace - written);

  service.Serve(PathOf(*archive), Answer::File(archive->file));
  Download("EUR");
  ASSERT_TRUE(WaitForEvents(6));
  EXPECT_EQ(events, (Strings{"Started", "Finished:ServerError", "Started", "Finished:NoConnection", "Started",
                             "Finished:Ok"}));
  EXPECT_EQ(service.Requests().last().Header("Range"), "bytes=" + QByteArray::number(written) + "-");
  EXPECT_EQ(Stored("EUR").state, MapInfo::Pending);
  EXPECT_TRUE(SpaceSettlesAt(HeadUnitSpace - archive->bytes.size()));
}

class ManagerFailureTest;

namespace {

// A download or cancellation that cannot be carried out, or fails on the
// stick: what the manager reports, and the map's state afterwards. A map
// left downloading is cancelled at the end, which gives everything back.
struct Failure
{
  const char* name;
  int stickMegabytes; // -1: no stick; 0: a plain folder; else a tmpfs of that size
  std::function<void(ManagerFailureTest&, ActiveStick*)> act;
  Strings events;
  MapInfo::State state; // of EUR afterwards
};

void PrintTo(const Failure& failure, std::ostream* os)
{
  *os << failure.name;
}

} // namespace

class ManagerFailureTest : public FullMapUpdateManagerTest, public ::testing::WithParamInterface<Failure>
{
public:
  // The test's parts for the table's actions.
  using FullMapUpdateManagerTest::Download;
  using FullMapUpdateManagerTest::Invoke;
  using FullMapUpdateManagerTest::Offer;
  using FullMapUpdateManagerTest::PathOf;
  using FullMapUpdateManagerTest::WaitForBytes;
  using FullMapUpdateManagerTest::WaitForEvents;
  MapArchive& Archive() { return *archive; }
  TestService& Service() { return service; }
  std::shared_ptr<MapArchive> big;
};

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
  // The chunk being written when the stick ran full lands on it uncounted
  // and is given back by the removal: the space is not checked then.
  if (failure.state == MapInfo::Downloading && UsbStorage::Get().GetActiveUsb().Valid())
    ExpectCancelled(*stick, std::string(failure.name) != "FullDuringTheDownload");
}

INSTANTIATE_TEST_SUITE_P(
    Manager, ManagerFailureTest,
    ::testing::Values(Failure{"NoStick",
                              -1,
                              [](auto& t, auto) { t.Download("EUR"); },
                              {"Finished:UsbRemoved"},
                              MapInfo::Available},
                      Failure{"MapNotStored",
                              0,
                              [](auto& t, auto) { t.Download("NOT_STORED"); },
                              {"Finished:ServerError"},
                              MapInfo::Available},
                      Failure{"MapOnTheStickAlready",
                              0,
                              [](auto& t, auto) {
                                t.Offer(t.Archive(), "EUR", -1, MapInfo::Pending);
                                t.Download("EUR");
                              },
                              {"Finished:ServerError"},
                              MapInfo::Pending},
                      Failure{"NothingToCancel",
                              0,
                              [](auto& t, auto) { t.Invoke("AbortMapDownload"); },
                              {"Started", "Finished:Aborted"},
                              MapInfo::Available},
                      Failure{"SecondDownloadWhileOneRuns",
                              0,
                              [](auto& t, auto) {
                                t.Service().Serve(t.PathOf(t.Archive()),
                                                  Answer::File(t.Archive().file).HoldAfter(100000));
                                t.Offer(t.Archive(), "NAM");
                                t.Download("EUR");
                                t.Download("NAM");
                                ASSERT_TRUE(t.WaitForBytes());
                                t.Service().ReleaseHeld();
                              },
                              {"Started", "Finished:UsbBlocked", "Finished:Ok"},
                              MapInfo::Pending},
                      Failure{"TooSmall",
                              4,
                              [](auto& t, auto) {
                                t.Offer(t.Archive(), "EUR", 5 * 1024 * 1024);
                                t.Download("EUR");
                              },
                              {"Started", "Finished:UsbTooSmall"},
                              MapInfo::Downloading},
                      Failure{"FullDuringTheDownload",
                              4,
                              [](auto& t, ActiveStick* stick) {
                                t.big = MakeArchive("EUR_2024.09", 2500000);
                                t.Service().Serve(t.PathOf(*t.big),
                                                  Answer::File(t.big->file).HoldAfter(100000));
                                t.Offer(*t.big, "EUR");
                                t.Download("EUR");
                                ASSERT_TRUE(t.WaitForBytes());
                                ASSERT_TRUE(Fill(stick->Path(), 32 * 1024));
                                t.Service().ReleaseHeld();
                              },
                              {"Started", "Finished:UsbFull"},
                              MapInfo::Downloading},
                      Failure{"ReadOnly",
                              4,
                              [](auto& t, ActiveStick* stick) {
                                ASSERT_TRUE(stick->SetReadOnly(true));
                                t.Download("EUR");
                              },
                              {"Started", "Finished:UsbBlocked"},
                              MapInfo::Downloading},
                      Failure{"PulledDuringTheDownload",
                              16,
                              [](auto& t, ActiveStick* stick) {
                                t.Service().Serve(t.PathOf(t.Archive()),
                                                  Answer::File(t.Archive().file).HoldAfter(100000));
                                t.Download("EUR");
                                ASSERT_TRUE(t.WaitForBytes());
                                ASSERT_TRUE(stick->Pull());
                                t.Service().ReleaseHeld();
                                ASSERT_TRUE(t.WaitForEvents(2));
                                // Gone from the stick store too: a download asked for now ends at once.
                                stick->Forget();
                                t.Download("EUR");
                              },
                              {"Started", "Finished:UsbRemoved", "Finished:UsbRemoved"},
                              MapInfo::Downloading}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FullMapUpdateManagerTest, ProgressBeyondTheMapSizeLowersTheSpaceByEveryByteWritten)
{
  ActiveStick stick;
  service.Serve(PathOf(*archive), Answer::File(archive->file));
  // The service announced a little less than it sends.
  const MapInfo map = Offer(*archive, "EUR", archive->bytes.size() - 10000);
  Download("EUR");
  ASSERT_TRUE(WaitForEvents(2));
  EXPECT_EQ(events.back(), "Finished:Ok");
  EXPECT_EQ(Stored("EUR").downloaded, map.size);
  EXPECT_TRUE(SpaceSettlesAt(HeadUnitSpace - archive->bytes.size()));
  Invoke("AbortMapDownload");
  ASSERT_TRUE(WaitForEvents(4));
  EXPECT_EQ(Stored("EUR").downloaded, 0);
  // The removal gives back the files' bytes and the rest of the map's count;
  // the tar headers written beyond the announced size stay counted.
  EXPECT_LE(Space(), HeadUnitSpace);
  EXPECT_GT(Space(), HeadUnitSpace - archive->bytes.size());
}

TEST_F(FullMapUpdateManagerTest, UpdateChecksPassTheirResultsOn)
{
  ServedMap installed;
  installed.id = "EUR_2023_06";
  installed.mapLineId = installed.region = "EUR";
  installed.release = "2023.06";
  installed.names["de-DE"] = "Europa";
  ServedMap eur = installed;
  eur.id = "EUR_2024_06";
  eur.release = "2024.06";
  maps.AddMap(installed);
  maps.AddMap(eur);
  maps.AddRoot("EUR_ROOT", {"EUR_2024_06"});
  maps.SetRelated("EUR_2023_06", {"EUR_2023_06", "EUR_2024_06"});

  // Without a stick: the root check; a new language asks for the names again.
  Invoke("CheckMapUpdates");
  ASSERT_TRUE(WaitForEvents(1));
  EXPECT_TRUE(Stored("EUR_2024_06").root);
  const int names = maps.Requests("localedata").size();
  Invoke("UpdateLocale");
  EXPECT_TRUE(WaitFor([&] { return maps.Requests("localedata").size() == names + 1; }));

  // The active stick with valid metadata gets the related check. A stick
  // whose metadata failed its check is reported at once; a stick without map
  // metadata, or whose folder has gone (pulled before the discovery noticed),
  // gets the root check, whose failure is passed on unchanged.
  MapStick mapStick;
  mapStick.WriteMetadata(installed);
  mapStick.WriteHeadUnit(QDate::currentDate().addYears(1).toString(Qt::ISODate).toStdString(), 1000000000,
                         3000000000);
  maps.Override("allroots", "", {Answer::Ok("<not a package list")});
  UsbInfo usb;
  usb.id = 31;
  usb.active = true;
  for (const auto& [state, path] : {std::pair{UsbInfo::ValidMetadata, mapStick.Path()},
                                    {UsbInfo::InvalidMetadata, mapStick.Path()},
                                    {UsbInfo::NoMetadata, mapStick.Path()},
                                    {UsbInfo::ValidMetadata, mapStick.Path() + "/pulled"}}) {
    usb.state = state;
    usb.path = path;
    UsbStorage::Get().UpdateUsb(usb);
    Invoke("CheckMapUpdates");
    ASSERT_TRUE(WaitForEvents(events.size() + 1));
    if (events.size() == 2) {
      EXPECT_EQ(InstalledMap().id, "EUR_2023_06");
      EXPECT_EQ(OptionalMap().id, "EUR_2024_06");
    }
  }
  EXPECT_EQ(events, (Strings{"Root:Ok", "Related:Ok", "Related:InvalidMetadata", "Root:ServerError",
                             "Root:ServerError"}));
  UsbStorage::Get().RemoveUsb(31);
}
