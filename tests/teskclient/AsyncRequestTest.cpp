#include "AsyncRequest.h"
#include "Archives.h"
#include "Files.h"
#include "LogCapture.h"
#include "Tar/Stream.h"
#include "TestService.h"
#include "TestSinks.h"

#include <gtest/gtest.h>

#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <sys/stat.h>

#include <thread>

using namespace TestSupport;
using Result = Tesk::IResponse::Result;
using TestSupport::Answer;
using TestSupport::RecordedRequest;
using TestSupport::TestService;
using TestSupport::WaitFor;

namespace {

// The request as the client builds it, with a window on its writer and its
// retries for the tests that must act at a given moment.
class ObservedRequest : public Tesk::AsyncRequest
{
public:
  ObservedRequest(QNetworkAccessManager& manager, const QString& url, Tesk::IResponse& response,
                  std::ostream& stream)
      : AsyncRequest(manager, url, {{"Accept", "application/x-tar"}}, {}, response, stream)
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
      attempts.push_back({writer.IsIdle(), request.rawHeader("Range").toStdString(), qint64(stream.tellp())});
    AsyncRequest::Send();
  }
  bool WriterIdle() { return writer.IsIdle(); }
  bool Finished() const { return finished; }
  // A DataReady of an earlier write run that reaches the request late.
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

// Every attempt went out with the writer idle and asked from exactly where
// the stream stood: nothing asked twice, nothing skipped.
void ExpectExactResumes(const ObservedRequest& request)
{
  for (const auto& attempt : request.attempts) {
    EXPECT_TRUE(attempt.writerIdle);
    EXPECT_EQ(attempt.range, attempt.position > 0 ? "bytes=" + std::to_string(attempt.position) + "-" : "");
  }
}

boost::filesystem::path Path(const QString& path)
{
  return boost::filesystem::path(path.toStdString());
}

// One archive download as the map download makes it, from "/map.tar" of a
// service of its own, into a stream in memory unless another is given.
struct Download
{
  explicit Download(QByteArray bytes) : archive(std::move(bytes)) { service.Serve("/map.tar", Whole()); }
  Answer Whole() const
  {
    Answer answer = Answer::Ok(archive, "application/x-tar");
    answer.chunkSize = 65536;
    return answer;
  }
  void Start(QNetworkAccessManager& manager, std::ostream* out = nullptr,
             std::chrono::milliseconds timeout = std::chrono::milliseconds(10000),
             const QString& path = "/map.tar")
  {
    request = std::make_unique<ObservedRequest>(manager, service.Url(path), recorder, out ? *out : stream);
    recorder.request = request.get();
    request->SetTimeout(timeout);
    request->ReadRetryDurationFromConfig();
    request->Send();
  }
  bool WaitForResult()
  {
    return WaitFor([&] { return !recorder.results.empty(); }, 120000);
  }
  bool Streamed() { return stream.buffer.Bytes() == archive.toStdString(); }

  QByteArray archive;
  TestService service;
  Recorder recorder;
  MemoryStream stream;
  std::unique_ptr<ObservedRequest> request; // last: it goes first
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

  // A download of 8 MiB whose stick holds the first chunk: the writer waits
  // in its first write until stream.buffer.Open().
  std::unique_ptr<Download> StartHeld(unsigned seed)
  {
    auto download = std::make_unique<Download>(Pattern(8 * 1024 * 1024, seed));
    download->stream.buffer.Close();
    download->Start(manager);
    EXPECT_TRUE(WaitFor([&] { return download->stream.buffer.Waiting() == 1; }));
    return download;
  }

  QNetworkAccessManager manager;
};

} // namespace

