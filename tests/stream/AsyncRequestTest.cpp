#include "AsyncRequest.h"
#include "ArchiveServer.h"
#include "ArchiveTools.h"
#include "LogCapture.h"
#include "Tar/Stream.h"
#include "TestService.h"
#include "TestSinks.h"

#include <gtest/gtest.h>

#include <QNetworkAccessManager>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

#include <thread>

using namespace ArchiveTools;
using Result = Tesk::IResponse::Result;
using TestSupport::WaitFor;

namespace {

// The request as the client builds it, with a window on its writer and its
// retries for the tests that must act at a given moment.
class ObservedRequest : public Tesk::AsyncRequest
{
public:
  ObservedRequest(QNetworkAccessManager& manager, const QString& url, Tesk::IResponse& response,
                  std::ostream& stream)
      : AsyncRequest(manager, url, {{QStringLiteral("Accept"), QStringLiteral("application/x-tar")}}, {},
                     response, stream)
  {
  }
  bool Retry() override
  {
    ++retries;
    return AsyncRequest::Retry();
  }
  void Send() override
  {
    if (!reply)
      attempts.push_back(
          {writer.IsIdle(), request.rawHeader("Range").toStdString(), static_cast<qint64>(stream.tellp())});
    AsyncRequest::Send();
  }
  bool WriterIdle() { return writer.IsIdle(); }
  bool Finished() const { return finished; }
  // A DataReady of an earlier write run that reaches the request late.
  void DeliverStaleDataReady()
  {
    QueueStaleDataReady();
    QCoreApplication::processEvents();
  }
  void QueueStaleDataReady() { emit writer.DataReady(); }

  struct Attempt
  {
    bool writerIdle;
    std::string range; // the "Range" header it went out with
    qint64 position;   // the stream's position at that moment
  };
  std::vector<Attempt> attempts;
  int retries = 0;
};

class AsyncRequestTest : public testing::Test
{
protected:
  void SetUp() override
  {
    QStandardPaths::setTestModeEnabled(true); // no config.json of the user: a 3 minute window
    // Retry pauses of 10 ms, a window of 1.8 s, time-outs as set below.
    Tesk::Request::SetTimeScaleForTesting(0.01);
  }
  void TearDown() override { Tesk::Request::SetTimeScaleForTesting(1.0); }

  // Creates the request as the map download does and sends it.
  std::unique_ptr<ObservedRequest> Start(const QString& url, std::ostream& stream, Recorder& recorder,
                                         std::chrono::milliseconds timeout = std::chrono::milliseconds(10000))
  {
    auto request = std::make_unique<ObservedRequest>(manager, url, recorder, stream);
    recorder.request = request.get();
    request->SetTimeout(timeout);
    request->ReadRetryDurationFromConfig();
    request->Send();
    return request;
  }

  // A download of 8 MiB whose stick holds the first chunk: the writer waits
  // in its first write until stream.buffer.Open().
  struct HeldDownload
  {
    explicit HeldDownload(unsigned seed) : archive(Pattern(8 * 1024 * 1024, seed)), server(archive)
    {
      stream.buffer.Close();
    }
    QByteArray archive;
    ArchiveServer server;
    Recorder recorder;
    MemoryStream stream;
    std::unique_ptr<ObservedRequest> request; // last: it goes first
  };
  std::unique_ptr<HeldDownload> StartHeld(unsigned seed)
  {
    auto download = std::make_unique<HeldDownload>(seed);
    download->request = Start(download->server.Url(), download->stream, download->recorder);
    EXPECT_TRUE(WaitFor([&] { return download->stream.buffer.Waiting() == 1; }));
    return download;
  }

  static bool WaitForResult(Recorder& recorder)
  {
    return WaitFor([&] { return !recorder.results.empty(); }, 120000);
  }

  static QByteArray SampleArchive()
  {
    QTemporaryDir source;
    MakeSampleTree(source.path());
    return TarFolder(source.path(), "gnu");
  }

  QNetworkAccessManager manager;
};

boost::filesystem::path Path(const QString& path)
{
  return boost::filesystem::path(path.toStdString());
}

} // namespace

