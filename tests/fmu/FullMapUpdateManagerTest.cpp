// The update manager on its worker thread, driven as the state machine drives
// it (queued invocations by name, queued signals), against the loopback map
// service and real sticks: the map states and the head unit's space through a
// download, a cancellation, failures and retries, the refusals, and the
// update checks.

#include "fmu/FullMapUpdateManager.h"
#include "DownloadSupport.h"
#include "LogCapture.h"
#include "MapService.h"
#include "MapStick.h"
#include "TestService.h"
#include "fmu/MapStorage.h"
#include "usb/UsbStorage.h"

#include <boost/filesystem/operations.hpp>

#include <QTest>
#include <QThread>

#include <gtest/gtest.h>

#include <mutex>
#include <sstream>

namespace fs = boost::filesystem;
using namespace TestSupport;
using TestSupport::Answer;
using TestSupport::MapService;
using TestSupport::ServedMap;
using Strings = std::vector<std::string>;

namespace {

constexpr qint64 kHeadUnitSpace = 8LL * 1024 * 1024 * 1024;

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
  if (QTest::qWaitFor([&] { return Space() <= expected; }, 20000) && Space() == expected)
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "space " << Space() << ", expected " << expected;
}

} // namespace

class FullMapUpdateManagerTest : public ::testing::Test
{
protected:
  void SetUp() override
  {
    MapStorage::Get().Clear();
    MapStorage::Get().UpdateHeadUnit({QDate::currentDate().addYears(1), kHeadUnitSpace, 2 * kHeadUnitSpace});
    archive = MakeArchive("EUR_2024.06", 300000);

    MetadataChecker::Setup setup;
    setup.serviceUrl = maps.Url();
    setup.serviceKey = maps.Key();
    setup.metadataDir = "OrvaneNDSUpdate/meta_data";
    setup.headUnitFile = "OrvaneNDSUpdate/meta_data/GENERAL.JSON";
    setup.locale = [] { return QStringLiteral("de_DE"); };
    manager = new FullMapUpdateManager(setup);

    // As the state machine does: queued connections to an object of the main
    // thread. The map store is read when the signal arrives.
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
  MapInfo Offer(const MapArchive& map, const std::string& id, qint64 size = -1)
  {
    MapInfo info = MakeMap(id, service.Url(PathOf(map)).toStdString(), map);
    if (size >= 0)
      info.size = size;
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
    if (QTest::qWaitFor([&] { return events.size() >= count; }, 60000))
      return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "only " << events.size() << " of " << count << " signals arrived";
  }
  bool WaitForBytes()
  {
    return QTest::qWaitFor([] { return Stored("EUR").downloaded > 0; }, 20000);
  }
  Strings AtStart()
  {
    std::lock_guard<std::mutex> lock(mutex);
    return atStart;
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
    EXPECT_EQ(Space(), kHeadUnitSpace);
    EXPECT_FALSE(Exists(stick.FullMapFolder()));
  }

  DataHome home;
  TestSupport::TestService service;
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
  EXPECT_TRUE(SpaceSettlesAt(kHeadUnitSpace - archive->bytes.size()));
  EXPECT_EQ(Listing(stick.FullMapFolder() / archive->name), archive->listing);
  EXPECT_TRUE(Exists(stick.FullMapFolder() / (archive->name + ".meta.xml")));

  ExpectCancelled(stick);
  EXPECT_EQ(events, (Strings{"Started", "Finished:Ok", "Started", "Finished:Aborted"}));
  EXPECT_EQ(AtStart().back(), "|EUR");

  // A running download is stopped the same way.
  service.Serve(PathOf(*archive), Answer::File(archive->file).HoldAfter(100000));
  Download("EUR");
  ASSERT_TRUE(WaitForBytes());
  EXPECT_LT(Space(), kHeadUnitSpace);
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
  EXPECT_EQ(events.back(), "Finished:ServerError");
  EXPECT_EQ(Stored("EUR").state, MapInfo::Downloading);

  Download("EUR");
  ASSERT_TRUE(WaitForEvents(4));
  EXPECT_EQ(events.back(), "Finished:NoConnection");
  EXPECT_FALSE(service.Requests()[1].HasHeader("Range"));
  EXPECT_EQ(Stored("EUR").state, MapInfo::Downloading);
  const qint64 written = Stored("EUR").downloaded;
  EXPECT_GT(written, 0);
  EXPECT_LE(written, 150000);
  EXPECT_EQ(Space(), kHeadUnitSpace - written);

  service.Serve(PathOf(*archive), Answer::File(archive->file));
  Download("EUR");
  ASSERT_TRUE(WaitForEvents(6));
  EXPECT_EQ(events, (Strings{"Started", "Finished:ServerError", "Started", "Finished:NoConnection", "Started",
                             "Finished:Ok"}));
  EXPECT_EQ(service.Requests().last().Header("Range"), "bytes=" + QByteArray::number(written) + "-");
  EXPECT_EQ(Stored("EUR").state, MapInfo::Pending);
  EXPECT_TRUE(SpaceSettlesAt(kHeadUnitSpace - archive->bytes.size()));
  EXPECT_EQ(Listing(stick.FullMapFolder() / archive->name), archive->listing);
}

// A download that fails on the stick leaves the map downloading; its
// cancellation removes what was written and gives the space back.
TEST_F(FullMapUpdateManagerTest, AStickFailureKeepsTheMapDownloadingUntilCancelled)
{
  const auto big = MakeArchive("EUR_2024.09", 2500000);
  const struct
  {
    const char* expected;
    std::function<void(ActiveStick&)> before;
    std::function<void(ActiveStick&)> during;
  } cases[] = {
      {"Finished:UsbTooSmall", [&](ActiveStick&) { Offer(*archive, "EUR", 5 * 1024 * 1024); }, nullptr},
      {"Finished:UsbFull",
       [&](ActiveStick&) {
         service.Serve(PathOf(*big), Answer::File(big->file).HoldAfter(100000));
         Offer(*big, "EUR");
       },
       [&](ActiveStick& stick) {
         ASSERT_TRUE(WaitForBytes());
         ASSERT_TRUE(Fill(stick.Path(), 32 * 1024));
         service.ReleaseHeld();
       }},
      {"Finished:UsbBlocked",
       [&](ActiveStick& stick) {
         ASSERT_TRUE(stick.SetReadOnly(true));
         Offer(*archive, "EUR");
       },
       nullptr},
  };
  UsbInfo::Id id = 4720;
  for (const auto& test : cases) {
    SCOPED_TRACE(test.expected);
    events.clear();
    ActiveStick stick(++id, 4);
    if (!stick.Mounted())
      GTEST_SKIP() << "needs a tmpfs mount: " << stick.MountError();
    test.before(stick);
    Download("EUR");
    if (test.during)
      test.during(stick);
    ASSERT_TRUE(WaitForEvents(2));
    EXPECT_EQ(events, (Strings{"Started", test.expected}));
    EXPECT_EQ(Stored("EUR").state, MapInfo::Downloading);
    ExpectCancelled(stick);
  }
  EXPECT_EQ(service.RequestCount(), 1) << "only the map that fits is asked for";
}

TEST_F(FullMapUpdateManagerTest, AStickPulledDuringTheDownloadIsUsbRemoved)
{
  ActiveStick stick(4722, 16);
  if (!stick.Mounted())
    GTEST_SKIP() << "needs a tmpfs mount: " << stick.MountError();
  service.Serve(PathOf(*archive), Answer::File(archive->file).HoldAfter(100000));
  Offer(*archive, "EUR");
  Download("EUR");
  ASSERT_TRUE(WaitForBytes());
  ASSERT_TRUE(stick.Pull());
  service.ReleaseHeld();
  ASSERT_TRUE(WaitForEvents(2));
  EXPECT_EQ(events, (Strings{"Started", "Finished:UsbRemoved"}));
  EXPECT_EQ(Stored("EUR").state, MapInfo::Downloading);

  // The stick has gone from the stick store too: a download asked for now
  // ends as UsbRemoved at once.
  stick.Forget();
  Download("EUR");
  ASSERT_TRUE(WaitForEvents(3));
  EXPECT_EQ(events.back(), "Finished:UsbRemoved");
  EXPECT_EQ(Stored("EUR").state, MapInfo::Downloading);
}

TEST_F(FullMapUpdateManagerTest, RequestsThatCannotBeCarriedOutEndAtOnceWithAResult)
{
  LogCapture log;
  Offer(*archive, "EUR");
  // No stick.
  Download("EUR");
  ASSERT_TRUE(WaitForEvents(1));
  EXPECT_EQ(events, Strings{"Finished:UsbRemoved"});
  EXPECT_EQ(Stored("EUR").state, MapInfo::Available);

  // A map that is not stored, and one waiting on the stick: neither is started.
  ActiveStick stick;
  Download("NOT_STORED");
  MapInfo pending = Offer(*archive, "PENDING");
  pending.state = MapInfo::Pending;
  MapStorage::Get().UpdateMap(pending);
  Download("PENDING");
  ASSERT_TRUE(WaitForEvents(3));
  EXPECT_EQ(events, (Strings{"Finished:UsbRemoved", "Finished:ServerError", "Finished:ServerError"}));
  EXPECT_FALSE(Stored("NOT_STORED").Valid());
  EXPECT_EQ(Stored("PENDING").state, MapInfo::Pending);
  EXPECT_TRUE(AtStart().empty());

  // Nothing to cancel.
  MapStorage::Get().RemoveMap("PENDING");
  Invoke("AbortMapDownload");
  ASSERT_TRUE(WaitForEvents(5));
  EXPECT_EQ(events[3] + events[4], "StartedFinished:Aborted");
  EXPECT_EQ(Stored("EUR").state, MapInfo::Available);

  EXPECT_EQ(log.Count("Usb was removed"), 1);
  EXPECT_EQ(log.Count("Failed to download map: invalid map state"), 2);
  EXPECT_EQ(log.Count("No suitable map found"), 1);
  EXPECT_EQ(service.RequestCount(), 0);
}

TEST_F(FullMapUpdateManagerTest, ASecondDownloadIsRefusedWhileOneRuns)
{
  ActiveStick stick;
  service.Serve(PathOf(*archive), Answer::File(archive->file).HoldAfter(100000));
  Offer(*archive, "EUR");
  Offer(*archive, "NAM");
  Download("EUR");
  Download("NAM");
  ASSERT_TRUE(WaitForEvents(2));
  ASSERT_TRUE(service.WaitForRequests(1));
  service.ReleaseHeld();
  ASSERT_TRUE(WaitForEvents(3));
  EXPECT_EQ(events, (Strings{"Started", "Finished:UsbBlocked", "Finished:Ok"}));
  EXPECT_EQ(Stored("EUR").state, MapInfo::Pending);
  EXPECT_EQ(Stored("NAM").state, MapInfo::Available);
  EXPECT_EQ(service.RequestCount(), 1);
  EXPECT_EQ(Listing(stick.FullMapFolder() / archive->name), archive->listing);
}

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
  EXPECT_TRUE(SpaceSettlesAt(kHeadUnitSpace - archive->bytes.size()));

