// Real downloads from the loopback test service into real folders and
// size-limited tmpfs sticks: the unpacked tree, the metadata copy, progress,
// every failure result, retry and resume, and the removal of what was written.

#include "fmu/MapDownloader.h"
#include "DownloadSupport.h"
#include "LogCapture.h"
#include "SystemCallWatch.h"
#include "TestService.h"
#include "usb/UsbStorage.h"
#include "util/Descriptor.h"

#include <boost/filesystem/directory.hpp>
#include <boost/filesystem/operations.hpp>

#include <QCoreApplication>
#include <QTest>

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <set>

namespace fs = boost::filesystem;
using namespace TestSupport;
using Result = MapDownloader::Result;
using Results = std::vector<Result>;

namespace {

std::set<std::string> TopLevel(const fs::path& folder)
{
  std::set<std::string> names;
  boost::system::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
    names.insert(it->path().filename().string());
  return names;
}

bool Put(const fs::path& file)
{
  return WriteFile(QString::fromStdString(file.string()), "mine");
}

} // namespace

// A stick of a size in MB on a tmpfs, or the test is skipped.
#define TMPFS_STICK(name, megabytes, id)                                                                     \
  ActiveStick name(id, megabytes);                                                                           \
  if (!name.Mounted())                                                                                       \
  GTEST_SKIP() << "needs a tmpfs mount: " << name.MountError()

class MapDownloaderTest : public ::testing::Test
{
protected:
  void SetUp() override { archive = MakeArchive("EUR_2024.06", 300000); }

  QString PathOf(const MapArchive& map) const { return QString::fromStdString("/maps/" + map.name + ".tar"); }
  MapInfo Map(const MapArchive& map) const
  {
    return MakeMap("map-" + map.name, service.Url(PathOf(map)).toStdString(), map);
  }
  void Serve(const MapArchive& map) { service.Serve(PathOf(map), Answer::File(map.file)); }
  long long Net() const { return recorder.written - recorder.removed; }
  fs::path MetaCopy(const ActiveStick& stick, const MapArchive& map) const
  {
    return stick.FullMapFolder() / (map.name + ".meta.xml");
  }

  // Every chunk is counted once the transfer has ended; the last counts may
  // arrive just after its result.
  ::testing::AssertionResult WrittenReaches(long long bytes)
  {
    if (QTest::qWaitFor([&] { return Net() >= bytes; }, 20000) && Net() == bytes)
      return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "counted " << Net() << " of " << bytes << " bytes";
  }

  // Starts a download or a retry and waits for its result (-1 for none).
  int Run(const std::function<void()>& start)
  {
    const std::size_t before = recorder.results.size();
    start();
    return WaitFor([&] { return recorder.results.size() > before; }, 60000) ? recorder.results.back() : -1;
  }
  int Download(const fs::path& folder, const MapInfo& map)
  {
    return Run([&] { downloader->Download(folder, map); });
  }
  int Resume()
  {
    return Run([&] { downloader->Resume(); });
  }
  Result Abort()
  {
    downloader->Abort();
    return recorder.results.back();
  }
  // Serves the archive and downloads it whole onto the stick.
  bool DownloadsWhole(const ActiveStick& stick)
  {
    Serve(*archive);
    return Download(stick.FullMapFolder(), Map(*archive)) == Result::Ok;
  }
  // A cancellation that takes back every byte left on the stick (what
  // FileBytes counts now, unless given).
  void ExpectCancelledClean(const ActiveStick& stick, qint64 onStick = -1)
  {
    const long long removed = recorder.removed + (onStick < 0 ? FileBytes(stick.FullMapFolder()) : onStick);
    EXPECT_EQ(Abort(), Result::Aborted);
    EXPECT_FALSE(Exists(stick.FullMapFolder()));
    EXPECT_TRUE(Exists(stick.Path()));
    EXPECT_EQ(recorder.removed, removed);
  }

  // After a result: lets the service see the stopped transfer closed and the
  // event loop release the request, so that a late report would show.
  void Settle()
  {
    EXPECT_TRUE(QTest::qWaitFor([&] { return service.OpenConnections() == 0; }, 20000));
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
  }

  DataHome home;
  TestService service;
  std::shared_ptr<MapArchive> archive;
  DownloadRecorder recorder;
  std::unique_ptr<MapDownloader> downloader =
      std::make_unique<MapDownloader>(recorder.Progress(), recorder.Result());
};