TEST_F(AsyncRequestTest, UnpacksTheArchiveAndReportsOkOnlyAfterTheLastWrite)
{
  QTemporaryDir source, target;
  MakeSampleTree(source.path());
  const QByteArray archive = TarFolder(source.path(), "gnu");
  ArchiveServer server(archive);
  Recorder recorder;
  Tesk::Tar::Stream stream(Path(target.path()));
  stream.exceptions(std::ios::badbit | std::ios::failbit);
  auto request = Start(server.Url(), stream, recorder);
  ASSERT_TRUE(WaitForResult(recorder));

  EXPECT_EQ(recorder.results, std::vector<Result>{Result::Ok});
  EXPECT_EQ(recorder.total, archive.size());
  EXPECT_FALSE(recorder.dataAfterResult);
  EXPECT_EQ(stream.md5(), Md5Hex(archive).toStdString());
  EXPECT_EQ(Describe(target.path()), Describe(source.path()));
  EXPECT_EQ(server.Requests(), 1);
}

TEST_F(AsyncRequestTest, AStaleDataReadyNeitherFinishesNorDropsWhatIsStillQueued)
{
  const QByteArray archive = Pattern(3 * 1024 * 1024, 4);
  ArchiveServer server(archive);
  Recorder recorder;
  MemoryStream stream;
  stream.buffer.Close();
  auto request = Start(server.Url(), stream, recorder);
  // Everything received, the end marker queued behind the data.
  ASSERT_TRUE(WaitFor([&] { return request->Finished() && stream.buffer.Waiting() == 1; }));
  request->DeliverStaleDataReady();
  EXPECT_TRUE(recorder.results.empty());
  stream.buffer.Open();
  ASSERT_TRUE(WaitForResult(recorder));
  EXPECT_EQ(recorder.results, std::vector<Result>{Result::Ok});
  EXPECT_FALSE(recorder.dataAfterResult);
  EXPECT_EQ(recorder.total, archive.size());
  EXPECT_TRUE(stream.buffer.Bytes() == archive.toStdString());
}

TEST_F(AsyncRequestTest, AStaleDataReadyNeverReportsTheEndBeforeTheLastWrittenChunk)
{
  const QByteArray archive = Pattern(300000, 5);
  ArchiveServer server(archive);
  Recorder recorder;
  MemoryStream stream;
  stream.buffer.Close();
  auto request = Start(server.Url(), stream, recorder);
  ASSERT_TRUE(WaitFor([&] { return request->Finished() && stream.buffer.Waiting() == 1; }));
  // An earlier run's DataReady waits in the queue while the writer finishes
  // everything: its DataWritten reports now stand behind that DataReady.
  request->QueueStaleDataReady();
  stream.buffer.Open();
  while (!request->WriterIdle())
    std::this_thread::yield();
  ASSERT_TRUE(WaitForResult(recorder));
  EXPECT_EQ(recorder.results, std::vector<Result>{Result::Ok});
  EXPECT_FALSE(recorder.dataAfterResult);
  EXPECT_EQ(recorder.total, archive.size());
}

TEST_F(AsyncRequestTest, EmptyBodyIsOneEmptyWriteThenOk)
{
  ArchiveServer server{QByteArray()};
  Recorder recorder;
  MemoryStream stream;
  auto request = Start(server.Url(), stream, recorder);
  ASSERT_TRUE(WaitForResult(recorder));
  EXPECT_EQ(recorder.data, std::vector<qint64>{0});
  EXPECT_EQ(recorder.results, std::vector<Result>{Result::Ok});
}

TEST_F(AsyncRequestTest, ResumesAfterCutsAtManyOffsetsToAByteIdenticalTreeAndTheRightMd5)
{
  QTemporaryDir source;
  MakeSampleTree(source.path());
  const QByteArray archive = TarFolder(source.path(), "pax");
  ASSERT_GT(archive.size(), 300000);
  // Cuts inside headers, at block boundaries, inside file data and padding.
  const QList<qint64> cuts = {1, 100, 411, 512, 513, 1, 1023, 5000, 65536, 3, 70000, 511, 100000};
  for (bool ignoreRange : {false, true}) {
    SCOPED_TRACE(ignoreRange ? "server ignores ranges" : "server honours ranges");
    QTemporaryDir target;
    ArchiveServer server(archive);
    server.SetCuts(cuts);
    server.SetIgnoreRange(ignoreRange);
    Recorder recorder;
    Tesk::Tar::Stream stream(Path(target.path()));
    stream.exceptions(std::ios::badbit | std::ios::failbit);
    auto request = Start(server.Url(), stream, recorder);
    ASSERT_TRUE(WaitForResult(recorder));

    EXPECT_EQ(recorder.results, std::vector<Result>{Result::Ok});
    // Qt may send a request again on a new connection by itself, so the
    // server can count more requests than there were attempts.
    EXPECT_GE(server.Requests(), cuts.size() + 1);
    ASSERT_GE(request->attempts.size(), 2u);
    // Every attempt went out with the writer idle and asked from exactly
    // where the stream stood: nothing asked twice, nothing skipped.
    for (const auto& attempt : request->attempts) {
      EXPECT_TRUE(attempt.writerIdle);
      EXPECT_EQ(attempt.range, attempt.position > 0 ? "bytes=" + std::to_string(attempt.position) + "-" : "");
    }
    EXPECT_EQ(recorder.total, archive.size());
    EXPECT_EQ(stream.md5(), Md5Hex(archive).toStdString());
    EXPECT_EQ(Describe(target.path()), Describe(source.path()));
  }
}

