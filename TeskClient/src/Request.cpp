#include "Request.h"

#include "Log.h"

#include <QNetworkAccessManager>
#include <QPointer>
#include <QRegularExpression>
#include <QSslConfiguration>
#include <QStandardPaths>
#include <QTimer>
#include <QUrlQuery>

#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cmath>
#include <fstream>
#include <locale>
#include <sstream>
#include <stdexcept>

namespace Tesk {

namespace {

std::atomic<double> g_timeScale{1.0};

const QString KeyArgument = QStringLiteral("key");
const QString MaskedKey = QStringLiteral("******");

// The text of a URL for the log, with the value of a "key" query item masked.
QString ForLog(const QUrl& url)
{
  QUrlQuery query(url);
  if (!query.hasQueryItem(KeyArgument))
    return url.toString();
  QUrlQuery masked;
  for (const auto& item : query.queryItems(QUrl::FullyEncoded))
    masked.addQueryItem(item.first, item.first == KeyArgument ? MaskedKey : item.second);
  QUrl copy(url);
  copy.setQuery(masked);
  return copy.toString();
}

QString ForLog(const QString& url)
{
  const QUrl parsed(url, QUrl::TolerantMode);
  return QUrlQuery(parsed).hasQueryItem(KeyArgument) ? ForLog(parsed) : url;
}

// A query item name or value in the form QUrlQuery expects: a literal "%" and
// "+" would otherwise be read as an escape and as a blank by the server.
QString QueryPart(QString text)
{
  return text.replace(QLatin1Char('%'), QLatin1String("%25")).replace(QLatin1Char('+'), QLatin1String("%2B"));
}

int DefaultPort(const QUrl& url)
{
  const QString scheme = url.scheme().toLower();
  return url.port(scheme == QLatin1String("https") ? 443 : scheme == QLatin1String("http") ? 80 : -1);
}

bool SameOrigin(const QUrl& a, const QUrl& b)
{
  return a.scheme().compare(b.scheme(), Qt::CaseInsensitive) == 0 &&
         a.host().compare(b.host(), Qt::CaseInsensitive) == 0 && DefaultPort(a) == DefaultPort(b);
}

// The first byte of "bytes=N-", or 0 when the header asks for no range.
qint64 RangeStart(const QByteArray& header)
{
  static const QRegularExpression pattern(QStringLiteral("^\\s*bytes\\s*=\\s*(\\d+)\\s*-"));
  const auto match = pattern.match(QString::fromLatin1(header));
  return match.hasMatch() ? match.captured(1).toLongLong() : 0;
}

// The first byte of a Content-Range "bytes S-E/T", or -1 when it has none.
qint64 ContentRangeStart(const QByteArray& header)
{
  static const QRegularExpression pattern(
      QStringLiteral("^\\s*bytes\\s+(\\d+)\\s*-\\s*(\\d+)\\s*/\\s*(\\d+|\\*)\\s*$"));
  const auto match = pattern.match(QString::fromLatin1(header));
  if (!match.hasMatch())
    return -1;
  bool ok = false;
  const qint64 start = match.captured(1).toLongLong(&ok);
  const qint64 end = match.captured(2).toLongLong();
  return ok && end >= start ? start : -1;
}

} // namespace

constexpr std::chrono::milliseconds Request::FirstRetryPause;
constexpr std::chrono::milliseconds Request::MaxRetryPause;

Request::Request(QNetworkAccessManager& manager, const QString& url, const QMap<QString, QString>& headers,
                 const QMap<QString, QString>& arguments, IResponse& response, std::ostream& stream,
                 QObject* parent)
    : QObject(parent), manager(manager), headers(headers), arguments(arguments), response(response),
      stream(stream), origin(QUrl(url, QUrl::TolerantMode))
{
  Construct(url);
}

Request::~Request()
{
  Request::Abort();
}

bool Request::IsIdle() const
{
  return !reply && !(pauseTimer && pauseTimer->isActive()) && !(timeoutTimer && timeoutTimer->isActive());
}

void Request::SetTimeScaleForTesting(double factor)
{
  g_timeScale = factor > 0 ? factor : 1.0;
}

int Request::Scaled(std::chrono::milliseconds duration)
{
  const double scaled = static_cast<double>(duration.count()) * g_timeScale;
  return static_cast<int>(std::clamp(std::llround(scaled), 1LL, static_cast<long long>(INT_MAX)));
}

void Request::Construct(QString uri)
{
  LOG(Debug) << "Constructing request to: " << ForLog(uri);

  QUrl url(uri, QUrl::TolerantMode);
  QUrlQuery query(url);
  const bool sameOrigin = SameOrigin(url, origin);
  for (auto it = arguments.cbegin(); it != arguments.cend(); ++it) {
    if (it.key() == KeyArgument && !sameOrigin) {
      LOG(Info) << "Not sending the key to another host: " << url.host();
      continue;
    }
    LOG(Debug) << "Adding argument: " << it.key() << "="
               << (it.key() == KeyArgument ? MaskedKey : it.value());
    query.removeAllQueryItems(QueryPart(it.key()));
    query.addQueryItem(QueryPart(it.key()), QueryPart(it.value()));
  }
  if (query.isEmpty())
    url.setQuery(QString());
  else
    url.setQuery(query);

  QSslConfiguration ssl = QSslConfiguration::defaultConfiguration();
  ssl.setProtocol(QSsl::TlsV1_2);
  request.setSslConfiguration(ssl);

  for (auto it = headers.cbegin(); it != headers.cend(); ++it) {
    LOG(Debug) << "Adding header: " << it.key() << "=" << it.value();
    request.setRawHeader(it.key().toUtf8(), it.value().toUtf8());
  }

  request.setUrl(url);
  request.setAttribute(QNetworkRequest::HttpPipeliningAllowedAttribute, true);
}

void Request::SetTimeout(std::chrono::milliseconds timeout)
{
  if (!timeoutTimer) {
    LOG(Debug) << "Creating a timer with timeout interval: " << timeout.count();
    timeoutTimer = new QTimer(this);
    timeoutTimer->setSingleShot(true);
    connect(timeoutTimer, &QTimer::timeout, this, &Request::OnConnectionTimeout);
  }
  timeoutTimer->setInterval(Scaled(timeout));
}

void Request::GetDownloadedbytes(qint64 bytes)
{
  downloadedBytes = bytes;
  LOG(Debug) << "bytesdownloaded" << bytes;
}

void Request::Send()
{
  if (reply) {
    LOG(Warning) << "Request is already in progress";
    return;
  }
  if (pauseTimer)
    pauseTimer->stop();
  if (timeoutTimer)
    timeoutTimer->start();

  LOG(Info) << "Sending request";
  resumeOffset = RangeStart(request.rawHeader("Range"));
  bodyDecided = false;
  bodyKind = Body::Discard;
  bytesToSkip = 0;
  bodyBytes = 0;

  reply = manager.get(request);
  reply->setReadBufferSize(ReadBufferSize);
  redirectUrl.clear();

  // The reply's signals are queued; one that was posted before its attempt was
  // dropped must not reach a later attempt, so each call checks its attempt.
  const quint64 current = ++attempt;
  connect(
      reply, &QNetworkReply::readyRead, this,
      [this, current] {
        if (attempt == current && reply)
          OnReadyRead();
      },
      Qt::QueuedConnection);
  connect(
      reply, &QNetworkReply::downloadProgress, this,
      [this, current](qint64 received, qint64 total) {
        if (attempt == current && reply)
          OnDownloadProgress(received, total);
      },
      Qt::QueuedConnection);
  connect(
      reply, &QNetworkReply::finished, this,
      [this, current] {
        if (attempt == current && reply)
          OnFinished();
      },
      Qt::QueuedConnection);
}

bool Request::Retry()
{
  if (!stream.fail()) {
    const auto position = static_cast<qint64>(stream.tellp());
    if (position > 0) {
      LOG(Debug) << "Resuming request from: " << position;
      const QString value = QStringLiteral("bytes=%1-").arg(position);
      LOG(Debug) << "Adding header: "
                 << "Range"
                 << "=" << value;
      request.setRawHeader("Range", value.toUtf8());
    }
  }
  Send();
  return true;
}

void Request::Abort()
{
  if (reply) {
    LOG(Info) << "Aborting request";
    QNetworkReply* const dropped = reply;
    reply = nullptr;
    dropped->disconnect(this);
    dropped->abort();
    dropped->deleteLater();
  }
  if (timeoutTimer)
    timeoutTimer->stop();
}

void Request::Abort(QString error)
{
  LOG(Error) << "Failed to write data: " << error;
  Abort();
  response.OnResult(IResponse::IOError);
}

Request::Body Request::CheckBody(QByteArray& data)
{
  if (!reply)
    return Body::Discard;
  if (!bodyDecided) {
    bodyDecided = true;
    bytesToSkip = 0;
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status == 200) {
      bodyKind = Body::Write;
      bytesToSkip = resumeOffset;
      if (resumeOffset > 0)
        LOG(Info) << "The server sent the whole resource; skipping the " << resumeOffset
                  << " bytes already written";
    } else if (status == 206) {
      const QByteArray range = reply->rawHeader("Content-Range");
      if (ContentRangeStart(range) == resumeOffset) {
        bodyKind = Body::Write;
      } else {
        LOG(Warning) << "Unexpected content range: \"" << QString::fromLatin1(range)
                     << "\" for a request from byte " << resumeOffset;
        bodyKind = Body::Reject;
      }
    } else if (status >= 300 && status < 600) {
      bodyKind = Body::Discard;
    } else {
      LOG(Warning) << "Unexpected http code: " << status;
      bodyKind = Body::Reject;
    }
  }
  if (bodyKind == Body::Write && bytesToSkip > 0) {
    const int skipped = static_cast<int>(std::min<qint64>(bytesToSkip, data.size()));
    data.remove(0, skipped);
    bytesToSkip -= skipped;
  }
  return bodyKind;
}