TEST_F(AsyncRequestTest, ResumesAfterCutsAtManyOffsetsToAByteIdenticalTreeAndTheRightMd5)
{
  QTemporaryDir source;
  MakeSampleTree(source.path());
  const QByteArray archive = TarFolder(source.path(), "pax");
  ASSERT_GT(archive.size(), 300000);
  // Cuts inside headers, at block boundaries, inside file data and padding.
  const QList<qint64> cuts = {1, 100, 411, 512, 513, 1, 1023, 5000, 65536, 3, 70000, 511, 100000};
  for (const auto& [cutList, ignoreRanges] :
       {std::pair(QList<qint64>(), false), std::pair(cuts, false), std::pair(cuts, true)}) {
    SCOPED_TRACE(testing::Message() << cutList.size() << " cuts, ranges ignored: " << ignoreRanges);
    Download download(archive);
    // Request i is cut after cuts[i] bytes from where it asked to start.
    download.service.Handle("/map.tar", [&, cutList = cutList,
                                         ignoreRanges = ignoreRanges](const RecordedRequest& request) {
      Answer answer = download.Whole();
      answer.ranges = !ignoreRanges;
      const int index = download.service.RequestCount();
      if (index < cutList.size())
        answer.CloseAfter((ignoreRanges ? request.Header("Range").mid(6).toLongLong() : 0) + cutList[index]);
      return answer;
    });
    QTemporaryDir target;
    Tesk::Tar::Stream stream(Path(target.path()));
    stream.exceptions(std::ios::badbit | std::ios::failbit);
    download.Start(manager, &stream);
    ASSERT_TRUE(download.WaitForResult());

    EXPECT_EQ(download.recorder.results, std::vector<Result>{Result::Ok});
    EXPECT_FALSE(download.recorder.dataAfterResult);
    // Qt may send a request again on a new connection by itself, so the
    // service can count more requests than there were attempts.
    EXPECT_GE(download.service.RequestCount(), cutList.size() + 1);
    EXPECT_EQ(download.request->attempts.size() == 1, cutList.isEmpty());
    ExpectExactResumes(*download.request);
    EXPECT_EQ(download.recorder.total, archive.size());
    EXPECT_EQ(stream.md5(), Md5Hex(archive).toStdString());
    EXPECT_EQ(Listing(target.path()), Listing(source.path()));
    download.request.reset();
  }
}

TEST_F(AsyncRequestTest, AStaleDataReadyNeverEndsTheTransferEarlyNorDropsWhatIsStillQueued)
{
  for (bool late : {false, true}) {
    SCOPED_TRACE(late ? "queued behind the last reports" : "delivered while the end marker is queued");
    Download download(Pattern(late ? 300000 : 3 * 1024 * 1024, 4));
    download.stream.buffer.Close();
    download.Start(manager);
    // Everything received, the end marker queued behind the data.
    ASSERT_TRUE(
        WaitFor([&] { return download.request->Finished() && download.stream.buffer.Waiting() == 1; }));
    download.request->QueueStaleDataReady();
    if (late) {
      // The writer finishes everything: its DataWritten reports now stand
      // behind the stale DataReady.
      download.stream.buffer.Open();
      while (!download.request->WriterIdle())
        std::this_thread::yield();
    } else {
      QCoreApplication::processEvents();
      EXPECT_TRUE(download.recorder.results.empty());
      download.stream.buffer.Open();
    }
    ASSERT_TRUE(download.WaitForResult());
    EXPECT_EQ(download.recorder.results, std::vector<Result>{Result::Ok});
    EXPECT_FALSE(download.recorder.dataAfterResult);
    EXPECT_EQ(download.recorder.total, download.archive.size());
    EXPECT_TRUE(download.Streamed());
  }
}

TEST_F(AsyncRequestTest, EmptyBodyIsOneEmptyWriteThenOk)
{
  Download download{QByteArray()};
  download.Start(manager);
  ASSERT_TRUE(download.WaitForResult());
  EXPECT_EQ(download.recorder.data, std::vector<qint64>{0});
  EXPECT_EQ(download.recorder.results, std::vector<Result>{Result::Ok});
}

TEST_F(AsyncRequestTest, FullBufferDropsTheTransferAndResumesExactlyWhereTheWriterStopped)
{
  Download download(Pattern(48 * 1024 * 1024, 5));
  QSignalSpy closed(&download.service, &TestService::ConnectionClosed);
  download.stream.buffer.Close(); // the stick does not take anything for now
  download.Start(manager, nullptr, std::chrono::minutes(1));

  // The writer holds at most the full mark (plus one piece); then the
  // connection is dropped without any result.
  ASSERT_TRUE(WaitFor([&] { return closed.count() == 1; }, 120000));
  EXPECT_TRUE(download.recorder.results.empty());
  EXPECT_EQ(download.service.RequestCount(), 1);
  EXPECT_EQ(download.request->retries, 0);
  // Only the DataReady of the run that wrote everything may resume.
  download.request->QueueStaleDataReady();
  QCoreApplication::processEvents();
  EXPECT_EQ(download.request->attempts.size(), 1u);

  download.stream.buffer.Open();
  ASSERT_TRUE(download.WaitForResult());
  EXPECT_EQ(download.recorder.results, std::vector<Result>{Result::Ok});
  ASSERT_EQ(download.request->attempts.size(), 2u);
  ExpectExactResumes(*download.request);
  // The writer's queue reached the full mark with its last piece, and one
  // more chunk (of at most a piece) was being written.
  const qint64 resumedAt = download.request->attempts[1].position;
  EXPECT_GE(resumedAt, Tesk::AsyncWriter::FullMark);
  EXPECT_LT(resumedAt, Tesk::AsyncWriter::FullMark + 2 * Tesk::AsyncRequest::PieceSize);
  EXPECT_TRUE(download.Streamed());
  EXPECT_EQ(download.recorder.total, download.archive.size());
}

