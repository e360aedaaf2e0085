// The map archive's way to the stick: the writer thread's bounded queue, and
// the request that hands the body to it, drops the transfer when the queue is
// full and resumes exactly where the stream stands.

#include "Archives.h"
#include "Files.h"
#include "RequestSupport.h"
#include "Tar/Stream.h"

#include <QCoreApplication>
#include <QStandardPaths>

#include <thread>

using namespace TestSupport;

namespace {

// The request as the client builds it, with a window on its writer and its
// attempts.
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
  Tesk::AsyncWriter& Writer() { return writer; }
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

// One archive download as the map download makes it, from "/map.tar" of a
// service of its own, into a stream in memory unless another is given.
struct Download
{
  explicit Download(QByteArray bytes) : archive(std::move(bytes)) { service.Serve("/map.tar", Whole()); }
  // Unlimited, in chunks of 64 KiB.
  Answer Whole() const { return Answer::Ok(archive, "application/x-tar").Rate(0, 65536); }
  void Start(QNetworkAccessManager& manager, std::ostream* out = nullptr, int timeoutMs = 10000,
             const QString& path = "/map.tar")
  {
    request = std::make_unique<ObservedRequest>(manager, service.Url(path), sink, out ? *out : stream);
    sink.request = request.get();
    request->SetTimeout(std::chrono::milliseconds(timeoutMs));
    request->ReadRetryDurationFromConfig();
    request->Send();
  }
  bool Streamed() { return stream.buffer.Bytes() == archive.toStdString(); }
  // The download ends well (after exactly `attempts` attempts when given), and
  // every attempt went out with the writer idle and asked from exactly where
  // the stream stood: nothing asked twice, nothing skipped.
  void ExpectOkAfterExactResumes(std::size_t attempts = 0)
  {
    EXPECT_EQ(sink.Outcome(), Results{Result::Ok});
    EXPECT_FALSE(sink.dataAfterResult);
    EXPECT_TRUE(attempts == 0 || request->attempts.size() == attempts) << request->attempts.size();
    for (const auto& attempt : request->attempts) {
      EXPECT_TRUE(attempt.writerIdle);
      EXPECT_EQ(attempt.range, attempt.position > 0 ? "bytes=" + std::to_string(attempt.position) + "-" : "");
    }
  }

  QByteArray archive;
  TestService service;
  Sink sink;
  MemoryStream stream;
  std::unique_ptr<ObservedRequest> request; // last: it goes first
};

class AsyncRequestTest : public testing::Test
{
protected:
  // No config.json of the user: a window of 3 minutes, 1.8 s here, pauses of 10 ms.
  void SetUp() override { QStandardPaths::setTestModeEnabled(true); }

  TimeScale scale{0.01};
  QNetworkAccessManager manager;
};

} // namespace

// Whatever its producer does, the writer holds no more than its full mark and
// the one hand-over that reached it.
TEST(AsyncWriterTest, RefusesWhatArrivesAboveTheFullMark)
{
  MemoryStream stream;
  Tesk::AsyncWriter writer(stream); // never runs here: nothing is written
  EXPECT_FALSE(writer.WriteData(QByteArray(static_cast<int>(Tesk::AsyncWriter::FullMark) + 1, 'x')));
  EXPECT_FALSE(writer.WriteData("refused"));
  EXPECT_EQ(writer.BufferedBytes(), Tesk::AsyncWriter::FullMark + 1);
}

TEST_F(AsyncRequestTest, ResumesAfterCutsAtManyOffsetsToAByteIdenticalTreeAndTheRightMd5)
{
  QTemporaryDir source;
  MakeSampleTree(source.path());
  const QByteArray archive = TarFolder(source.path(), "pax");
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
    Tesk::Tar::Stream stream(target.path().toStdString());
    stream.exceptions(std::ios::badbit | std::ios::failbit);
    download.Start(manager, &stream);
    download.ExpectOkAfterExactResumes();
    EXPECT_EQ(download.request->attempts.size() == 1, cutList.isEmpty());
    EXPECT_EQ(download.sink.total, archive.size());
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
      while (!download.request->Writer().IsIdle())
        std::this_thread::yield();
    } else {
      QCoreApplication::processEvents();
      EXPECT_TRUE(download.sink.results.empty());
      download.stream.buffer.Open();
    }
    download.ExpectOkAfterExactResumes(1);
    EXPECT_TRUE(download.Streamed());
  }

  Download empty{QByteArray()}; // an empty body is one empty write, then Ok
  empty.Start(manager);
  EXPECT_EQ(empty.sink.Outcome(), Results{Result::Ok});
  EXPECT_EQ(empty.sink.data, std::vector<qint64>{0});
}