// An archive that does not match its checksum is a server error. One that
// stops inside an entry, or before its end, or whose metadata file is not at
// its top, is not a map either, although its checksum and size describe
// exactly the bytes that came; nor is a damaged or unsafe one, which is the
// service's error, not the stick's. No metadata copy is written, and the retry
// starts from the beginning (resuming would ask for the bytes after the end
// of a stream whose MD5 already covers a bad byte).
TEST_F(MapDownloaderTest, ADamagedIncompleteOrUnsafeArchiveIsAServerErrorAndTheRetryStartsAfresh)
{
  // A retry with no download to go on with ends as aborted.
  downloader->Resume();
  EXPECT_EQ(recorder.results, Results{Result::Aborted});

  const std::string meta = archive->name + ".meta.xml";
  const auto withMetadata = [&] { return TarBuilder().AddFile(meta, archive->metadata); };
  const QByteArray whole = withMetadata().AddFile("DATA/big.bin", Pattern(50000, 1)).End().Bytes();
  QByteArray flipped = whole;
  flipped[whole.size() / 2] = flipped[whole.size() / 2] ^ 0x5a; // inside the data of DATA/big.bin
  TarBuilder damaged = withMetadata();
  damaged.AddFile("bad.bin", "0123456789").LastHeader()[0] ^= 1;
  std::string longName;
  for (int i = 0; i < 100; ++i)
    longName += std::string(99, 'f') + "/";
  const char* const early = "The map archive ends before its end, after ";
  const char* const refused = "Refused map archive: ";
  const struct
  {
    const char* name;
    QByteArray bytes;
    const char* log;           // the failure's log line, none for a map
    QByteArray announced = {}; // the bytes whose MD5 the service announces, if not these
  } cases[] = {
      {"whole", whole, nullptr},
      {"a flipped byte", flipped, "Checksum mismatch", whole},
      {"cut inside a file's data", whole.left(whole.size() - 1024 - 20000), early},
      {"without its end", whole.left(whole.size() - 1024), early},
      {"a pax size beyond the stream",
       withMetadata()
           .AddPax({{"size", "90000"}})
           .Add({"DATA/big.bin", '0', 1})
           .AddData(Pattern(3000, 1))
           .End()
           .Bytes(),
       early},
      {"metadata below the top", TarBuilder().AddFile("DATA/" + meta, archive->metadata).End().Bytes(),
       "File: EUR_2024.06.meta.xml not found"},
      {"a damaged header", damaged.End().Bytes(), refused},
      {"a name leaving the folder", withMetadata().AddFile("../outside.bin", "x").End().Bytes(), refused},
      {"a symbolic link", withMetadata().Add({"link", '2', 0, "/etc", {}, true}).End().Bytes(), refused},
      {"a name too long for the system",
       withMetadata().AddPax({{"path", longName + "n"}}).AddFile("h", "x").End().Bytes(), refused},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    ActiveStick stick;
    service.Serve(PathOf(*archive),
                  Answer::File(archive->WriteVariant(QString(test.name) + ".tar", test.bytes)));
    MapInfo map = Map(*archive);
    // The service may write the checksum in capitals.
    map.checksum = Md5Hex(test.announced.isEmpty() ? test.bytes : test.announced).toUpper().toStdString();
    map.size = test.bytes.size();
    LogCapture log;
    EXPECT_EQ(Download(stick.FullMapFolder(), map), test.log ? Result::ServerError : Result::Ok);
    EXPECT_EQ(Exists(MetaCopy(stick, *archive)), !test.log);
    EXPECT_EQ(downloader->CanResume(), !test.log);
    if (test.log) {
      EXPECT_TRUE(log.Mentions(test.log));
      EXPECT_EQ(Resume(), Result::ServerError);
      EXPECT_FALSE(service.Requests().last().HasHeader("Range"));
    }
    ExpectCancelledClean(stick);
  }
}

// The map's files reach the stick (its file system synced through the
// extractor's folder) before the metadata copy that makes the map look
// complete, whose bytes are synced before it takes its name, and whose
// folder is synced after.
TEST_F(MapDownloaderTest, TheMapReachesTheStickBeforeItsMetadataCopyWhichIsSyncedBeforeItIsNamed)
{
  ActiveStick stick;
  SystemCallWatch watch(stick.Path());
  ASSERT_TRUE(DownloadsWhole(stick));
  const std::string folder = fs::canonical(stick.FullMapFolder()).string();
  const std::string meta = folder + "/" + archive->name + ".meta.xml";
  EXPECT_EQ(watch.Calls(),
            (std::vector<std::string>{"syncfs " + folder + "/" + archive->name, "fsync " + meta + ".part",
                                      "rename " + meta + ".part " + meta, "fsync " + folder}));
}

