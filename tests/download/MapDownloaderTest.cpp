// Real downloads from the loopback test service into real folders and
// size-limited tmpfs sticks: the unpacked tree, the metadata copy, progress,
// every failure result, retry and resume, and the removal of what was written.

#include "fmu/MapDownloader.h"
#include "ArchiveTools.h"
#include "DownloadSupport.h"
#include "LogCapture.h"
#include "TestService.h"

#include <boost/filesystem/directory.hpp>
#include <boost/filesystem/operations.hpp>

#include <QCoreApplication>
#include <QTest>

#include <gtest/gtest.h>

#include <set>
#include <sstream>

namespace fs = boost::filesystem;
using namespace DownloadSupport;
using TestSupport::Answer;
using TestSupport::TestService;
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

std::string Read(const fs::path& file)
{
  return ArchiveTools::ReadFile(QString::fromStdString(file.string())).toStdString();
}

} // namespace

class MapDownloaderTest : public ::testing::Test
{
protected:
  void SetUp() override { archive = MapArchive::Make("EUR_2024.06", 300000); }

  QString PathOf(const MapArchive& map) const { return QString::fromStdString("/maps/" + map.name + ".tar"); }
  std::string UrlOf(const MapArchive& map) const { return service.Url(PathOf(map)).toStdString(); }
  MapInfo Map(const MapArchive& map) const { return MakeMap("map-" + map.name, UrlOf(map), map); }
  void Serve(const MapArchive& map) { service.Serve(PathOf(map), Answer::File(map.file)); }

  // Every chunk is counted once the transfer has ended; the last counts may
  // arrive just after its result.
  ::testing::AssertionResult WrittenReaches(long long bytes)
  {
    if (QTest::qWaitFor([&] { return recorder.Written() - recorder.Removed() >= bytes; }, 20000) &&
        recorder.Written() - recorder.Removed() == bytes)
      return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "counted " << recorder.Written() - recorder.Removed() << " of " << bytes << " bytes";
  }