TEST_F(AsyncRequestTest, FullBufferDropsTheTransferAndResumesExactlyWhereTheWriterStopped)
{
  Download download(Pattern(48 * 1024 * 1024, 5));
  download.stream.buffer.Close(); // the stick does not take anything for now
  download.Start(manager, nullptr, 6000000);
  // The writer holds the full mark; the connection is dropped without a result.
  ASSERT_TRUE(
      WaitFor([&] { return download.service.RequestCount() == 1 && download.service.OpenConnections() == 0; },
              120000));
  EXPECT_TRUE(download.sink.results.empty());
  EXPECT_EQ(download.request->retries, 0);
  // Only the DataReady of the run that wrote everything may resume.
  download.request->QueueStaleDataReady();
  QCoreApplication::processEvents();
  EXPECT_EQ(download.request->attempts.size(), 1u);

  download.stream.buffer.Open();
  download.ExpectOkAfterExactResumes(2);
  EXPECT_GE(download.request->attempts.back().position, Tesk::AsyncWriter::FullMark);
  EXPECT_LT(download.request->attempts.back().position,
            Tesk::AsyncWriter::FullMark + 2 * Tesk::AsyncRequest::PieceSize);
  EXPECT_TRUE(download.Streamed());
}

TEST_F(AsyncRequestTest, TimeOutWhileTheWriterHoldsDataResumesOnlyOnceItIsWritten)
{
  const qint64 stall = 2 * 1024 * 1024 + 17;
  Download download(Pattern(3 * 1024 * 1024, 6));
  download.service.ServeSequence("/map.tar", {download.Whole().StallAfter(stall), download.Whole()});
  download.stream.buffer.Close();
  download.Start(manager, nullptr, 20000); // 200 ms
  // The stalled connection times out and the retry comes while the writer
  // still holds everything received: asking now would use a stale position.
  ASSERT_TRUE(WaitFor(
      [&] { return download.request->retries == 1 && download.service.OpenConnections() == 0; }, 120000));
  EXPECT_FALSE(download.request->Writer().IsIdle());
  EXPECT_EQ(download.request->attempts.size(), 1u);

  download.stream.buffer.Open();
  download.ExpectOkAfterExactResumes(2);
  EXPECT_EQ(download.request->attempts.back().position, stall);
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
    const int before = download.service.RequestsTo("/map.tar").size();
    return before == 0   ? answer.CloseAfter(70000)
           : before == 1 ? Answer::Status(503, "<html>503</html>")
                         : answer;
  });
  download.Start(manager, nullptr, 10000, "/redirect");
  ASSERT_TRUE(WaitFor([&] { return download.service.RequestsTo("/map.tar").size() >= 4; }, 120000));
  EXPECT_TRUE(download.sink.results.empty());
  EXPECT_EQ(download.stream.buffer.Size(), 70000);
  shift = 0;
  EXPECT_EQ(download.sink.Outcome(), Results{Result::Ok});
  EXPECT_TRUE(download.Streamed());

  // Only bytes of the archive show that the server answers again: an error
  // page, however long, does not hold the retry window open.
  Download page{QByteArray()};
  page.service.Serve("/map.tar", Answer::Status(404, QByteArray(4096, 'e')));
  page.Start(manager);
  EXPECT_EQ(page.sink.Outcome(), Results{Result::ServerError});
  EXPECT_EQ(page.stream.buffer.Size(), 0);
}