// A space query that fails says nothing about the space: the download goes
// on, whether the queries fail from the start or from its first chunk, and
// its writes tell; a stick that then refuses a write is blocked, never full
// or too small.
TEST_F(MapDownloaderTest, ASpaceQueryThatFailsNeverTellsTheStickFullOrTooSmall)
{
  TMPFS_STICK(stick, 4, 4717);
  SystemCallWatch watch(stick.Path());
  Serve(*archive);
  for (const bool fromStart : {true, false}) {
    SCOPED_TRACE(fromStart ? "from the start" : "from the first chunk");
    watch.FailSpaceQueries(fromStart ? ENOTCONN : 0);
    recorder.onProgress = [&](long long) { watch.FailSpaceQueries(ENOTCONN); };
    ASSERT_EQ(Download(stick.FullMapFolder(), Map(*archive)), Result::Ok);
    EXPECT_EQ(Listing(stick.FullMapFolder() / archive->name), archive->listing);
  }

  service.Serve(PathOf(*archive), Answer::File(archive->file).Rate(1000000, 16384));
  watch.FailSpaceQueries(ENOTCONN);
  recorder.onProgress = [&, filled = false](long long) mutable {
    filled = filled || Fill(stick.Path(), 0); // the extractor's next write fails
  };
  LogCapture log;
  EXPECT_EQ(Download(stick.FullMapFolder(), Map(*archive)), Result::UsbBlocked);
  EXPECT_TRUE(log.Mentions("Failed to write data: "));
}

// A tree whose paths are longer than any system call takes (10,001 bytes in
// folders of 100) neither blocks the next download nor the cancellation.
TEST_F(MapDownloaderTest, ATreeTooDeepForWholePathsIsEmptiedAndRemoved)
{
  ActiveStick stick;
  const auto plant = [&] {
    Descriptor folder = Descriptor::OpenFolderPath(stick.Path()).MakeFolder("OrvaneNDSFull");
    for (int i = 0; folder.Valid() && i < 100; ++i)
      folder = folder.MakeFolder(std::string(99, 'f'));
    const Descriptor file = folder.OpenFile("bottom.bin", O_WRONLY | O_CREAT | O_TRUNC);
    return file.Valid() && ::write(file.Get(), "deep down", 9) == 9;
  };
  ASSERT_TRUE(plant());
  ASSERT_TRUE(DownloadsWhole(stick));
  EXPECT_EQ(TopLevel(stick.FullMapFolder()),
            (std::set<std::string>{archive->name, archive->name + ".meta.xml"}));

  ASSERT_TRUE(plant());
  ExpectCancelledClean(stick,
                       FileBytes(stick.FullMapFolder() / archive->name) + archive->metadata.size() + 9);
}

TEST_F(MapDownloaderTest, AServerThatStopsAnsweringGivesNoConnectionAndTheRetryResumesWhereItStopped)
{
  // Shipped: 10 s inactivity, a retry window of one minute. Here 1 s and 6 s.
  TimeScale scale(0.1);
  ActiveStick stick;
  service.ServeSequence(PathOf(*archive), {Answer::File(archive->file).StallAfter(150000), Answer::Silent()});
  ASSERT_EQ(Download(stick.FullMapFolder(), Map(*archive)), Result::NoConnection);
  const long long written = recorder.written;
  // All the service sent before it stopped (less only if the machine was too
  // slow to take it within the time-out: the resumption still must match).
  EXPECT_GT(written, 0);
  EXPECT_LE(written, 150000);
  EXPECT_TRUE(downloader->CanResume());

  Serve(*archive);
  ASSERT_EQ(Resume(), Result::Ok);
  EXPECT_EQ(service.Requests().last().Header("Range"), "bytes=" + QByteArray::number(written) + "-");
  EXPECT_TRUE(WrittenReaches(archive->bytes.size()));
  EXPECT_EQ(recorder.removed, 0);
  EXPECT_EQ(Listing(stick.FullMapFolder() / archive->name), archive->listing);

  // An error page in place of the archive, to the end of the window, is the service's error.
  TimeScale faster(0.002);
  service.Serve(PathOf(*archive), Answer::Status(404));
  EXPECT_EQ(Download(stick.FullMapFolder(), Map(*archive)), Result::ServerError);
}

