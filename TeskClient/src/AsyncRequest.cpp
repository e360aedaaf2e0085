#include "AsyncRequest.h"

#include "Log.h"

#include <QNetworkReply>
#include <QTimer>

#include <algorithm>

namespace Tesk {

AsyncRequest::AsyncRequest(QNetworkAccessManager& manager, const QString& url,
                           const QMap<QString, QString>& headers, const QMap<QString, QString>& arguments,
                           IResponse& response, std::ostream& stream, QObject* parent)
    : Request(manager, url, headers, arguments, response, stream, parent), writer(stream)
{
  connect(
      &writer, &AsyncWriter::DataWritten, this, [this](int bytes) { OnDataWritten(bytes); },
      Qt::QueuedConnection);
  connect(
      &writer, &AsyncWriter::DataReady, this, [this] { OnDataReady(); }, Qt::QueuedConnection);
  connect(
      &writer, &AsyncWriter::DataError, this, [this](const QString& error) { OnDataError(error); },
      Qt::QueuedConnection);
  writerThread.setObjectName(QStringLiteral("AsyncWriter"));
  writer.moveToThread(&writerThread);
  writerThread.start();
}

AsyncRequest::~AsyncRequest()
{
  writer.Abort();
  writerThread.quit();
  writerThread.wait();
}

void AsyncRequest::Send()
{
  if (reply) {
    // The base refuses with a warning; the transfer in flight keeps its state.
    Request::Send();
    return;
  }
  finished = false;
  resumePending = false;
  failPending = false;
  Request::Send();
  if (reply)
    reply->setReadBufferSize(ReplyBufferSize);
}

bool AsyncRequest::Retry()
{
  if (!reply && !writer.IsIdle()) {
    // The stream's position lies before data the writer still holds: asking
    // from there now would get those bytes twice.
    LOG(Debug) << "Waiting for writer to write what it holds before resuming";
    resumePending = true;
    return true;
  }
  resumePending = false;
  return Request::Retry();
}

void AsyncRequest::Abort()
{
  finished = true;
  resumePending = false;
  failPending = false;
  Request::Abort();
  writer.Abort();
}

void AsyncRequest::OnReadyRead()
{
  if (!reply)
    return;
  if (timeoutTimer)
    timeoutTimer->stop();
  if (ReadAvailable() && timeoutTimer)
    timeoutTimer->start();
}

bool AsyncRequest::ReadAvailable()
{
  // The body is taken in pieces of one size, each allocated to its exact
  // size: the writer's queue then reuses the same blocks over and over,
  // where arrays of every size (with room to grow, as readAll makes them)
  // would let the memory of a long download creep up.
  while (reply && reply->bytesAvailable() > 0) {
    const int size = static_cast<int>(std::min(reply->bytesAvailable(), PieceSize));
    QByteArray data(size, Qt::Uninitialized);
    const qint64 read = reply->read(data.data(), size);
    data.truncate(static_cast<int>(std::max<qint64>(read, 0)));
    if (read <= 0)
      break;
    LOG(Debug) << "Read: " << data.size() << " bytes";
    bodyBytes += data.size();

    switch (CheckBody(data)) {
    case Body::Reject:
      Request::Abort();
      if (writer.IsIdle())
        HandleError(UnusableAnswer);
      else
        failPending = true;
      return false;
    case Body::Discard:
      if (!data.isEmpty())
        LOG(Debug) << "Dropped: " << data.size() << " bytes that are not part of the resource";
      continue;
    case Body::Write:
      break;
    }
    if (data.isEmpty())
      continue;
    // Only bytes of the archive show that the server answers again: an error
    // page or a redirect's body must not hold the retry window open forever.
    if (retryTimer && autoRetryRunning) {
      LOG(Debug) << "Auto Retry - Download request resumed";
      autoRetryRunning = false;
      retryTimer->stop();
    }

    // Data the writer would refuse are not handed over at all: the resume
    // asks for them again from the stream's position.
    if (writer.BufferedBytes() > AsyncWriter::FullMark) {
      DropUntilWriterIsReady();
      return false;
    }
    // A reply that has ended has nothing more to send: dropping it would only
    // ask again for what is already here.
    if (!writer.WriteData(data) && !reply->isFinished()) {
      DropUntilWriterIsReady();
      return false;
    }
  }
  return true;
}

void AsyncRequest::DropUntilWriterIsReady()
{
  LOG(Debug) << "Waiting for writer to free the buffer";
  Request::Abort();
  resumePending = true;
}

void AsyncRequest::OnFinished()
{
  if (!reply)
    return;
  LOG(Debug) << "Request is finished";
  if (timeoutTimer)
    timeoutTimer->stop();
  // Bytes that arrived after the last readyRead go first.
  if (reply->bytesAvailable() > 0 && !ReadAvailable())
    return;
  // The end-of-stream marker makes the writer run once more, so that a
  // DataReady follows the last data.
  writer.WriteData(QByteArray());
  finished = true;
}

void AsyncRequest::OnDataWritten(int bytes)
{
  ++heardChunks;
  response.OnData(static_cast<qint64>(bytes));
}

void AsyncRequest::OnDataReady()
{
  // A DataReady can be older than data queued since: the writer's next run
  // ends with another one. Only an idle writer has written everything, and
  // only once its every DataWritten has been heard is everything reported.
  if (!writer.IsIdle() || writer.WrittenChunks() != heardChunks)
    return;
  if (failPending) {
    failPending = false;
    HandleError(UnusableAnswer);
    return;
  }
  // A resume asked for while the writer finished its last chunk (a retry
  // after an abort or a failure) goes before the ended transfer's leftovers.
  if (resumePending && !reply) {
    resumePending = false;
    Request::Retry();
    return;
  }
  if (finished) {
    if (reply && EndedEarly()) {
      // Some servers and proxies close the connection in the middle of a body
      // without the reply reporting it: this is a failed attempt, to be
      // resumed, not the whole archive.
      LOG(Warning) << "The connection was closed after " << bodyBytes << " of "
                   << reply->header(QNetworkRequest::ContentLengthHeader).toLongLong() << " bytes";
      Abort();
      HandleError(QNetworkReply::RemoteHostClosedError);
      return;
    }
    Request::OnFinished();
  }
}

void AsyncRequest::OnDataError(const QString& error)
{
  // After an abort or a reported failure nothing more is reported; a second
  // error of the same run is the same failure.
  if (finished && !reply) {
    LOG(Debug) << "Write failure after the end of the transfer: " << error;
    return;
  }
  Request::Abort(error);
}

} // namespace Tesk