TEST_F(AsyncRequestTest, AFailedWriteEndsTheDownloadWithIOErrorExactlyOnce)
{
  // A write that throws or takes nothing, or a flush that throws (the failure
  // the stick shows only once it writes what it holds). With `mask` the stream
  // throws, without it a failure only sets its bad state; `failAt` is the
  // first byte a write may not reach (-1: the flush fails).
  const std::tuple<const char*, bool, long long> failures[] = {
      {"write throws", true, 100000}, {"write takes nothing", false, 100000}, {"flush throws", true, -1}};
  for (const auto& [name, mask, failAt] : failures) {
    SCOPED_TRACE(name);
    Download download(Pattern(6 * 1024 * 1024, 10));
    if (mask)
      download.stream.exceptions(std::ios::badbit | std::ios::failbit);
    failAt < 0 ? download.stream.buffer.FailOnSync() : download.stream.buffer.FailAt(failAt, mask);
    download.Start(manager);
    ASSERT_TRUE(download.sink.Wait());
    // Once the writer is idle every signal of its runs has been posted.
    ASSERT_TRUE(WaitFor([&] { return download.request->Writer().IsIdle(); }));
    QCoreApplication::processEvents();
    EXPECT_EQ(download.sink.results, Results{Result::IOError});
    EXPECT_EQ(download.service.RequestCount(), 1);
  }

  // The extractor refuses an entry, or has no folder to unpack into.
  const std::pair<QByteArray, bool> cases[] = {
      {TarBuilder().AddFile("a", "x").Add({"link", '2', 0, "/etc"}).End().Bytes(), true},
      {TarBuilder().AddFile("../escape", "x").End().Bytes(), true},
      {TarBuilder().AddFile("f", "x").End().Bytes(), false}};
  for (const auto& [archive, rootExists] : cases) {
    QTemporaryDir dir;
    const QString root = dir.filePath("root");
    if (rootExists)
      QDir().mkpath(root);
    Download download(archive);
    Tesk::Tar::Stream stream(root.toStdString());
    ASSERT_EQ(stream.good(), rootExists); // a stream opens only on an existing folder
    if (stream.good())
      stream.exceptions(std::ios::badbit | std::ios::failbit);
    download.Start(manager, &stream);
    EXPECT_EQ(download.sink.Outcome(), Results{Result::IOError});
    download.request.reset();
    EXPECT_FALSE(QFile::exists(dir.filePath("escape")));
  }
}

// Abort, a retry asked at once, or deletion while the writer is blocked in its
// first chunk: nothing is asked again before that chunk is written, and a
// deleted request waits for it and reports nothing.
TEST_F(AsyncRequestTest, AbortRetryOrDeletionWhileAChunkIsWrittenGoOnOnlyAfterIt)
{
  for (const std::string mode : {"retry after the abort settled", "retry at once", "deletion"}) {
    SCOPED_TRACE(mode);
    // A download of 8 MiB whose stick holds the first chunk.
    Download held(Pattern(8 * 1024 * 1024, 11));
    held.stream.buffer.Close();
    held.Start(manager);
    ASSERT_TRUE(WaitFor([&] { return held.stream.buffer.Waiting() == 1; }));
    if (mode == "deletion") {
      // Everything received and queued behind the chunk at the gate. The gate
      // opens once the queue has been dropped (which only Abort does while the
      // writer is blocked), while this thread deletes the request.
      ASSERT_TRUE(WaitFor([&] { return held.request->Finished(); }));
      std::thread opener([&, &writer = held.request->Writer()] {
        while (writer.BufferedBytes() != 0)
          std::this_thread::yield();
        held.stream.buffer.Open();
      });
      held.request.reset();
      opener.join();
      EXPECT_EQ(held.stream.buffer.Writes(), 1u);
      EXPECT_GT(held.stream.buffer.Size(), 0);
      QCoreApplication::processEvents(); // nothing that was queued for the request arrives
      EXPECT_TRUE(held.sink.data.empty());
      EXPECT_TRUE(held.sink.results.empty());
      continue;
    }
    held.request->Abort();
    if (mode == "retry at once") {
      held.request->RetryButtonClicked(); // the chunk being written is not written yet
      EXPECT_EQ(held.request->attempts.size(), 1u);
      held.stream.buffer.Open();
    } else {
      held.stream.buffer.Open();
      ASSERT_TRUE(WaitFor([&] { return held.request->Writer().IsIdle() && held.sink.data.size() == 1; }));
      QCoreApplication::processEvents(); // the writer's last DataReady, posted before it went idle
      EXPECT_TRUE(held.sink.results.empty());
      EXPECT_EQ(held.service.RequestCount(), 1);
      EXPECT_EQ(held.stream.buffer.Writes(), 1u); // only the chunk being written
      held.request->RetryButtonClicked();
    }
    held.ExpectOkAfterExactResumes(2);
    EXPECT_EQ(held.request->attempts.back().position, held.sink.data.front());
    EXPECT_TRUE(held.Streamed());
  }
}