TEST_F(MapDownloaderTest, AMapThatCannotFitIsRefusedBeforeAnyTransferButTheFolderIsEmptied)
{
  TMPFS_STICK(stick, 4, 4712);
  Serve(*archive);
  const fs::path old = stick.FullMapFolder() / "OLD/old.bin";
  MapInfo map = Map(*archive);
  map.size = 5 * 1024 * 1024;
  ASSERT_TRUE(Put(old));
  downloader->Download(stick.FullMapFolder(), map);
  ASSERT_EQ(recorder.results, Results{Result::UsbTooSmall});
  EXPECT_FALSE(Exists(old));

  ASSERT_TRUE(Put(old));
  ASSERT_TRUE(Fill(stick.Path(), 1024 * 1024));
  map.size = 2 * 1024 * 1024;
  downloader->Download(stick.FullMapFolder(), map);
  ASSERT_EQ(recorder.results, (Results{Result::UsbTooSmall, Result::UsbFull}));
  EXPECT_FALSE(Exists(old));
  EXPECT_EQ(TopLevel(stick.FullMapFolder()), std::set<std::string>{archive->name});
  EXPECT_EQ(service.RequestCount(), 0);

  // A map exactly the size of the free space passes both checks.
  fs::remove(fs::path(stick.Path()) / "filler.bin");
  ASSERT_TRUE(Fill(stick.Path(), 1024 * 1024));
  map.size = static_cast<qint64>(fs::space(stick.Path()).available);
  downloader->Download(stick.FullMapFolder(), map);
  EXPECT_EQ(recorder.results.size(), 2u);
  EXPECT_TRUE(service.WaitForRequests(1));
}

TEST_F(MapDownloaderTest, AStickThatFillsUpDuringTheDownloadIsUsbFullAndARetryStartsAfresh)
{
  TMPFS_STICK(stick, 4, 4713);
  const auto big = MakeArchive("EUR_2024.09", 2500000);
  service.Serve(PathOf(*big), Answer::File(big->file).Rate(4000000, 16384));
  // Something else takes the stick's space as soon as the first chunk is in.
  recorder.onProgress = [&](long long) {
    if (!Exists(fs::path(stick.Path()) / "filler.bin"))
      Fill(stick.Path(), 64 * 1024);
  };
  ASSERT_EQ(Download(stick.FullMapFolder(), Map(*big)), Result::UsbFull);
  ASSERT_EQ(recorder.progress.size(), 1u);
  // The stopped request reports nothing more.
  Settle();
  EXPECT_EQ(recorder.progress.size(), 1u);
  EXPECT_EQ(recorder.results.size(), 1u);
  EXPECT_FALSE(downloader->CanResume());

  // The space is back: the retry starts from the beginning.
  recorder.onProgress = nullptr;
  fs::remove(fs::path(stick.Path()) / "filler.bin");
  const long long before = recorder.written;
  ASSERT_EQ(Resume(), Result::Ok);
  EXPECT_EQ(recorder.progress[1], -before);
  EXPECT_TRUE(WrittenReaches(big->bytes.size()));
  EXPECT_FALSE(service.Requests().last().HasHeader("Range"));
  EXPECT_EQ(Listing(stick.FullMapFolder() / big->name), big->listing);

  // The service announces a small map and sends a large one: the space
  // checks pass and the stick runs out while the archive is written.
  const auto huge = MakeArchive("EUR_2024.12", 6 * 1024 * 1024);
  Serve(*huge);
  MapInfo map = Map(*huge);
  map.size = 64 * 1024;
  ASSERT_EQ(Download(stick.FullMapFolder(), map), Result::UsbFull);
  EXPECT_FALSE(downloader->CanResume());
  ExpectCancelledClean(stick);
  EXPECT_EQ(fs::space(stick.Path()).available, 4u * 1024 * 1024);
}

