#pragma once

#include "IRequest.h"
#include "IResponse.h"

#include <QMap>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QObject>
#include <QString>
#include <QUrl>

#include <chrono>
#include <ostream>

class QNetworkAccessManager;
class QTimer;

namespace Tesk {

// A request of the map-update service: one GET of a URL with query arguments
// and raw headers, whose reply body goes into the caller's stream.
//
// Attempts. `Send` starts one attempt; it ends in `OnFinished` (the reply's
// end), in the inactivity time-out, or in `Abort`. A failed attempt opens the
// automatic retry window (`retryDuration`, 10 s; 1 to 10 minutes for a map
// archive); failures inside the window are retried after a short pause that
// grows from 1 s; the first failure after the window has run out reports
// `NoConnection` or `ServerError`. The user's retry (`RetryButtonClicked`)
// opens a new window and sends at once.
//
// The body. Only the resource reaches the stream: the body of a 200 answer, or
// of a 206 answer whose Content-Range starts where the resume asked. When a
// server answers a ranged request with 200, the bytes the stream already holds
// are skipped. The bodies of other answers (redirects, 4xx, 5xx) are dropped.
// A 206 from another offset, or any other status, fails the attempt.
//
// Redirects are followed up to 10 hops; a relative target is resolved against
// the current URL; a redirect from https to anything but https is refused;
// the "key" argument is only sent to the origin of the first URL. A query that
// the URL already carries is kept and the arguments are merged into it.
//
// Derived classes (the map archive download) replace `Send`, `Abort`,
// `OnReadyRead` and `OnFinished`, and may replace `Retry`. A replacement of
// `OnReadyRead` passes each piece it reads through `CheckBody` and handles
// `Body::Reject` by ending the attempt, as `Request::OnReadyRead` does (see
// there). `Request::OnFinished` evaluates the status of the reply in `reply`
// itself, so a derived class that calls it later (after draining) gets the same
// outcome.
class Request : public QObject, public IRequest
{
  Q_OBJECT

public:
  Request(QNetworkAccessManager& manager, const QString& url, const QMap<QString, QString>& headers,
          const QMap<QString, QString>& arguments, IResponse& response, std::ostream& stream,
          QObject* parent = nullptr);
  ~Request() override;

  void SetTimeout(std::chrono::milliseconds timeout) override;
  void GetDownloadedbytes(qint64 bytes) override;
  void SetAutomaticRetryTimeout(std::chrono::milliseconds duration) override;
  void RetryButtonClicked() override;
  void ReadRetryDurationFromConfig() override;
  void Send() override;
  bool Retry() override;
  void Abort() override;

  // True when no attempt is in flight and none is scheduled: the request will
  // not call its sink again until the caller starts another attempt.
  bool IsIdle() const;

  // Most redirects followed in a row; one more ends the request with ServerError.
  static constexpr int MaxRedirects = 10;
  // The pause before the first automatic retry of a window; each further pause
  // is half as long again, up to MaxRetryPause.
  static constexpr std::chrono::milliseconds FirstRetryPause{1000};
  static constexpr std::chrono::milliseconds MaxRetryPause{5000};
  // The retry window of XML requests, and the read buffer limit of a reply.
  static constexpr int DefaultRetryDuration = 10000;
  static constexpr qint64 ReadBufferSize = 33554432;

  // Test seam: every timer of every request (inactivity, retry window, retry
  // pause) runs for its length times `factor`. 1 in the application. The log
  // and the fields keep the unscaled lengths.
  static void SetTimeScaleForTesting(double factor);

protected slots:
  // Ends the request with IOError: writing the body failed.
  void Abort(QString error);
  // (Re)builds `request` for `uri`: query, TLS 1.2, raw headers.
  void Construct(QString uri);
  virtual void OnReadyRead();
  virtual void OnDownloadProgress(qint64 received, qint64 total);
  virtual void OnFinished();

protected:
  // What to do with a piece of the body just read from `reply`.
  enum class Body
  {
    Write,   // write `data` (possibly shortened) to the stream
    Discard, // not the resource (a redirect or an error page): drop it, go on
    Reject   // the answer cannot be used: end the attempt with HandleError(UnusableAnswer)
  };

  // Decides, from the status and Content-Range of `reply`, whether `data` is
  // part of the resource. For a 200 answer to a ranged request it drops, from
  // the front of `data`, what the stream already holds. Call it once for every
  // piece read from the reply, in order. A derived class handles Reject with
  //   Request::Abort(); HandleError(UnusableAnswer);
  // (or its own equivalent that first lets queued data be written).
  Body CheckBody(QByteArray& data);

  // The error code of an attempt whose answer cannot be used (a 206 from
  // another offset, a status that is neither success nor redirect).
  static constexpr QNetworkReply::NetworkError UnusableAnswer = QNetworkReply::ProtocolFailure;

  // The reply ended without an error before its announced length: the server
  // closed the connection in the middle of the body, which Qt reports as a
  // complete answer.
  bool EndedEarly() const;
  // Body bytes read from the reply of this attempt.
  qint64 bodyBytes = 0;

  // The outcome of an attempt.
  void HandleError(QNetworkReply::NetworkError error);
  void checkForErrorAndInitiateAutoRetry(QNetworkReply::NetworkError error);
  void InitiateAutoRetry(QNetworkReply::NetworkError error, bool timedOut);
  // Opens the retry window and schedules the next attempt after the pause.
  void TriggerAutoRetryTimer();
  void checkTimerAndSendNextRequest(QNetworkReply::NetworkError error, bool timedOut);
  void ShowErrorMessageScreen(QNetworkReply::NetworkError error);

  QNetworkAccessManager& manager;
  QNetworkRequest request;
  QMap<QString, QString> headers;
  QMap<QString, QString> arguments;
  QNetworkReply* reply = nullptr;
  QString redirectUrl;
  QTimer* timeoutTimer = nullptr;
  QTimer* retryTimer = nullptr;
  IResponse& response;
  std::ostream& stream;
  qint64 downloadedBytes = 0;
  bool autoRetryRunning = false;
  int retryDuration = DefaultRetryDuration;
  bool isDownload = false;

private slots:
  void OnConnectionTimeout();
  void OnRetryDurationComplete();

private:
  // Ends the sequence of attempts with a failure that no retry can mend.
  void Fail(IResponse::Result result);
  // Starts the pause before the next automatic attempt.
  void ScheduleRetry();
  // The error of the attempt in `reply`, taking its status into account.
  QNetworkReply::NetworkError AttemptError(QNetworkReply::NetworkError networkError);

  static int Scaled(std::chrono::milliseconds duration);

  QUrl origin;                  // scheme, host and port the key may be sent to
  QTimer* pauseTimer = nullptr; // the pause before the next automatic attempt
  std::chrono::milliseconds nextPause = FirstRetryPause;
  int redirectHops = 0;

  // The attempt in flight.
  quint64 attempt = 0;      // counts the attempts sent
  qint64 resumeOffset = 0;  // where the "Range" header of this attempt starts
  bool bodyDecided = false; // the status of this attempt's answer was looked at
  Body bodyKind = Body::Discard;
  qint64 bytesToSkip = 0; // bytes of a 200 answer the stream already holds
};

} // namespace Tesk