void Request::OnReadyRead()
{
  if (!reply)
    return;
  if (timeoutTimer)
    timeoutTimer->stop();

  QByteArray data = reply->readAll();
  LOG(Debug) << "Read: " << data.size() << " bytes";
  bodyBytes += data.size();

  switch (CheckBody(data)) {
  case Body::Reject:
    Abort();
    HandleError(UnusableAnswer);
    return;
  case Body::Discard:
    LOG(Debug) << "Dropped: " << data.size() << " bytes that are not part of the resource";
    break;
  case Body::Write:
    if (!data.isEmpty()) {
      QPointer<Request> self(this);
      try {
        stream.write(data.constData(), data.size());
        if (stream.fail())
          throw std::runtime_error("the output stream is in a failed state");
        LOG(Debug) << "Written: " << data.size() << " bytes";
        response.OnData(data.size());
      } catch (const std::runtime_error& e) {
        Abort(QString::fromUtf8(e.what()));
        return;
      } catch (...) {
        Abort(QStringLiteral("unknown exception"));
        return;
      }
      if (!self)
        return;
    }
    break;
  }

  if (timeoutTimer && reply)
    timeoutTimer->start();
}

void Request::OnDownloadProgress(qint64 received, qint64 total)
{
  LOG(Debug) << "Request progress: " << received << "/" << total << " bytes";
  response.OnProgress(received, total);
}