  // Serves the archive and downloads it whole onto the stick.
  ::testing::AssertionResult DownloadsWhole(const Stick& stick)
  {
    Serve(*archive);
    const std::size_t before = recorder.results.size();
    downloader->Download(stick.FullMapFolder(), Map(*archive));
    if (!recorder.WaitForResults(before + 1))
      return ::testing::AssertionFailure() << "no result";
    if (recorder.results.back() != Result::Ok)
      return ::testing::AssertionFailure() << "the download ended with " << recorder.results.back();
    return ::testing::AssertionSuccess();
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
  Recorder recorder;
  std::unique_ptr<MapDownloader> downloader =
      std::make_unique<MapDownloader>(recorder.Progress(), recorder.Result());
};

TEST_F(MapDownloaderTest, DownloadsTheArchiveIntoItsFolderAndCopiesTheMetadataBesideIt)
{
  Stick stick;
  ASSERT_TRUE(ArchiveTools::WriteFile(
      QString::fromStdString((stick.FullMapFolder() / "OLD/old.bin").string()), "an earlier map"));
  Serve(*archive);
  // The service may write the checksum in capitals.
  MapInfo map = Map(*archive);
  map.checksum = QByteArray::fromStdString(map.checksum).toUpper().toStdString();

  downloader->Download(stick.FullMapFolder(), map);
  ASSERT_TRUE(recorder.WaitForResults(1));

  EXPECT_EQ(recorder.results, Results{Result::Ok});
  EXPECT_EQ(Listing(stick.FullMapFolder() / archive->name), archive->listing);
  EXPECT_EQ(TopLevel(stick.FullMapFolder()),
            (std::set<std::string>{archive->name, archive->name + ".meta.xml"}));
  EXPECT_EQ(Read(stick.FullMapFolder() / (archive->name + ".meta.xml")),
            archive->metadataContent.toStdString());
  EXPECT_TRUE(WrittenReaches(archive->bytes.size()));
  EXPECT_EQ(recorder.Removed(), 0);
  ASSERT_EQ(service.RequestCount(), 1);
  EXPECT_EQ(service.Requests()[0].Header("Accept"), "application/x-tar");
  EXPECT_FALSE(service.Requests()[0].HasHeader("Range"));
}

TEST_F(MapDownloaderTest, AChecksumMismatchIsAServerErrorAndTheRetryStartsAfresh)
{
  Stick stick;
  // The first answer carries a flipped byte inside a file's data.
  QByteArray corrupt = archive->bytes;
  corrupt[2048] = static_cast<char>(corrupt[2048] ^ 0x5a);
  service.ServeSequence(PathOf(*archive), {Answer::File(archive->WriteVariant("corrupt.tar", corrupt)),
                                           Answer::File(archive->file)});
  LogCapture log;

  downloader->Download(stick.FullMapFolder(), Map(*archive));
  ASSERT_TRUE(recorder.WaitForResults(1));
  EXPECT_EQ(recorder.results, Results{Result::ServerError});
  EXPECT_TRUE(log.Contains("Checksum mismatch"));
  EXPECT_FALSE(Exists(stick.FullMapFolder() / (archive->name + ".meta.xml")));
  EXPECT_FALSE(downloader->CanResume());
  ASSERT_TRUE(WrittenReaches(archive->bytes.size()));
  const std::size_t reportsBeforeRetry = recorder.progress.size();

  // Resuming would ask for the bytes after the end of a stream whose MD5
  // already covers the bad byte: the retry asks for the whole archive again
  // and first takes back what it had reported.
  downloader->Resume();
  ASSERT_TRUE(recorder.WaitForResults(2));
  EXPECT_EQ(recorder.results, (Results{Result::ServerError, Result::Ok}));
  ASSERT_EQ(service.RequestCount(), 2);
  EXPECT_FALSE(service.Requests()[1].HasHeader("Range"));
  ASSERT_GT(recorder.progress.size(), reportsBeforeRetry);
  EXPECT_EQ(recorder.progress[reportsBeforeRetry], -archive->bytes.size());
  EXPECT_TRUE(WrittenReaches(archive->bytes.size()));
  EXPECT_EQ(Listing(stick.FullMapFolder() / archive->name), archive->listing);
}

TEST_F(MapDownloaderTest, AMetadataFileOutsideTheTopOfTheArchiveIsAServerErrorEveryTime)
{
  Stick stick;
  const auto misplaced = MapArchive::Make("NAM_2024.06", 20000, MapArchive::Metadata::InSubfolder);
  Serve(*misplaced);
  LogCapture log;

  downloader->Download(stick.FullMapFolder(), Map(*misplaced));
  ASSERT_TRUE(recorder.WaitForResults(1));
  downloader->Resume();
  ASSERT_TRUE(recorder.WaitForResults(2));

  EXPECT_EQ(recorder.results, (Results{Result::ServerError, Result::ServerError}));
  EXPECT_EQ(log.Count("File: NAM_2024.06.meta.xml not found"), 2);
  EXPECT_FALSE(Exists(stick.FullMapFolder() / "NAM_2024.06.meta.xml"));
  // The retry fetched the archive whole: a resumption from its end would have
  // been refused by the service.
  ASSERT_EQ(service.RequestCount(), 2);
  EXPECT_FALSE(service.Requests()[1].HasHeader("Range"));
}

TEST_F(MapDownloaderTest, ATruncatedArchiveFailsItsChecksumAndTheCancellationRemovesWhatWasWritten)
{
  Stick stick;
  const QByteArray cut = archive->bytes.left(archive->bytes.size() * 6 / 10);
  service.Serve(PathOf(*archive), Answer::File(archive->WriteVariant("cut.tar", cut)));

  downloader->Download(stick.FullMapFolder(), Map(*archive));
  ASSERT_TRUE(recorder.WaitForResults(1));
  EXPECT_EQ(recorder.results, Results{Result::ServerError});
  ASSERT_TRUE(WrittenReaches(cut.size()));
  const qint64 onStick = FileBytes(stick.FullMapFolder());
  EXPECT_GT(onStick, 0);

  downloader->Abort();
  ASSERT_TRUE(recorder.WaitForResults(2));
  EXPECT_EQ(recorder.results.back(), Result::Aborted);
  EXPECT_FALSE(Exists(stick.FullMapFolder()));
  EXPECT_TRUE(Exists(stick.Path()));
  EXPECT_EQ(recorder.Removed(), onStick);
}

TEST_F(MapDownloaderTest, AServerThatStopsAnsweringGivesNoConnectionAndTheRetryResumesWhereItStopped)
{
  // Shipped: 10 s inactivity, a retry window of one minute. Here 1 s and 6 s.
  TimeScale scale(0.1);
  Stick stick;
  service.ServeSequence(PathOf(*archive), {Answer::File(archive->file).StallAfter(150000), Answer::Silent()});

  downloader->Download(stick.FullMapFolder(), Map(*archive));
  ASSERT_TRUE(recorder.WaitForResults(1));
  EXPECT_EQ(recorder.results, Results{Result::NoConnection});
  const long long written = recorder.Written();
  // All the service sent before it stopped (less only if the machine was too
  // slow to take it within the time-out: the resumption still must match).
  EXPECT_GT(written, 0);
  EXPECT_LE(written, 150000);
  EXPECT_TRUE(downloader->CanResume());

  Serve(*archive);
  const int before = service.RequestCount();
  downloader->Resume();
  ASSERT_TRUE(recorder.WaitForResults(2));
  EXPECT_EQ(recorder.results, (Results{Result::NoConnection, Result::Ok}));
  ASSERT_EQ(service.RequestCount(), before + 1);
  EXPECT_EQ(service.Requests().last().Header("Range"), "bytes=" + QByteArray::number(written) + "-");
  EXPECT_TRUE(WrittenReaches(archive->bytes.size()));
  EXPECT_EQ(recorder.Removed(), 0);
  EXPECT_EQ(Listing(stick.FullMapFolder() / archive->name), archive->listing);
}

TEST_F(MapDownloaderTest, AServiceThatKeepsFailingIsAServerErrorAndTheCancellationRemovesTheFolder)
{
  TimeScale scale(0.05);
  Stick stick;
  service.Serve(PathOf(*archive), Answer::Status(404));

  downloader->Download(stick.FullMapFolder(), Map(*archive));
  ASSERT_TRUE(recorder.WaitForResults(1));
  EXPECT_EQ(recorder.results, Results{Result::ServerError});
  EXPECT_EQ(recorder.Written(), 0);
  EXPECT_EQ(TopLevel(stick.FullMapFolder()), std::set<std::string>{archive->name});

  downloader->Abort();
  ASSERT_TRUE(recorder.WaitForResults(2));
  EXPECT_EQ(recorder.results.back(), Result::Aborted);
  EXPECT_FALSE(Exists(stick.FullMapFolder()));
}

TEST_F(MapDownloaderTest, AMapThatCannotFitIsRefusedBeforeAnyTransferButTheFolderIsEmptied)
{
  Stick stick(4, 4712);
  if (!stick.Mounted())
    GTEST_SKIP() << "needs a tmpfs mount: " << stick.MountError();
  Serve(*archive);
  const fs::path old = stick.FullMapFolder() / "OLD/old.bin";
  LogCapture log;

  MapInfo map = Map(*archive);
  map.size = 5 * 1024 * 1024;
  ASSERT_TRUE(ArchiveTools::WriteFile(QString::fromStdString(old.string()), "an earlier map"));
  downloader->Download(stick.FullMapFolder(), map);
  ASSERT_EQ(recorder.results, Results{Result::UsbTooSmall});
  EXPECT_TRUE(log.Contains("Failed to download map: map size: 5242880 exceeds total space: 4194304"));
  EXPECT_FALSE(Exists(old));

  ASSERT_TRUE(ArchiveTools::WriteFile(QString::fromStdString(old.string()), "an earlier map"));
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
  Stick stick(4, 4713);
  if (!stick.Mounted())
    GTEST_SKIP() << "needs a tmpfs mount: " << stick.MountError();
  const auto big = MapArchive::Make("EUR_2024.09", 2500000);
  service.Serve(PathOf(*big), Answer::File(big->file).Rate(4000000, 16384));
  // Something else takes the stick's space as soon as the first chunk is in.
  recorder.onProgress = [&](long long) {
    if (!Exists(fs::path(stick.Path()) / "filler.bin"))
      Fill(stick.Path(), 64 * 1024);
  };

  downloader->Download(stick.FullMapFolder(), Map(*big));
  ASSERT_TRUE(recorder.WaitForResults(1));
  EXPECT_EQ(recorder.results, Results{Result::UsbFull});
  const std::size_t reports = recorder.progress.size();
  EXPECT_EQ(reports, 1u);
  // The stopped request reports nothing more.
  Settle();
  EXPECT_EQ(recorder.progress.size(), reports);
  EXPECT_EQ(recorder.results.size(), 1u);
  EXPECT_FALSE(downloader->CanResume());

  // The space is back: the retry starts from the beginning.
  recorder.onProgress = nullptr;
  fs::remove(fs::path(stick.Path()) / "filler.bin");
  const long long before = recorder.Written();
  downloader->Resume();
  ASSERT_TRUE(recorder.WaitForResults(2));
  EXPECT_EQ(recorder.results.back(), Result::Ok);
  EXPECT_EQ(recorder.progress[reports], -before);
  EXPECT_TRUE(WrittenReaches(big->bytes.size()));
  EXPECT_FALSE(service.Requests().last().HasHeader("Range"));
  EXPECT_EQ(Listing(stick.FullMapFolder() / big->name), big->listing);
}

TEST_F(MapDownloaderTest, AWriteThatFailsForLackOfSpaceIsUsbFullAndTheCancellationFreesTheStick)
{
  Stick stick(4, 4714);
  if (!stick.Mounted())
    GTEST_SKIP() << "needs a tmpfs mount: " << stick.MountError();
  // The service announces a small map and sends a large one: the space checks
  // pass and the stick runs out while the archive is written.
  const auto big = MapArchive::Make("EUR_2024.12", 6 * 1024 * 1024);
  Serve(*big);
  MapInfo map = Map(*big);
  map.size = 64 * 1024;

  downloader->Download(stick.FullMapFolder(), map);
  ASSERT_TRUE(recorder.WaitForResults(1));
  EXPECT_EQ(recorder.results, Results{Result::UsbFull});
  EXPECT_FALSE(downloader->CanResume());

  downloader->Abort();
  ASSERT_TRUE(recorder.WaitForResults(2));
  EXPECT_EQ(recorder.results.back(), Result::Aborted);
  EXPECT_FALSE(Exists(stick.FullMapFolder()));
  EXPECT_EQ(fs::space(stick.Path()).available, 4u * 1024 * 1024);
}

TEST_F(MapDownloaderTest, AFullMapFolderDeletedDuringTheDownloadIsUsbRemoved)
{
  Stick stick;
  service.Serve(PathOf(*archive), Answer::File(archive->file).Rate(1000000, 16384));
  recorder.onProgress = [&](long long) { fs::remove_all(stick.FullMapFolder()); };

  downloader->Download(stick.FullMapFolder(), Map(*archive));
  ASSERT_TRUE(recorder.WaitForResults(1));
  EXPECT_EQ(recorder.results, Results{Result::UsbRemoved});
  Settle();
  EXPECT_EQ(recorder.results.size(), 1u);
  EXPECT_EQ(recorder.progress.size(), 1u);

  // Nothing is left to remove; the stick itself is not touched.
  ASSERT_TRUE(ArchiveTools::WriteFile(QString::fromStdString(stick.Path() + "/keep.txt"), "mine"));
  downloader->Abort();
  EXPECT_EQ(recorder.results, (Results{Result::UsbRemoved, Result::UsbRemoved}));
  EXPECT_TRUE(Exists(fs::path(stick.Path()) / "keep.txt"));
}

TEST_F(MapDownloaderTest, AStickPulledDuringTheDownloadIsUsbRemoved)
{
  Stick stick(16, 4715);
  if (!stick.Mounted())
    GTEST_SKIP() << "needs a tmpfs mount: " << stick.MountError();
  service.Serve(PathOf(*archive), Answer::File(archive->file).Rate(1000000, 16384));
  recorder.onProgress = [&](long long) { stick.Pull(); };

  downloader->Download(stick.FullMapFolder(), Map(*archive));
  ASSERT_TRUE(recorder.WaitForResults(1));
  EXPECT_EQ(recorder.results, Results{Result::UsbRemoved});
  Settle();
  EXPECT_EQ(recorder.results.size(), 1u);

  // The folder under the empty mount point is the computer's: a retry must not
  // write there once the stick has left the stick store.
  stick.Forget();
  downloader->Resume();
  EXPECT_EQ(recorder.results, (Results{Result::UsbRemoved, Result::UsbRemoved}));
  EXPECT_FALSE(Exists(stick.FullMapFolder()));
}

TEST_F(MapDownloaderTest, AReadOnlyStickIsUsbBlockedAndKeepsTheMapItHolds)
{
  Stick stick(8, 4716);
  if (!stick.Mounted())
    GTEST_SKIP() << "needs a tmpfs mount: " << stick.MountError();
  ASSERT_TRUE(DownloadsWhole(stick));
  const auto before = Listing(stick.FullMapFolder());

  ASSERT_TRUE(stick.SetReadOnly(true));
  const auto other = MapArchive::Make("NAM_2024.06", 10000);
  downloader->Download(stick.FullMapFolder(), Map(*other));
  EXPECT_EQ(recorder.results.back(), Result::UsbBlocked);
  EXPECT_EQ(Listing(stick.FullMapFolder()), before);

  // Nothing can be removed either: the map stays whole, nothing is reported
  // as removed, and the folder is kept for the next try.
  downloader->Abort();
  EXPECT_EQ(recorder.results.back(), Result::UsbBlocked);
  EXPECT_EQ(Listing(stick.FullMapFolder()), before);
  EXPECT_EQ(recorder.Removed(), 0);

  ASSERT_TRUE(stick.SetReadOnly(false));
  const qint64 onStick = FileBytes(stick.FullMapFolder());
  downloader->Abort();
  EXPECT_EQ(recorder.results.back(), Result::Aborted);
  EXPECT_FALSE(Exists(stick.FullMapFolder()));
  EXPECT_EQ(recorder.Removed(), onStick);
}

TEST_F(MapDownloaderTest, TheCancellationOfAFinishedMapRemovesItsMetadataCopyFirst)
{
  Stick stick;
  ASSERT_TRUE(DownloadsWhole(stick));
  const qint64 onStick = FileBytes(stick.FullMapFolder());
  EXPECT_EQ(onStick, archive->fileBytes + archive->metadataContent.size());

  const fs::path copy = stick.FullMapFolder() / (archive->name + ".meta.xml");
  std::vector<bool> copyPresent;
  recorder.onProgress = [&](long long) { copyPresent.push_back(Exists(copy)); };
  downloader->Abort();

  EXPECT_EQ(recorder.results, (Results{Result::Ok, Result::Aborted}));
  ASSERT_FALSE(copyPresent.empty());
  EXPECT_FALSE(copyPresent.front());
  EXPECT_EQ(recorder.Removed(), onStick);
  EXPECT_FALSE(Exists(stick.FullMapFolder()));

  // A second cancellation finds nothing.
  downloader->Abort();
  EXPECT_EQ(recorder.results.back(), Result::UsbRemoved);
}

TEST_F(MapDownloaderTest, ARemovalThatLeavesFilesBehindIsUsbBlockedAndCanBeTriedAgain)
{
  Stick stick;
  ASSERT_TRUE(DownloadsWhole(stick));
  const qint64 onStick = FileBytes(stick.FullMapFolder());
  const fs::path tile = stick.FullMapFolder() / archive->name / "DATA/TILE_0";
  const qint64 locked = FileBytes(tile);
  ASSERT_GT(locked, 0);

  {
    ArchiveTools::HonourPermissions honour;
    fs::permissions(tile, fs::owner_read | fs::owner_exe | fs::group_read | fs::others_read);
    downloader->Abort();
    fs::permissions(tile, fs::owner_all | fs::group_read | fs::others_read);
  }
  EXPECT_EQ(recorder.results.back(), Result::UsbBlocked);
  EXPECT_FALSE(Exists(stick.FullMapFolder() / (archive->name + ".meta.xml")));
  EXPECT_EQ(FileBytes(stick.FullMapFolder()), locked);
  EXPECT_EQ(recorder.Removed(), onStick - locked);

  downloader->Abort();
  EXPECT_EQ(recorder.results.back(), Result::Aborted);
  EXPECT_FALSE(Exists(stick.FullMapFolder()));
  EXPECT_EQ(recorder.Removed(), onStick);
}

TEST_F(MapDownloaderTest, FoldersOutsideAStickOrOfAnotherNameAreNeverEmptied)
{
  Stick stick;
  Serve(*archive);
  QTemporaryDir elsewhere;
  const fs::path foreign = fs::path(elsewhere.path().toStdString()) / "OrvaneNDSFull";
  ASSERT_TRUE(ArchiveTools::WriteFile(QString::fromStdString((foreign / "keep.txt").string()), "mine"));
  ASSERT_TRUE(ArchiveTools::WriteFile(QString::fromStdString(stick.Path() + "/Other/keep.txt"), "mine"));

  downloader->Download(foreign, Map(*archive));
  downloader->Download(fs::path(stick.Path()) / "Other", Map(*archive));
  MapInfo nameless = Map(*archive);
  nameless.url = service.Url("/maps/").toStdString();
  downloader->Download(stick.FullMapFolder(), nameless);

  EXPECT_EQ(recorder.results, (Results{Result::UsbRemoved, Result::UsbBlocked, Result::ServerError}));
  EXPECT_TRUE(Exists(foreign / "keep.txt"));
  EXPECT_TRUE(Exists(fs::path(stick.Path()) / "Other/keep.txt"));
  EXPECT_EQ(service.RequestCount(), 0);

  // A finished map on a stick that has left the stick store stays.
  ASSERT_TRUE(DownloadsWhole(stick));
  stick.Forget();
  downloader->Abort();
  EXPECT_EQ(recorder.results.back(), Result::UsbRemoved);
  EXPECT_EQ(Listing(stick.FullMapFolder() / archive->name), archive->listing);
}

TEST_F(MapDownloaderTest, ACancellationRemovesALinkInPlaceOfTheFoldersWithoutFollowingIt)
{
  Stick stick;
  ASSERT_TRUE(DownloadsWhole(stick));

  // The full-map folder, and a folder inside it, now lead elsewhere.
  QTemporaryDir elsewhere;
  const fs::path outside(elsewhere.path().toStdString());
  ASSERT_TRUE(ArchiveTools::WriteFile(QString::fromStdString((outside / "keep.txt").string()), "mine"));
  ASSERT_TRUE(ArchiveTools::WriteFile(QString::fromStdString((outside / "sub/keep.txt").string()), "mine"));
  fs::remove_all(stick.FullMapFolder());
  fs::create_directory_symlink(outside, stick.FullMapFolder());
  const std::size_t reports = recorder.progress.size();

  downloader->Abort();
  EXPECT_EQ(recorder.results.back(), Result::Aborted);
  EXPECT_FALSE(Exists(stick.FullMapFolder()));
  EXPECT_EQ(Listing(outside), (std::map<std::string, std::string>{
                                  {"keep.txt", "file:" + ArchiveTools::Md5Hex("mine").toStdString()},
                                  {"sub", "dir"},
                                  {"sub/keep.txt", "file:" + ArchiveTools::Md5Hex("mine").toStdString()}}));
  EXPECT_EQ(recorder.progress.size(), reports);

  // A real full-map folder holding a link to a folder and to a file outside:
  // the links go, what they point at stays and is not counted as removed.
  ASSERT_TRUE(DownloadsWhole(stick));
  const qint64 onStick = FileBytes(stick.FullMapFolder());
  ASSERT_TRUE(ArchiveTools::WriteFile(QString::fromStdString((outside / "keep.txt").string()), "mine"));
  ASSERT_TRUE(ArchiveTools::WriteFile(QString::fromStdString((outside / "sub/keep.txt").string()), "mine"));
  fs::create_directory_symlink(outside, stick.FullMapFolder() / archive->name / "LINKED");
  fs::create_symlink(outside / "keep.txt", stick.FullMapFolder() / "LINKED.meta.xml");
  const long long removedBefore = recorder.Removed();

  downloader->Abort();
  EXPECT_EQ(recorder.results.back(), Result::Aborted);
  EXPECT_FALSE(Exists(stick.FullMapFolder()));
  EXPECT_TRUE(Exists(outside / "keep.txt"));
  EXPECT_TRUE(Exists(outside / "sub/keep.txt"));
  EXPECT_EQ(recorder.Removed() - removedBefore, onStick);
}

TEST_F(MapDownloaderTest, ANewDownloadReplacesTheRunningOneWithoutAWordFromIt)
{
  Stick stick;
  // The first answer stops after a part of the archive: it still runs when
  // the second download replaces it.
  service.Serve(PathOf(*archive), Answer::File(archive->file).HoldAfter(100000));
  const auto other = MapArchive::Make("NAM_2024.06", 50000);
  Serve(*other);

  downloader->Download(stick.FullMapFolder(), Map(*archive));
  ASSERT_TRUE(QTest::qWaitFor([&] { return recorder.Written() > 0; }, 20000));
  downloader->Download(stick.FullMapFolder(), Map(*other));
  ASSERT_TRUE(recorder.WaitForResults(1));
  Settle();

  EXPECT_EQ(recorder.results, Results{Result::Ok});
  EXPECT_EQ(TopLevel(stick.FullMapFolder()), (std::set<std::string>{other->name, other->name + ".meta.xml"}));
  EXPECT_EQ(Listing(stick.FullMapFolder() / other->name), other->listing);
}

TEST_F(MapDownloaderTest, ADownloaderDestroyedMidTransferStopsAndReportsNothing)
{
  Stick stick;
  service.Serve(PathOf(*archive), Answer::File(archive->file).HoldAfter(100000));
  downloader->Download(stick.FullMapFolder(), Map(*archive));
  ASSERT_TRUE(QTest::qWaitFor([&] { return recorder.Written() > 0; }, 20000));
  const std::size_t reports = recorder.progress.size();

  downloader.reset();
  Settle();
  EXPECT_TRUE(recorder.results.empty());
  EXPECT_EQ(recorder.progress.size(), reports);
}

TEST_F(MapDownloaderTest, ARetryWithNoDownloadToGoOnWithEndsAsAborted)
{
  LogCapture log;
  downloader->Resume();
  EXPECT_EQ(recorder.results, Results{Result::Aborted});
  EXPECT_TRUE(log.Contains("No request in progress"));

  std::ostringstream names;
  names << MapDownloader::UsbRemoved << "|" << static_cast<MapDownloader::Result>(8) << "|";
  EXPECT_EQ(names.str(), "UsbRemoved||");
}