TEST_F(AsyncRequestTest, TimeOutWhileTheWriterHoldsDataResumesOnlyOnceItIsWritten)
{
  const qint64 stall = 2 * 1024 * 1024 + 17;
  Download download(Pattern(3 * 1024 * 1024, 6));
  download.service.ServeSequence("/map.tar", {download.Whole().StallAfter(stall), download.Whole()});
  QSignalSpy closed(&download.service, &TestService::ConnectionClosed);
  download.stream.buffer.Close();
  download.Start(manager, nullptr, std::chrono::milliseconds(20000)); // 200 ms

  // The stalled connection times out and the retry comes while the writer
  // still holds everything received.
  ASSERT_TRUE(WaitFor([&] { return download.request->retries == 1 && closed.count() == 1; }, 120000));
  EXPECT_FALSE(download.request->WriterIdle());
  EXPECT_EQ(download.request->attempts.size(), 1u); // asking now would use a stale position

  download.stream.buffer.Open();
  ASSERT_TRUE(download.WaitForResult());
  EXPECT_EQ(download.recorder.results, std::vector<Result>{Result::Ok});
  ASSERT_EQ(download.request->attempts.size(), 2u);
  ExpectExactResumes(*download.request);
  EXPECT_EQ(download.request->attempts[1].position, stall);
  EXPECT_TRUE(download.Streamed());
}

TEST_F(AsyncRequestTest, ErrorPagesRedirectsAndRangesFromTheWrongOffsetNeverReachTheStream)
{
  Download download(Pattern(200000, 7));
  // A redirect, a cut, a 503 page, then answers that start 500 bytes too late.
  qint64 shift = 500;
  download.service.Serve("/redirect", Answer::Redirect(download.service.Url("/map.tar").toUtf8()));
  download.service.Handle("/map.tar", [&](const RecordedRequest&) {
    Answer answer = download.Whole();
    answer.rangeShift = shift;
    switch (download.service.RequestsTo("/map.tar").size()) {
    case 0:
      return answer.CloseAfter(70000);
    case 1:
      return Answer::Status(503, "<html>error 503</html>");
    default:
      return answer;
    }
  });
  download.Start(manager, nullptr, std::chrono::milliseconds(10000), "/redirect");
  ASSERT_TRUE(WaitFor([&] { return download.service.RequestsTo("/map.tar").size() >= 4; }, 120000));
  EXPECT_TRUE(download.recorder.results.empty());
  EXPECT_EQ(download.stream.buffer.Size(), 70000);
  shift = 0;
  ASSERT_TRUE(download.WaitForResult());
  EXPECT_EQ(download.recorder.results, std::vector<Result>{Result::Ok});
  EXPECT_TRUE(download.Streamed());
}

TEST_F(AsyncRequestTest, AnErrorPageWithABodyEndsWhenTheWindowRunsOut)
{
  // Only bytes of the archive show that the server is answering again: an
  // error page, however long, must not hold the retry window open forever.
  Download download{QByteArray()};
  download.service.Serve("/map.tar", Answer::Status(404, QByteArray(4096, 'e')));
  download.Start(manager);
  ASSERT_TRUE(download.WaitForResult());
  EXPECT_EQ(download.recorder.results, std::vector<Result>{Result::ServerError});
  EXPECT_EQ(download.stream.buffer.Size(), 0);
  EXPECT_GE(download.service.RequestCount(), 2);
}