QNetworkReply::NetworkError Request::AttemptError(QNetworkReply::NetworkError networkError)
{
  if (networkError != QNetworkReply::NoError)
    return networkError;
  if (!redirectUrl.isEmpty())
    return QNetworkReply::NoError;
  QByteArray none;
  if (CheckBody(none) != Body::Write)
    return UnusableAnswer;
  if (bytesToSkip > 0) {
    LOG(Warning) << "The server sent fewer bytes than were already written";
    return UnusableAnswer;
  }
  return QNetworkReply::NoError;
}

void Request::OnFinished()
{
  if (!reply)
    return;

  const QNetworkReply::NetworkError networkError = reply->error();
  const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
  LOG(Info) << "Request finished with result: " << networkError << " and http code: " << status;

  const QByteArray rest = reply->readAll();
  bodyBytes += rest.size();
  bool restUnwritten = false;
  if (!rest.isEmpty()) {
    LOG(Debug) << QString::fromUtf8(rest);
    // Body bytes that no readyRead delivered would be missing from the stream:
    // the attempt then counts as failed and the next one resumes after them.
    QByteArray data = rest;
    restUnwritten =
        networkError == QNetworkReply::NoError && CheckBody(data) == Body::Write && !data.isEmpty();
  }

  const QVariant target = reply->attribute(QNetworkRequest::RedirectionTargetAttribute);
  if (target.isValid() && !target.toUrl().isEmpty())
    redirectUrl = request.url().resolved(target.toUrl()).toString(QUrl::FullyEncoded);

  QNetworkReply::NetworkError error = AttemptError(networkError);
  if (restUnwritten)
    error = UnusableAnswer;
  else if (error == QNetworkReply::NoError && EndedEarly()) {
    LOG(Warning) << "The connection was closed after " << bodyBytes << " of "
                 << reply->header(QNetworkRequest::ContentLengthHeader).toLongLong() << " bytes";
    error = QNetworkReply::RemoteHostClosedError;
  }

  Abort();
  HandleError(error);
}