TEST_F(MapDownloaderTest, AStickPulledDuringTheDownloadIsUsbRemoved)
{
  TMPFS_STICK(pulled, 16, 4715);
  service.Serve(PathOf(*archive), Answer::File(archive->file).Rate(1000000, 16384));
  recorder.onProgress = [&](long long) { pulled.Pull(); };
  ASSERT_EQ(Download(pulled.FullMapFolder(), Map(*archive)), Result::UsbRemoved);
  Settle();
  EXPECT_EQ(recorder.progress.size(), 1u);
  // The folder under the empty mount point is the computer's: a retry must not
  // write there once the stick has left the stick store.
  pulled.Forget();
  downloader->Resume();
  EXPECT_EQ(recorder.results, (Results{Result::UsbRemoved, Result::UsbRemoved}));
  EXPECT_FALSE(Exists(pulled.FullMapFolder()));
}

// A stick pulled while it is written: the extractor's next write fails, and
// by then the stick is unmounted while a folder of the same name stays in its
// place (here, on the file system below the mount point). That is a removal,
// not a stick that refuses writes.
TEST_F(MapDownloaderTest, AWriteThatFailsOnAStickUnmountedMeanwhileIsUsbRemoved)
{
  TMPFS_STICK(pulled, 16, 4716);
  service.Serve(PathOf(*archive), Answer::File(archive->file).Rate(1000000, 16384));
  recorder.onProgress = [&](long long) {
    if (recorder.progress.size() > 1)
      return;
    Fill(pulled.Path(), 0); // the extractor's next write fails
    pulled.Pull();
    fs::create_directories(pulled.FullMapFolder());
  };
  LogCapture log;
  ASSERT_EQ(Download(pulled.FullMapFolder(), Map(*archive)), Result::UsbRemoved);
  EXPECT_TRUE(log.Mentions("Failed to write data: "));
  EXPECT_TRUE(TopLevel(pulled.FullMapFolder()).empty());
}

// The discovery reports the stick gone. A download onto it stops at once and
// reports UsbRemoved once; the extractor drops what it still holds instead of
// unpacking it where the stick was (it would close saying the archive ended
// early), and nothing of the download is written or removed there again.
// Another stick's report, or one for a finished map, stops nothing.
TEST_F(MapDownloaderTest, AStickReportedGoneStopsItsDownloadAndItsExtractorDropsWhatItHolds)
{
  for (const bool running : {true, false}) {
    SCOPED_TRACE(running ? "downloading" : "finished");
    ActiveStick stick;
    if (running) {
      service.Serve(PathOf(*archive), Answer::File(archive->file).HoldAfter(100000));
      downloader->Download(stick.FullMapFolder(), Map(*archive));
      ASSERT_TRUE(QTest::qWaitFor([&] { return recorder.written > 0; }, 20000));
    } else {
      ASSERT_TRUE(DownloadsWhole(stick));
    }
    const std::size_t results = recorder.results.size();
    downloader->StickRemoved(4712);
    EXPECT_EQ(recorder.results.size(), results) << "not its stick";

    LogCapture log;
    const auto written = Listing(stick.FullMapFolder());
    downloader->StickRemoved(4711);
    EXPECT_FALSE(log.Mentions("Tar stream closed before the end of the archive"));
    service.ReleaseHeld();
    Settle();
    ASSERT_EQ(recorder.results.size(), results + (running ? 1 : 0));
    if (running) {
      EXPECT_EQ(recorder.results.back(), Result::UsbRemoved);
    }
    EXPECT_EQ(Abort(), Result::UsbRemoved);
    downloader->Resume();
    EXPECT_EQ(recorder.results.back(), Result::Aborted);
    EXPECT_EQ(Listing(stick.FullMapFolder()), written);
    EXPECT_EQ(Exists(MetaCopy(stick, *archive)), !running);
    recorder.results.clear();
  }
}