TEST_F(AsyncRequestTest, WriteFailureIsReportedAsIOErrorExactlyOnce)
{
  for (bool throwing : {true, false}) {
    SCOPED_TRACE(throwing ? "stream with exception mask" : "stream without exception mask");
    Download download(Pattern(6 * 1024 * 1024, 10));
    if (throwing)
      download.stream.exceptions(std::ios::badbit | std::ios::failbit);
    download.stream.buffer.FailAt(100000, throwing);
    LogCapture log;
    download.Start(manager);
    ASSERT_TRUE(download.WaitForResult());
    // Once the writer is idle every signal of its runs has been posted.
    ASSERT_TRUE(WaitFor([&] { return download.request->WriterIdle(); }));
    QCoreApplication::processEvents();
    EXPECT_EQ(download.recorder.results, std::vector<Result>{Result::IOError});
    EXPECT_EQ(download.service.RequestCount(), 1);
    download.request.reset();
    EXPECT_EQ(
        log.Count(std::string("Failed to write data: ") +
                  (throwing ? "the stick refused the write" : "the output stream is in a failed state")),
        1);
  }
}

TEST_F(AsyncRequestTest, UnsafeEntryOrUnusableTargetEndsTheDownloadWithIOError)
{
  struct Case
  {
    const char* label;
    QByteArray archive;
    const char* root; // the folder to unpack into: "root" is made, read-only when "read-only"
    const char* error;
  };
  const QByteArray plain = TarBuilder().AddFile("f", "x").End().Bytes();
  const Case cases[] = {
      {"symbolic link", TarBuilder().AddFile("a", "x").Add({"link", '2', 0, "/etc"}).End().Bytes(), "root",
       "Failed to write data: Refused symbolic link: \"link\""},
      {"dot-dot", TarBuilder().AddFile("../escape", "x").End().Bytes(), "root",
       "Failed to write data: Refused entry name with a \"..\" component: \"../escape\""},
      {"read-only target", plain, "read-only",
       "Failed to write data: Failed to create file: \"f\": Permission denied"},
      {"missing target", plain, "missing", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    QTemporaryDir dir;
    const QString root = dir.filePath(c.root);
    if (std::string(c.root) != "missing")
      QDir().mkpath(root);
    if (std::string(c.root) == "read-only")
      ::chmod(root.toUtf8(), 0555);
    Download download(c.archive);
    LogCapture log;
    {
      HonourPermissions guard; // the writer thread is started below, under it
      Tesk::Tar::Stream stream(Path(root));
      if (stream.good())
        stream.exceptions(std::ios::badbit | std::ios::failbit);
      download.Start(manager, &stream);
      ASSERT_TRUE(download.WaitForResult());
      EXPECT_EQ(download.recorder.results, std::vector<Result>{Result::IOError});
      download.request.reset();
    }
    EXPECT_TRUE(!c.error || log.Count(c.error) == 1) << c.error;
    EXPECT_FALSE(QFile::exists(dir.filePath("escape")));
    ::chmod(root.toUtf8(), 0755);
  }
}

TEST_F(AsyncRequestTest, AbortOrARetryWhileAChunkIsWrittenResumesOnlyAfterIt)
{
  for (bool retryAtOnce : {false, true}) {
    SCOPED_TRACE(retryAtOnce ? "retry asked before the chunk is written" : "retry after the abort settled");
    auto held = StartHeld(11);
    held->request->Abort();
    if (retryAtOnce) {
      held->request->RetryButtonClicked(); // the chunk being written is not written yet
      EXPECT_EQ(held->request->attempts.size(), 1u);
      held->stream.buffer.Open();
    } else {
      held->stream.buffer.Open();
      ASSERT_TRUE(WaitFor([&] { return held->request->WriterIdle() && held->recorder.data.size() == 1; }));
      QCoreApplication::processEvents(); // the writer's last DataReady, posted before it went idle
      // Nothing reported and nothing resumed.
      EXPECT_TRUE(held->recorder.results.empty());
      EXPECT_EQ(held->service.RequestCount(), 1);
      EXPECT_EQ(held->stream.buffer.Writes().size(), 1u); // only the chunk being written
      EXPECT_EQ(held->recorder.total, held->stream.buffer.Size());
      held->request->RetryButtonClicked();
    }
    ASSERT_TRUE(held->WaitForResult());
    EXPECT_EQ(held->recorder.results, std::vector<Result>{Result::Ok});
    ASSERT_EQ(held->request->attempts.size(), 2u);
    ExpectExactResumes(*held->request);
    EXPECT_EQ(held->request->attempts[1].position, held->recorder.data.front());
    EXPECT_TRUE(held->Streamed());
  }
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
  EXPECT_GT(held->stream.buffer.Size(), 0);
  EXPECT_EQ(held->stream.buffer.Writes().size(), 1u);
  QCoreApplication::processEvents(); // nothing that was queued for the request arrives
  EXPECT_TRUE(held->recorder.data.empty());
  EXPECT_TRUE(held->recorder.results.empty());
}