bool Request::EndedEarly() const
{
  if (reply->error() != QNetworkReply::NoError)
    return false;
  const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
  if (status != 200 && status != 206)
    return false;
  const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
  const QByteArray encoding = reply->rawHeader("Content-Encoding");
  if (!length.isValid() || (!encoding.isEmpty() && encoding != "identity"))
    return false; // a decoded body has another length than the one announced
  return bodyBytes < length.toLongLong();
}

void Request::HandleError(QNetworkReply::NetworkError error)
{
  if (error != QNetworkReply::NoError) {
    LOG(Debug) << "Auto Retry - Error code: " << static_cast<int>(error) << " received ";
    redirectHops = 0;
    checkForErrorAndInitiateAutoRetry(error);
    return;
  }

  if (!redirectUrl.isEmpty()) {
    const QUrl target(redirectUrl, QUrl::TolerantMode);
    const QString scheme = target.scheme().toLower();
    if (++redirectHops > MaxRedirects) {
      LOG(Warning) << "Too many redirects; not following: " << ForLog(target);
      Fail(IResponse::ServerError);
      return;
    }
    if (!target.isValid() || target.host().isEmpty() ||
        (scheme != QLatin1String("https") && scheme != QLatin1String("http"))) {
      LOG(Warning) << "Not following a redirect to an unusable address: " << ForLog(target);
      Fail(IResponse::ServerError);
      return;
    }
    if (request.url().scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0 &&
        scheme != QLatin1String("https")) {
      LOG(Warning) << "Not following a redirect from https to: " << ForLog(target);
      Fail(IResponse::ServerError);
      return;
    }
    LOG(Debug) << "Redirecting request to: " << ForLog(target);
    Construct(redirectUrl);
    Send();
    return;
  }

  redirectHops = 0;
  response.OnResult(IResponse::Ok);
}

void Request::checkForErrorAndInitiateAutoRetry(QNetworkReply::NetworkError error)
{
  const bool unreachable = error == QNetworkReply::HostNotFoundError ||
                           error == QNetworkReply::UnknownNetworkError ||
                           error == QNetworkReply::UnknownContentError;
  if (isDownload && downloadedBytes <= 0 && !autoRetryRunning && unreachable) {
    LOG(Debug) << "Auto Retry - Download bytes is zero show no internet screen: ";
    response.OnResult(IResponse::NoConnection);
    return;
  }
  InitiateAutoRetry(error, false);
}

void Request::InitiateAutoRetry(QNetworkReply::NetworkError error, bool timedOut)
{
  if (autoRetryRunning)
    checkTimerAndSendNextRequest(error, timedOut);
  else
    TriggerAutoRetryTimer();
}

void Request::TriggerAutoRetryTimer()
{
  SetAutomaticRetryTimeout(std::chrono::milliseconds(retryDuration));
  retryTimer->start();
  autoRetryRunning = true;
  nextPause = FirstRetryPause;
  ScheduleRetry();
}