  Invoke("AbortMapDownload");
  ASSERT_TRUE(WaitForEvents(4));
  EXPECT_EQ(Stored("EUR").downloaded, 0);
  // The removal gives back the files' bytes and the rest of the map's count;
  // the tar headers written beyond the announced size stay counted.
  EXPECT_LE(Space(), kHeadUnitSpace);
  EXPECT_GT(Space(), kHeadUnitSpace - archive->bytes.size());
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
  eur.url = service.Url(PathOf(*archive)).toStdString();
  eur.checksum = archive->md5;
  eur.size = archive->bytes.size();
  maps.AddMap(installed);
  maps.AddMap(eur);
  maps.AddRoot("EUR_ROOT", {"EUR_2024_06"});
  maps.SetRelated("EUR_2023_06", {"EUR_2023_06", "EUR_2024_06"});

  // Without a stick: the root check.
  Invoke("CheckMapUpdates");
  ASSERT_TRUE(WaitForEvents(1));
  EXPECT_EQ(events, Strings{"Root:Ok"});
  EXPECT_EQ(Stored("EUR_2024_06").state, MapInfo::Available);
  EXPECT_TRUE(Stored("EUR_2024_06").root);

  // A new language: the names of the stored maps are asked for again.
  const int names = maps.Requests("localedata").size();
  Invoke("UpdateLocale");
  EXPECT_TRUE(QTest::qWaitFor([&] { return maps.Requests("localedata").size() == names + 1; }, 20000));