// The metadata copy, which makes a map look complete to the vehicle, goes
// first; a removal that leaves files behind is UsbBlocked and can be tried again.
TEST_F(MapDownloaderTest, TheCancellationOfAFinishedMapRemovesItsMetadataCopyFirst)
{
  ActiveStick stick;
  ASSERT_TRUE(DownloadsWhole(stick));
  EXPECT_EQ(ReadFile(QString::fromStdString(MetaCopy(stick, *archive).string())), archive->metadata);
  const qint64 onStick = FileBytes(stick.FullMapFolder());
  EXPECT_EQ(onStick, archive->fileBytes + archive->metadata.size());
  std::vector<bool> copyPresent;
  recorder.onProgress = [&](long long) { copyPresent.push_back(Exists(MetaCopy(stick, *archive))); };
  const fs::path tile = stick.FullMapFolder() / archive->name / "data/TILE_0";
  const qint64 locked = FileBytes(tile);
  ASSERT_GT(locked, 0);
  {
    HonourPermissions honour;
    fs::permissions(tile, fs::owner_read | fs::owner_exe | fs::group_read | fs::others_read);
    downloader->Abort();
    fs::permissions(tile, fs::owner_all | fs::group_read | fs::others_read);
  }
  EXPECT_EQ(recorder.results.back(), Result::UsbBlocked);
  ASSERT_FALSE(copyPresent.empty());
  EXPECT_FALSE(copyPresent.front());
  EXPECT_EQ(FileBytes(stick.FullMapFolder()), locked);
  EXPECT_EQ(recorder.removed, onStick - locked);
  ExpectCancelledClean(stick);
  // A second cancellation finds nothing.
  EXPECT_EQ(Abort(), Result::UsbRemoved);
}

TEST_F(MapDownloaderTest, NothingOutsideTheFullMapFolderOfAKnownStickIsEverRemoved)
{
  ActiveStick stick;
  Serve(*archive);
  QTemporaryDir elsewhere;
  const fs::path foreign = fs::path(elsewhere.path().toStdString()) / "OrvaneNDSFull";
  ASSERT_TRUE(Put(foreign / "keep.txt"));
  ASSERT_TRUE(Put(fs::path(stick.Path()) / "Other/keep.txt"));

  downloader->Download(foreign, Map(*archive));
  downloader->Download(fs::path(stick.Path()) / "Other", Map(*archive));
  MapInfo nameless = Map(*archive);
  nameless.url = service.Url("/maps/").toStdString();
  downloader->Download(stick.FullMapFolder(), nameless);
  EXPECT_EQ(recorder.results, (Results{Result::UsbRemoved, Result::UsbBlocked, Result::ServerError}));
  EXPECT_TRUE(Exists(foreign / "keep.txt"));
  EXPECT_TRUE(Exists(fs::path(stick.Path()) / "Other/keep.txt"));
  EXPECT_EQ(service.RequestCount(), 0);

  // The full-map folder, and a folder inside it, now lead elsewhere: a
  // cancellation removes the links without following them.
  ASSERT_TRUE(DownloadsWhole(stick));
  const fs::path outside(elsewhere.path().toStdString());
  ASSERT_TRUE(Put(outside / "sub/keep.txt"));
  const auto kept = Listing(outside);
  fs::remove_all(stick.FullMapFolder());
  fs::create_directory_symlink(outside, stick.FullMapFolder());
  const std::size_t reports = recorder.progress.size();

  EXPECT_EQ(Abort(), Result::Aborted);
  EXPECT_FALSE(Exists(stick.FullMapFolder()));
  EXPECT_EQ(Listing(outside), kept);
  EXPECT_EQ(recorder.progress.size(), reports);

  // A real full-map folder holding a link to a folder and to a file outside:
  // the links go, what they point at stays and is not counted as removed.
  ASSERT_TRUE(DownloadsWhole(stick));
  const qint64 onStick = FileBytes(stick.FullMapFolder());
  fs::create_directory_symlink(outside, stick.FullMapFolder() / archive->name / "LINKED");
  fs::create_symlink(foreign / "keep.txt", stick.FullMapFolder() / "LINKED.meta.xml");
  ExpectCancelledClean(stick, onStick);
  EXPECT_EQ(Listing(outside), kept);

  // A finished map on a stick that has left the stick store stays.
  ASSERT_TRUE(DownloadsWhole(stick));
  stick.Forget();
  EXPECT_EQ(Abort(), Result::UsbRemoved);
  EXPECT_EQ(Listing(stick.FullMapFolder() / archive->name), archive->listing);
}

