#include "AsyncWriter.h"

#include "Log.h"

#include <QMetaObject>
#include <QMutexLocker>

#include <stdexcept>

namespace Tesk {

AsyncWriter::AsyncWriter(std::ostream& stream, QObject* parent) : QObject(parent), stream(stream) {}

bool AsyncWriter::IsIdle()
{
  QMutexLocker lock(&mutex);
  return queue.isEmpty() && !writing;
}

qint64 AsyncWriter::BufferedBytes()
{
  QMutexLocker lock(&mutex);
  return bufferedBytes;
}

quint64 AsyncWriter::WrittenChunks()
{
  QMutexLocker lock(&mutex);
  return writtenChunks;
}

bool AsyncWriter::WriteData(const QByteArray& data)
{
  QMutexLocker lock(&mutex);
  if (bufferedBytes > FullMark) {
    LOG(Warning) << "Buffer is already full";
    return false;
  }
  if (!queue.isEmpty() && queue.last().size() + data.size() <= JoinLimit)
    queue.last().append(data);
  else
    queue.append(data);
  bufferedBytes += data.size();
  if (!writing) {
    writing = true;
    QMetaObject::invokeMethod(this, "Write", Qt::QueuedConnection);
  }
  return bufferedBytes < FullMark;
}

void AsyncWriter::Abort()
{
  LOG(Debug) << "Stopping writer";
  QMutexLocker lock(&mutex);
  queue.clear();
  bufferedBytes = 0;
}

void AsyncWriter::Write()
{
  QMutexLocker lock(&mutex);
  writing = true;
  try {
    for (;;) {
      while (!queue.isEmpty()) {
        const QByteArray chunk = queue.takeFirst();
        bufferedBytes -= chunk.size();
        lock.unlock();
        stream.write(chunk.constData(), chunk.size());
        // A stream without an exception mask only records its failure.
        if (stream.fail())
          throw std::runtime_error("the output stream is in a failed state");
        LOG(Debug) << "Written: " << chunk.size() << " bytes";
        lock.relock();
        ++writtenChunks;
        lock.unlock();
        emit DataWritten(chunk.size());
        lock.relock();
      }
      // Before telling that everything is written, let the stream finish
      // what it holds: a failure that it finds only then is reported here,
      // not lost behind a DataReady that lets the request report success.
      lock.unlock();
      stream.flush();
      if (stream.fail())
        throw std::runtime_error("the output stream is in a failed state");
      lock.relock();
      if (queue.isEmpty())
        break;
    }
  } catch (const std::runtime_error& error) {
    emit DataError(QString::fromUtf8(error.what()));
    lock.relock();
  } catch (...) {
    emit DataError(QStringLiteral("unknown exception"));
    lock.relock();
  }
  LOG(Debug) << "Buffer is empty, waiting for new data";
  emit DataReady();
  writing = false;
}

} // namespace Tesk