TEST_F(AsyncRequestTest, FullBufferDropsTheTransferAndResumesExactlyWhereTheWriterStopped)
{
  const QByteArray archive = Pattern(48 * 1024 * 1024, 5);
  ArchiveServer server(archive);
  Recorder recorder;
  MemoryStream stream;
  stream.buffer.Close(); // the stick does not take anything for now
  auto request = Start(server.Url(), stream, recorder, std::chrono::minutes(1));

  // The writer holds at most the full mark (plus one piece); then the
  // connection is dropped without any result.
  ASSERT_TRUE(WaitFor([&] { return server.ClientDrops() == 1; }, 120000));
  EXPECT_TRUE(recorder.results.empty());
  EXPECT_EQ(server.Requests(), 1);
  EXPECT_EQ(request->retries, 0);
  // Only the DataReady of the run that wrote everything may resume.
  request->DeliverStaleDataReady();
  EXPECT_EQ(request->attempts.size(), 1u);

  stream.buffer.Open();
  ASSERT_TRUE(WaitForResult(recorder));
  EXPECT_EQ(recorder.results, std::vector<Result>{Result::Ok});
  ASSERT_EQ(request->attempts.size(), 2u);
  const auto& resumed = request->attempts[1];
  EXPECT_TRUE(resumed.writerIdle);
  EXPECT_EQ(resumed.range, "bytes=" + std::to_string(resumed.position) + "-");
  const qint64 resumedAt = resumed.position;
  EXPECT_GE(resumedAt, Tesk::AsyncWriter::kFullMark);
  // The writer's queue reached the full mark with its last piece, and one
  // more chunk (of at most a piece) was being written.
  EXPECT_LT(resumedAt, Tesk::AsyncWriter::kFullMark + 2 * Tesk::AsyncRequest::kPieceSize);
  EXPECT_TRUE(stream.buffer.Bytes() == archive.toStdString());
  EXPECT_EQ(recorder.total, archive.size());
}

TEST_F(AsyncRequestTest, TimeOutWhileTheWriterHoldsDataResumesOnlyOnceItIsWritten)
{
  const QByteArray archive = Pattern(3 * 1024 * 1024, 6);
  ArchiveServer server(archive);
  server.SetStall(0, 2 * 1024 * 1024 + 17);
  Recorder recorder;
  MemoryStream stream;
  stream.buffer.Close();
  auto request = Start(server.Url(), stream, recorder, std::chrono::milliseconds(20000)); // 200 ms

  // The stalled connection times out and the retry comes while the writer
  // still holds everything received.
  ASSERT_TRUE(WaitFor([&] { return request->retries == 1; }, 120000));
  EXPECT_EQ(server.ClientDrops(), 1);
  EXPECT_FALSE(request->WriterIdle());
  EXPECT_EQ(request->attempts.size(), 1u); // asking now would use a stale position

  stream.buffer.Open();
  ASSERT_TRUE(WaitForResult(recorder));
  EXPECT_EQ(recorder.results, std::vector<Result>{Result::Ok});
  ASSERT_EQ(request->attempts.size(), 2u);
  EXPECT_TRUE(request->attempts[1].writerIdle);
  EXPECT_EQ(request->attempts[1].range, "bytes=" + std::to_string(2 * 1024 * 1024 + 17) + "-");
  EXPECT_TRUE(stream.buffer.Bytes() == archive.toStdString());
}