// Stick A, holding a failed download, is swapped for stick B at the same
// mount path: on a file system of its own before the stick store knows, or as
// another stick of the store (a folder on the same file system). Neither the
// cancellation nor the restart of the download touches B's map.
TEST_F(MapDownloaderTest, AStickPutInThePlaceOfTheOneWrittenToIsNeverTouched)
{
  MapInfo damaged = Map(*archive);
  damaged.checksum = std::string(32, '0');
  Serve(*archive);
  for (const bool storeKnows : {false, true}) {
    for (const bool cancel : {true, false}) {
      SCOPED_TRACE(std::string(storeKnows ? "another stick in the store, " : "another file system, ") +
                   (cancel ? "cancelled" : "restarted"));
      if (!storeKnows && !TmpfsMount::Allowed())
        continue; // needs a tmpfs mount
      ActiveStick a(4718, storeKnows ? 0 : 4);
      ASSERT_EQ(Download(a.FullMapFolder(), damaged), Result::ServerError);
      std::unique_ptr<TmpfsMount> b;
      QTemporaryDir elsewhere;
      std::unique_ptr<TmpfsMount> taken;
      if (storeKnows) {
        fs::remove_all(a.FullMapFolder());
        a.Forget();
        UsbStorage::Get().UpdateUsb({4719, a.Path(), 0, 0, UsbInfo::ValidMetadata, true});
      } else {
        ASSERT_TRUE(a.Pull());
        // Linux hands the device number that a's unmount freed to the next
        // file system (as the next stick in a slot gets its numbers): another
        // file system takes it, so that b has one of its own, as a stick in
        // another slot has. Only the store's id tells sticks apart for sure.
        taken = std::make_unique<TmpfsMount>(elsewhere.path().toStdString(), 1);
        ASSERT_TRUE(taken->Mounted()) << taken->Error();
        b = std::make_unique<TmpfsMount>(a.Path(), 4);
        ASSERT_TRUE(b->Mounted()) << b->Error();
      }
      const fs::path mapOfB = a.FullMapFolder() / "EUR_2024.06/map.bin";
      ASSERT_TRUE(Put(mapOfB));
      EXPECT_EQ(cancel ? Abort() : Resume(), Result::UsbRemoved);
      EXPECT_TRUE(Exists(mapOfB));
      if (storeKnows)
        UsbStorage::Get().RemoveUsb(4719);
    }
  }
}

// A download the network stopped goes on where it stopped only on the stick
// it wrote to: another stick in its place (the store knows it by an id of its
// own), even one that holds the very same files, is left as it is.
TEST_F(MapDownloaderTest, AStoppedDownloadGoesOnOnlyOnTheStickItWroteTo)
{
  TimeScale scale(0.1);
  ActiveStick a(4720);
  service.ServeSequence(PathOf(*archive), {Answer::File(archive->file).StallAfter(150000), Answer::Silent()});
  ASSERT_EQ(Download(a.FullMapFolder(), Map(*archive)), Result::NoConnection);
  ASSERT_TRUE(downloader->CanResume());
  const auto before = Listing(a.FullMapFolder());
  a.Forget();
  UsbStorage::Get().UpdateUsb({4721, a.Path(), 0, 0, UsbInfo::ValidMetadata, true});
  Serve(*archive);
  EXPECT_EQ(Resume(), Result::UsbRemoved);
  EXPECT_EQ(Listing(a.FullMapFolder()), before);
  EXPECT_FALSE(downloader->CanResume());
  UsbStorage::Get().RemoveUsb(4721);
}

TEST_F(MapDownloaderTest, ANewDownloadReplacesTheRunningOneAndADestroyedDownloaderStaysSilent)
{
  ActiveStick stick;
  // The first answer stops after a part of the archive: it still runs when
  // the second download replaces it.
  service.Serve(PathOf(*archive), Answer::File(archive->file).HoldAfter(100000));
  const auto other = MakeArchive("NAM_2024.06", 50000);
  Serve(*other);
  downloader->Download(stick.FullMapFolder(), Map(*archive));
  ASSERT_TRUE(QTest::qWaitFor([&] { return recorder.written > 0; }, 20000));
  ASSERT_EQ(Download(stick.FullMapFolder(), Map(*other)), Result::Ok);
  Settle();
  EXPECT_EQ(recorder.results, Results{Result::Ok});
  EXPECT_EQ(TopLevel(stick.FullMapFolder()), (std::set<std::string>{other->name, other->name + ".meta.xml"}));
  EXPECT_EQ(Listing(stick.FullMapFolder() / other->name), other->listing);

  // Destroyed mid-transfer, it stops and reports nothing.
  const long long written = recorder.written;
  downloader->Download(stick.FullMapFolder(), Map(*archive));
  ASSERT_TRUE(QTest::qWaitFor([&] { return recorder.written > written; }, 20000));
  const std::size_t reports = recorder.progress.size();
  downloader.reset();
  Settle();
  EXPECT_EQ(recorder.results.size(), 1u);
  EXPECT_EQ(recorder.progress.size(), reports);
}
