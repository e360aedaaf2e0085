#pragma once

#include "AsyncWriter.h"
#include "Request.h"

#include <QThread>

namespace Tesk {

// The request that downloads a map archive. It is a Request in every respect
// (URL and headers, inactivity time-out, retry window, redirects, resume by
// byte range) but one: the body goes into the caller's stream through an
// AsyncWriter on a thread of its own, so that receiving never waits for the
// (slow) stick.
//
// The writer's buffer is bounded. When it is full the transfer is dropped and,
// once the writer has written everything it holds, resumed from the stream's
// position with a "Range" header. Every resume waits for that moment, so the
// position it asks from is always exact: a resume after an inactivity
// time-out or a failed attempt too. The outcome of a transfer is reported
// only after the writer has written everything received before its end.
//
// The sink hears OnData(n) after each chunk of n bytes was written (on the
// request's thread) and one OnResult per transfer; a write failure ends the
// request with IOError. Deleting the request stops the writer (a chunk being
// written is finished first) and reports nothing more.
class AsyncRequest : public Request
{
public:
  // The reply's own read buffer. The writer's queue is where data wait; the
  // reply only needs enough to keep the connection busy, and every byte it
  // holds counts against the memory of a download.
  static constexpr qint64 ReplyBufferSize = 1024 * 1024;
  // The body is read from the reply in pieces of at most this size.
  static constexpr qint64 PieceSize = AsyncWriter::JoinLimit;

  AsyncRequest(QNetworkAccessManager& manager, const QString& url, const QMap<QString, QString>& headers,
               const QMap<QString, QString>& arguments, IResponse& response, std::ostream& stream,
               QObject* parent = nullptr);
  ~AsyncRequest() override;

  void Send() override;
  bool Retry() override;
  void Abort() override;

protected:
  void OnReadyRead() override;
  void OnFinished() override;

private:
  // Hands what the reply holds to the writer; false when the transfer was
  // dropped (the buffer is full) or failed.
  bool ReadAvailable();
  // Drops the transfer; it is resumed once the writer has written all it holds.
  void DropUntilWriterIsReady();
  void OnDataWritten(int bytes);
  void OnDataReady();
  void OnDataError(const QString& error);

protected:
  AsyncWriter writer;
  QThread writerThread;
  // The end of the transfer was reached, or the request was aborted: the
  // writer's next DataReady finishes the request instead of resuming it.
  bool finished = false;
  // The transfer was dropped, or a retry asked for, while the writer still
  // held data: resume once it has written them.
  bool resumePending = false;
  // The answer could not be used: fail the attempt once the writer is done.
  bool failPending = false;
  // DataWritten reports heard so far; fewer than the writer emitted means
  // some are still queued behind the DataReady being handled.
  quint64 heardChunks = 0;
};

} // namespace Tesk