  // What the check offered downloads onto the stick that comes along.
  {
    ActiveStick stick;
    service.Serve(PathOf(*archive), Answer::File(archive->file));
    const qint64 space = Space();
    Download("EUR_2024_06");
    ASSERT_TRUE(WaitForEvents(3));
    EXPECT_EQ(events.back(), "Finished:Ok");
    EXPECT_TRUE(SpaceSettlesAt(space - archive->bytes.size()));
    EXPECT_EQ(Listing(stick.FullMapFolder() / archive->name), archive->listing);
  }

  // The active stick with valid metadata gets the related check.
  TestSupport::MapStick mapStick;
  mapStick.WriteMetadata(installed);
  mapStick.WriteHeadUnit(QDate::currentDate().addYears(1).toString(Qt::ISODate).toStdString(), 1000000000,
                         3000000000);
  UsbInfo usb;
  usb.id = 31;
  usb.path = mapStick.Path();
  usb.active = true;
  // A stick whose metadata failed its check is reported at once; a stick
  // without map metadata gets the root check, whose failure is passed on
  // unchanged.
  for (const auto state : {UsbInfo::ValidMetadata, UsbInfo::InvalidMetadata, UsbInfo::NoMetadata}) {
    if (state == UsbInfo::NoMetadata)
      maps.Override("allroots", "", {Answer::Ok("<not a package list")});
    usb.state = state;
    UsbStorage::Get().UpdateUsb(usb);
    Invoke("CheckMapUpdates");
    ASSERT_TRUE(WaitForEvents(events.size() + 1));
    if (state == UsbInfo::ValidMetadata) {
      EXPECT_EQ(OptionalMap().id, "EUR_2024_06");
      EXPECT_EQ(InstalledMap().id, "EUR_2023_06");
      EXPECT_EQ(MapStorage::Get().GetHeadUnit().availableMapSpace, 1000000000);
    }
  }
  // A stick whose folder has gone, pulled before the discovery noticed, is
  // checked as no stick at all.
  usb.state = UsbInfo::ValidMetadata;
  usb.path = mapStick.Path() + "/pulled";
  UsbStorage::Get().UpdateUsb(usb);
  Invoke("CheckMapUpdates");
  ASSERT_TRUE(WaitForEvents(events.size() + 1));
  EXPECT_EQ(events, (Strings{"Root:Ok", "Started", "Finished:Ok", "Related:Ok", "Related:InvalidMetadata",
                             "Root:ServerError", "Root:ServerError"}));
  UsbStorage::Get().RemoveUsb(31);
}
