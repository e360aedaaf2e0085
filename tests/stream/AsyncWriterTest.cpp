#include "AsyncWriter.h"
#include "LogCapture.h"
#include "TestService.h"
#include "TestSinks.h"

#include <gtest/gtest.h>

#include <QTest>
#include <QThread>

#include <random>

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
  const std::vector<int>& WrittenSizes() const { return written; }

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
  };
  for (const auto& c : cases) {
    MemoryStream stream;
    WriterOnThread w(stream);
    for (int size : c.handOvers)
      EXPECT_TRUE(w.writer.WriteData(Bytes(size)));
    w.Start();
    ASSERT_TRUE(WaitFor([&] { return w.ready == 1; }));
    EXPECT_EQ(stream.buffer.Writes(), c.writes);
    EXPECT_EQ(w.WrittenSizes(), std::vector<int>(c.writes.begin(), c.writes.end()));
    EXPECT_TRUE(w.writer.IsIdle());
  }
}

TEST(AsyncWriterTest, TellsTheProducerToStopAtTheFullMarkAndRefusesBeyondIt)
{
  MemoryStream stream;
  WriterOnThread w(stream);
  LogCapture log;
  const qint64 mark = Tesk::AsyncWriter::kFullMark;
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

TEST(AsyncWriterTest, EmptyDataOnAnEmptyQueueMakeOneEmptyWrite)
{
  MemoryStream stream;
  WriterOnThread w(stream);
  w.Start();
  EXPECT_TRUE(w.writer.WriteData(QByteArray()));
  ASSERT_TRUE(WaitFor([&] { return w.ready == 1; }));
  EXPECT_EQ(w.WrittenSizes(), std::vector<int>{0});
  EXPECT_EQ(stream.buffer.Writes(), std::vector<long long>{0});
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
  ASSERT_TRUE(WaitFor([&] {
    long long sum = 0;
    for (int size : w.WrittenSizes())
      sum += size;
    return sum == expected.size();
  }));
  EXPECT_TRUE(stream.buffer.Bytes() == expected.toStdString());
  EXPECT_EQ(static_cast<int>(w.errors.size()), 0);
}

TEST(AsyncWriterTest, AbortDropsTheQueueButFinishesTheChunkBeingWritten)
{
  MemoryStream stream;
  stream.buffer.Close();
  WriterOnThread w(stream);
  w.Start();
  w.writer.WriteData(Bytes(40000, 'a'));
  ASSERT_TRUE(WaitFor([&] { return stream.buffer.Waiting() == 1; }));
  w.writer.WriteData(Bytes(40000, 'b'));
  w.writer.WriteData(Bytes(40000, 'c'));
  EXPECT_FALSE(w.writer.IsIdle());
  w.writer.Abort();
  EXPECT_EQ(w.writer.BufferedBytes(), 0);
  stream.buffer.Open();
  ASSERT_TRUE(WaitFor([&] { return w.ready == 1; }));
  EXPECT_EQ(w.WrittenSizes(), std::vector<int>{40000});
  EXPECT_EQ(stream.buffer.Bytes(), std::string(40000, 'a'));
  EXPECT_TRUE(w.writer.IsIdle());
}

TEST(AsyncWriterTest, AThrowingStreamIsReportedOnceAndTheFailedChunkIsNotCounted)
{
  MemoryStream stream;
  stream.exceptions(std::ios::badbit);
  stream.buffer.FailAt(50000, true);
  stream.buffer.Close();
  WriterOnThread w(stream);
  w.Start();
  w.writer.WriteData(Bytes(40000));
  ASSERT_TRUE(WaitFor([&] { return stream.buffer.Waiting() == 1; }));
  w.writer.WriteData(Bytes(40000));
  w.writer.WriteData(Bytes(40000));
  stream.buffer.Open();
  ASSERT_TRUE(WaitFor([&] { return w.ready == 1; }));
  ASSERT_EQ(static_cast<int>(w.errors.size()), 1);
  EXPECT_EQ(w.errors.at(0), "the stick refused the write");
  EXPECT_EQ(w.WrittenSizes(), std::vector<int>{40000});
  // The chunk after the failed one stays queued for the owner to drop.
  EXPECT_EQ(w.writer.BufferedBytes(), 40000);
}

TEST(AsyncWriterTest, AStreamThatOnlyRecordsItsFailureIsReportedToo)
{
  MemoryStream stream; // no exception mask: a failed write only sets badbit
  stream.buffer.FailAt(10, false);
  WriterOnThread w(stream);
  w.Start();
  w.writer.WriteData(Bytes(100));
  ASSERT_TRUE(WaitFor([&] { return w.ready == 1; }));
  ASSERT_EQ(static_cast<int>(w.errors.size()), 1);
  EXPECT_EQ(w.errors.at(0), "the output stream is in a failed state");
  EXPECT_TRUE(w.WrittenSizes().empty());
}

TEST(AsyncWriterTest, AFailureFoundOnlyWhenTheStreamIsFlushedComesBeforeDataReady)
{
  for (bool mask : {true, false}) {
    MemoryStream stream;
    if (mask)
      stream.exceptions(std::ios::badbit);
    stream.buffer.FailOnSync();
    WriterOnThread w(stream);
    w.Start();
    w.writer.WriteData(Bytes(100));
    ASSERT_TRUE(WaitFor([&] { return w.ready == 1; }));
    ASSERT_EQ(static_cast<int>(w.errors.size()), 1);
    EXPECT_EQ(w.errors.at(0),
              mask ? "the stick failed when flushed" : "the output stream is in a failed state");
    EXPECT_EQ(w.WrittenSizes(), std::vector<int>{100});
  }
}

TEST(AsyncWriterTest, StoppingTheThreadWaitsForTheChunkBeingWritten)
{
  MemoryStream stream;
  stream.buffer.Close();
  auto w = std::make_unique<WriterOnThread>(stream);
  w->Start();
  w->writer.WriteData(Bytes(40000));
  w->writer.WriteData(Bytes(40000));
  ASSERT_TRUE(WaitFor([&] { return stream.buffer.Waiting() == 1; }));
  std::atomic<bool> stopping{false};
  std::thread opener([&] {
    while (!stopping)
      std::this_thread::yield();
    stream.buffer.Open();
  });
  stopping = true;
  w.reset(); // Abort, quit, wait
  opener.join();
  EXPECT_EQ(stream.buffer.Size(), 40000);
}