void Request::checkTimerAndSendNextRequest(QNetworkReply::NetworkError error, bool timedOut)
{
  if (retryTimer && retryTimer->isActive()) {
    ScheduleRetry();
    return;
  }
  autoRetryRunning = false;
  LOG(Debug) << "Auto Retry - Stopping the timer";
  if (retryTimer)
    retryTimer->stop();
  if (pauseTimer)
    pauseTimer->stop();
  if (timedOut)
    response.OnResult(IResponse::NoConnection);
  else
    ShowErrorMessageScreen(error);
}

void Request::ShowErrorMessageScreen(QNetworkReply::NetworkError error)
{
  switch (error) {
  case QNetworkReply::RemoteHostClosedError:
  case QNetworkReply::HostNotFoundError:
  case QNetworkReply::UnknownNetworkError:
  case QNetworkReply::UnknownContentError:
    response.OnResult(IResponse::NoConnection);
    break;
  default:
    response.OnResult(IResponse::ServerError);
    break;
  }
}

void Request::ScheduleRetry()
{
  if (!pauseTimer) {
    pauseTimer = new QTimer(this);
    pauseTimer->setSingleShot(true);
    connect(pauseTimer, &QTimer::timeout, this, [this] { Retry(); });
  }
  LOG(Debug) << "Auto Retry - Next attempt in " << nextPause.count() << " ms";
  pauseTimer->start(Scaled(nextPause));
  nextPause = std::min(nextPause * 3 / 2, MaxRetryPause);
}

void Request::Fail(IResponse::Result result)
{
  autoRetryRunning = false;
  if (retryTimer)
    retryTimer->stop();
  if (pauseTimer)
    pauseTimer->stop();
  redirectHops = 0;
  response.OnResult(result);
}

void Request::SetAutomaticRetryTimeout(std::chrono::milliseconds duration)
{
  if (!retryTimer) {
    retryTimer = new QTimer(this);
    retryTimer->setSingleShot(true);
    connect(retryTimer, &QTimer::timeout, this, &Request::OnRetryDurationComplete);
  }
  LOG(Debug) << "Auto Retry - Creating a timer with timeout interval: " << duration.count();
  retryTimer->setInterval(Scaled(duration));
}

void Request::RetryButtonClicked()
{
  if (autoRetryRunning)
    return;
  // The user asked: open a new window and send at once.
  SetAutomaticRetryTimeout(std::chrono::milliseconds(retryDuration));
  retryTimer->start();
  autoRetryRunning = true;
  nextPause = FirstRetryPause;
  redirectHops = 0;
  Retry();
}

void Request::ReadRetryDurationFromConfig()
{
  isDownload = true;
  retryDuration = 3;

  const QString path = QStandardPaths::writableLocation(QStandardPaths::DataLocation) + "/config.json";
  std::ifstream file(path.toStdString());
  if (file.is_open()) {
    try {
      boost::property_tree::ptree tree;
      boost::property_tree::read_json(file, tree);
      // The whole text must be a number ("5", "2.5"); anything else counts as unreadable.
      std::istringstream text(tree.get<std::string>("MapDownload.RetryDuration"));
      text.imbue(std::locale::classic());
      double minutes = 0;
      text >> minutes;
      if (!text.fail() && !text.eof())
        text >> std::ws;
      if (text.fail() || !text.eof() || std::isnan(minutes))
        throw std::invalid_argument("not a number");
      if (minutes < 1)
        retryDuration = 1;
      else if (minutes > 10)
        retryDuration = 10;
      else
        retryDuration = static_cast<int>(std::lround(minutes));
    } catch (const std::exception&) {
      retryDuration = 3;
    }
  }

  LOG(Debug) << "Duration (in json) " << retryDuration;
  retryDuration *= 60000;
}

void Request::OnConnectionTimeout()
{
  LOG(Debug) << "Connection timeout";
  Request::Abort();
  LOG(Debug) << "Auto Retry - Connection timeout";
  InitiateAutoRetry(QNetworkReply::ConnectionRefusedError, true);
}

void Request::OnRetryDurationComplete()
{
  LOG(Debug) << "Auto Retry - Retry duration complete";
}

} // namespace Tesk
