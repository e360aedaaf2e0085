#pragma once

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QString>

#include <ostream>

namespace Tesk {

// Writes byte chunks, handed over on one thread, into an output stream on
// another thread, in the order received. The queue is bounded: each hand-over
// tells the producer whether it may go on.
//
// The producer calls WriteData and Abort directly; the writer itself lives on
// a thread of its own (the owner moves it there and runs that thread's event
// loop), where Write runs and the three signals are emitted. The signals are
// meant for queued connections.
class AsyncWriter : public QObject
{
  Q_OBJECT

public:
  // Small hand-overs are joined into chunks of up to this size.
  static constexpr int JoinLimit = 32768;
  // WriteData returns false once this much is buffered, and refuses data
  // while more than this is buffered.
  static constexpr qint64 FullMark = 33554432;

  // The stream is not owned and must outlive the writer.
  explicit AsyncWriter(std::ostream& stream, QObject* parent = nullptr);

  // Nothing is queued and no write run is scheduled or under way: every byte
  // handed over has been written (or the writer failed and was aborted).
  bool IsIdle();
  qint64 BufferedBytes();
  // How many DataWritten signals have been emitted so far. A receiver that
  // has heard fewer still has reports on their way.
  quint64 WrittenChunks();

signals:
  // A chunk of this many bytes was written (0 for an empty chunk).
  void DataWritten(int bytes);
  // A write run ended: the queue was found empty and the stream flushed, or
  // a write failed.
  void DataReady();
  // Writing a chunk failed; the text says why.
  void DataError(QString error);

public slots:
  // Queues the data (empty data too: they make the writer run once more) and
  // schedules a write run. False when the producer must stop handing over:
  // the buffer has reached the full mark, or it was already above it and the
  // data were refused (logged "Buffer is already full").
  bool WriteData(const QByteArray& data);
  // Discards everything queued. A chunk being written is finished and reported.
  void Abort();
  // The write run; invoked on the writer's thread by WriteData only.
  void Write();

private:
  std::ostream& stream;
  QMutex mutex;
  QList<QByteArray> queue;   // oldest first
  qint64 bufferedBytes = 0;  // the sum of the sizes in queue
  bool writing = false;      // a write run is scheduled or under way
  quint64 writtenChunks = 0; // DataWritten signals emitted
};

} // namespace Tesk