TEST_F(AsyncRequestTest, ErrorPagesAndRangesFromTheWrongOffsetNeverReachTheStream)
{
  const QByteArray archive = Pattern(200000, 7);
  ArchiveServer server(archive);
  // A cut, then a 503 page, then answers that start 500 bytes too late.
  server.SetCuts({70000});
  server.SetStatuses({200, 503});
  server.SetRangeShift(500);
  Recorder recorder;
  MemoryStream stream;
  auto request = Start(server.Url(), stream, recorder);
  ASSERT_TRUE(WaitFor([&] { return server.Requests() >= 4; }, 120000));
  EXPECT_TRUE(recorder.results.empty());
  EXPECT_EQ(stream.buffer.Size(), 70000);
  server.SetRangeShift(0);
  ASSERT_TRUE(WaitForResult(recorder));
  EXPECT_EQ(recorder.results, std::vector<Result>{Result::Ok});
  EXPECT_TRUE(stream.buffer.Bytes() == archive.toStdString());
}

TEST_F(AsyncRequestTest, AnErrorPageWithABodyEndsWhenTheWindowRunsOut)
{
  // Only bytes of the archive show that the server is answering again: an
  // error page, however long, must not hold the retry window open forever.
  TestSupport::TestService service;
  service.Serve("/map.tar", TestSupport::Answer::Status(404, QByteArray(4096, 'e')));
  Recorder recorder;
  MemoryStream stream;
  auto request = Start(service.Url("/map.tar"), stream, recorder);
  ASSERT_TRUE(WaitForResult(recorder));
  EXPECT_EQ(recorder.results, std::vector<Result>{Result::ServerError});
  EXPECT_EQ(stream.buffer.Size(), 0);
  EXPECT_GE(service.RequestsTo("/map.tar").size(), 2);
}

TEST_F(AsyncRequestTest, RedirectIsFollowedAndItsBodyIgnored)
{
  const QByteArray archive = Pattern(100000, 9);
  ArchiveServer server(archive);
  Recorder recorder;
  MemoryStream stream;
  auto request = Start(server.Url("/redirect"), stream, recorder);
  ASSERT_TRUE(WaitForResult(recorder));
  EXPECT_EQ(recorder.results, std::vector<Result>{Result::Ok});
  EXPECT_EQ(server.Requests(), 2);
  EXPECT_TRUE(stream.buffer.Bytes() == archive.toStdString());
}

TEST_F(AsyncRequestTest, WriteFailureIsReportedAsIOErrorExactlyOnce)
{
  const QByteArray archive = Pattern(6 * 1024 * 1024, 10);
  for (bool throwing : {true, false}) {
    SCOPED_TRACE(throwing ? "stream with exception mask" : "stream without exception mask");
    ArchiveServer server(archive);
    Recorder recorder;
    MemoryStream stream;
    if (throwing)
      stream.exceptions(std::ios::badbit | std::ios::failbit);
    stream.buffer.FailAt(100000, throwing);
    LogCapture log;
    auto request = Start(server.Url(), stream, recorder);
    ASSERT_TRUE(WaitForResult(recorder));
    // Once the writer is idle every signal of its runs has been posted.
    ASSERT_TRUE(WaitFor([&] { return request->WriterIdle(); }));
    QCoreApplication::processEvents();
    EXPECT_EQ(recorder.results, std::vector<Result>{Result::IOError});
    EXPECT_EQ(server.Requests(), 1);
    request.reset();
    const std::string expected =
        std::string("Failed to write data: ") +
        (throwing ? "the stick refused the write" : "the output stream is in a failed state");
    EXPECT_EQ(log.Count(expected), 1);
  }
}

