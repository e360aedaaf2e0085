#include "AsyncWriter.h"
#include "LogCapture.h"
#include "TestService.h"
#include "TestSinks.h"

#include <gtest/gtest.h>

#include <QThread>

#include <numeric>
#include <random>
#include <thread>

using TestSupport::WaitFor;

namespace {

// A writer on a thread of its own, as its owner sets it up: its signals
// reach this thread through queued connections. The thread is started only
// by Start(), so that tests can queue data before any write run.
struct WriterOnThread
{
  explicit WriterOnThread(std::ostream& stream) : writer(stream)
  {
    writer.moveToThread(&thread);
    QObject::connect(
        &writer, &Tesk::AsyncWriter::DataWritten, &receiver, [this](int bytes) { written.push_back(bytes); },
        Qt::QueuedConnection);
    QObject::connect(
        &writer, &Tesk::AsyncWriter::DataReady, &receiver, [this] { ++ready; }, Qt::QueuedConnection);
    QObject::connect(
        &writer, &Tesk::AsyncWriter::DataError, &receiver,
        [this](const QString& error) { errors.push_back(error); }, Qt::QueuedConnection);
  }
  ~WriterOnThread()
  {
    writer.Abort();
    thread.quit();
    thread.wait();
  }
  void Start() { thread.start(); }

  QObject receiver;
  Tesk::AsyncWriter writer;
  QThread thread;
  std::vector<int> written;
  int ready = 0;
  std::vector<QString> errors;
};

QByteArray Bytes(int size, char fill = 'x')
{
  return QByteArray(size, fill);
}

// Starts the writer with the stick's gate closed and hands over three chunks
// of 40000 bytes ('a', 'b', 'c'); the first one waits at the gate.
bool HandOverThreeChunks(WriterOnThread& w, MemoryStream& stream)
{
  stream.buffer.Close();
  w.Start();
  w.writer.WriteData(Bytes(40000, 'a'));
  const bool waiting = WaitFor([&] { return stream.buffer.Waiting() == 1; });
  w.writer.WriteData(Bytes(40000, 'b'));
  w.writer.WriteData(Bytes(40000, 'c'));
  return waiting;
}

} // namespace

TEST(AsyncWriterTest, JoinsSmallHandOversUpToTheJoinLimitAndNeverSplitsAChunk)
{
  struct Case
  {
    std::vector<int> handOvers;
    std::vector<long long> writes;
  };
  const Case cases[] = {
      {{10000, 10000, 10000, 10000}, {30000, 10000}},
      {{40000}, {40000}},
      {{16384, 16384}, {32768}},
      {{40000, 100, 200}, {40000, 300}},
      {{1, 32768}, {1, 32768}},
      {{0}, {0}}, // empty data on an empty queue: one empty write
  };
  for (const auto& c : cases) {
    MemoryStream stream;
    WriterOnThread w(stream);
    for (int size : c.handOvers)
      EXPECT_TRUE(w.writer.WriteData(Bytes(size)));
    w.Start();
    ASSERT_TRUE(WaitFor([&] { return w.ready == 1; }));
    EXPECT_EQ(stream.buffer.Writes(), c.writes);
    EXPECT_EQ(w.written, std::vector<int>(c.writes.begin(), c.writes.end()));
    EXPECT_TRUE(w.writer.IsIdle());
  }
}

TEST(AsyncWriterTest, TellsTheProducerToStopAtTheFullMarkAndRefusesBeyondIt)
{
  MemoryStream stream;
  WriterOnThread w(stream);
  LogCapture log;
  const qint64 mark = Tesk::AsyncWriter::FullMark;
  EXPECT_TRUE(w.writer.WriteData(Bytes(static_cast<int>(mark - 1))));
  EXPECT_FALSE(w.writer.WriteData(Bytes(1))); // queued, and now full
  EXPECT_EQ(w.writer.BufferedBytes(), mark);
  EXPECT_FALSE(w.writer.WriteData(Bytes(1))); // exactly full on entry: still queued
  EXPECT_EQ(w.writer.BufferedBytes(), mark + 1);
  EXPECT_FALSE(w.writer.WriteData(Bytes(5, 'r'))); // above the mark: refused
  EXPECT_EQ(w.writer.BufferedBytes(), mark + 1);
  EXPECT_EQ(log.Count("Buffer is already full"), 1);

  w.Start();
  ASSERT_TRUE(WaitFor([&] { return w.ready == 1; }));
  EXPECT_EQ(stream.buffer.Size(), mark + 1);
  EXPECT_EQ(stream.buffer.Bytes().find('r'), std::string::npos);
  EXPECT_EQ(w.writer.BufferedBytes(), 0);
  EXPECT_TRUE(w.writer.WriteData(Bytes(1)));
}