TEST_F(AsyncRequestTest, UnsafeEntryOrReadOnlyTargetEndsTheDownloadWithIOError)
{
  struct Case
  {
    const char* label;
    QByteArray archive;
    bool readOnly;
    const char* error;
  };
  const Case cases[] = {
      {"symbolic link", TarBuilder().AddFile("a", "x").Add({"link", '2', 0, "/etc"}).End().Bytes(), false,
       "Failed to write data: Refused symbolic link: \"link\""},
      {"dot-dot", TarBuilder().AddFile("../escape", "x").End().Bytes(), false,
       "Failed to write data: Refused entry name with a \"..\" component: \"../escape\""},
      {"read-only target", TarBuilder().AddFile("f", "x").End().Bytes(), true,
       "Failed to write data: Failed to create file: \"f\": Permission denied"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    QTemporaryDir dir;
    const QString root = dir.filePath("root");
    QDir().mkpath(root);
    if (c.readOnly)
      ::chmod(root.toUtf8(), 0555);
    ArchiveServer server(c.archive);
    Recorder recorder;
    LogCapture log;
    {
      HonourPermissions guard; // the writer thread is started below, under it
      Tesk::Tar::Stream stream(Path(root));
      stream.exceptions(std::ios::badbit | std::ios::failbit);
      auto request = Start(server.Url(), stream, recorder);
      ASSERT_TRUE(WaitForResult(recorder));
      EXPECT_EQ(recorder.results, std::vector<Result>{Result::IOError});
    }
    EXPECT_EQ(log.Count(c.error), 1);
    EXPECT_FALSE(QFile::exists(dir.filePath("escape")));
    ::chmod(root.toUtf8(), 0755);
  }
}

TEST_F(AsyncRequestTest, AbortReportsNothingAndNothingResumesAfterIt)
{
  auto held = StartHeld(11);
  held->request->Abort();
  held->stream.buffer.Open();
  ASSERT_TRUE(WaitFor([&] { return held->request->WriterIdle() && held->recorder.data.size() == 1; }));
  QCoreApplication::processEvents(); // the writer's last DataReady, posted before it went idle
  EXPECT_TRUE(held->recorder.results.empty());
  EXPECT_EQ(held->server.Requests(), 1);
  EXPECT_EQ(held->stream.buffer.Writes().size(), 1u); // only the chunk being written
  EXPECT_EQ(held->recorder.total, held->stream.buffer.Size());

  // The user's retry resumes after it.
  held->request->RetryButtonClicked();
  ASSERT_TRUE(WaitForResult(held->recorder));
  EXPECT_EQ(held->recorder.results, std::vector<Result>{Result::Ok});
  EXPECT_EQ(held->request->attempts.back().range,
            "bytes=" + std::to_string(held->recorder.data.front()) + "-");
  EXPECT_TRUE(held->stream.buffer.Bytes() == held->archive.toStdString());
}

TEST_F(AsyncRequestTest, ARetryAskedWhileTheWriterFinishesAChunkWaitsForIt)
{
  auto held = StartHeld(13);
  held->request->Abort();
  held->request->RetryButtonClicked(); // the chunk being written is not written yet
  EXPECT_EQ(held->request->attempts.size(), 1u);
  held->stream.buffer.Open();
  ASSERT_TRUE(WaitForResult(held->recorder));
  EXPECT_EQ(held->recorder.results, std::vector<Result>{Result::Ok});
  ASSERT_EQ(held->request->attempts.size(), 2u);
  EXPECT_TRUE(held->request->attempts[1].writerIdle);
  EXPECT_EQ(held->request->attempts[1].range,
            "bytes=" + std::to_string(held->request->attempts[1].position) + "-");
  EXPECT_TRUE(held->stream.buffer.Bytes() == held->archive.toStdString());
}

TEST_F(AsyncRequestTest, DeletingTheRequestWaitsForTheChunkBeingWrittenAndReportsNothing)
{
  auto held = StartHeld(12);
  std::atomic<bool> deleting{false};
  std::thread opener([&] {
    while (!deleting)
      std::this_thread::yield();
    held->stream.buffer.Open();
  });
  deleting = true;
  held->request.reset();
  opener.join();
  const long long written = held->stream.buffer.Size();
  EXPECT_GT(written, 0);
  EXPECT_EQ(held->stream.buffer.Writes().size(), 1u);
  QCoreApplication::processEvents(); // nothing that was queued for the request arrives
  EXPECT_TRUE(held->recorder.data.empty());
  EXPECT_TRUE(held->recorder.results.empty());
}

TEST_F(AsyncRequestTest, MissingRootGivesABadStreamAndIOError)
{
  QTemporaryDir dir;
  ArchiveServer server(SampleArchive());
  Recorder recorder;
  Tesk::Tar::Stream stream(Path(dir.filePath("gone")));
  ASSERT_TRUE(stream.bad());
  auto request = Start(server.Url(), stream, recorder);
  ASSERT_TRUE(WaitForResult(recorder));
  EXPECT_EQ(recorder.results, std::vector<Result>{Result::IOError});
}