TEST(AsyncWriterTest, WritesEveryByteInOrderWhileTheProducerKeepsHandingOver)
{
  MemoryStream stream;
  WriterOnThread w(stream);
  w.Start();
  std::mt19937 random(11);
  QByteArray expected;
  for (int i = 0; i < 3000; ++i) {
    QByteArray piece(1 + static_cast<int>(random() % 70000), Qt::Uninitialized);
    for (int j = 0; j < piece.size(); ++j)
      piece[j] = static_cast<char>(random());
    expected += piece;
    w.writer.WriteData(piece);
  }
  ASSERT_TRUE(WaitFor([&] { return w.writer.IsIdle(); }, 60000));
  ASSERT_TRUE(
      WaitFor([&] { return std::accumulate(w.written.begin(), w.written.end(), 0LL) == expected.size(); }));
  EXPECT_TRUE(stream.buffer.Bytes() == expected.toStdString());
  EXPECT_TRUE(w.errors.empty());
}

TEST(AsyncWriterTest, AbortOrStoppingTheThreadDropsTheQueueButFinishesTheChunkBeingWritten)
{
  for (bool stop : {false, true}) {
    SCOPED_TRACE(stop ? "thread stopped" : "aborted");
    MemoryStream stream;
    auto w = std::make_unique<WriterOnThread>(stream);
    ASSERT_TRUE(HandOverThreeChunks(*w, stream));
    EXPECT_FALSE(w->writer.IsIdle());
    if (stop) {
      std::atomic<bool> stopping{false};
      std::thread opener([&] {
        while (!stopping)
          std::this_thread::yield();
        stream.buffer.Open();
      });
      stopping = true;
      w.reset(); // Abort, quit, wait
      opener.join();
    } else {
      w->writer.Abort();
      EXPECT_EQ(w->writer.BufferedBytes(), 0);
      stream.buffer.Open();
      ASSERT_TRUE(WaitFor([&] { return w->ready == 1; }));
      EXPECT_EQ(w->written, std::vector<int>{40000});
      EXPECT_TRUE(w->writer.IsIdle());
    }
    EXPECT_EQ(stream.buffer.Bytes(), std::string(40000, 'a'));
  }
}

TEST(AsyncWriterTest, AFailedWriteOrFlushIsReportedOnceBeforeDataReady)
{
  struct Case
  {
    const char* name;
    bool mask;        // the stream throws; without it a failure only sets its bad state
    long long failAt; // the first byte a write may not reach; -1: the flush fails
    const char* error;
    std::vector<int> written;
  };
  const Case cases[] = {
      {"throwing write", true, 50000, "the stick refused the write", {40000}},
      {"quiet write", false, 50000, "the output stream is in a failed state", {40000}},
      {"throwing flush", true, -1, "the stick failed when flushed", {40000, 40000, 40000}},
      {"quiet flush", false, -1, "the output stream is in a failed state", {40000, 40000, 40000}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MemoryStream stream;
    if (c.mask)
      stream.exceptions(std::ios::badbit);
    if (c.failAt < 0)
      stream.buffer.FailOnSync();
    else
      stream.buffer.FailAt(c.failAt, c.mask);
    WriterOnThread w(stream);
    ASSERT_TRUE(HandOverThreeChunks(w, stream));
    stream.buffer.Open();
    ASSERT_TRUE(WaitFor([&] { return w.ready == 1; }));
    EXPECT_EQ(w.errors, std::vector<QString>{c.error});
    // The failed chunk is not counted; the one after it stays queued for the owner to drop.
    EXPECT_EQ(w.written, c.written);
    EXPECT_EQ(w.writer.BufferedBytes(), c.failAt < 0 ? 0 : 40000);
  }
}
