#include "TestService.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>

#include <algorithm>

namespace TestSupport {

namespace {

// Requests whose head grows beyond this are answered by closing the connection.
constexpr int kMaxRequestHead = 1 << 20;

// Clients read the status code alone, never the reason phrase.
QByteArray ReasonPhrase(int status)
{
  return status < 300 ? "OK" : status < 400 ? "Moved" : "Error";
}

struct Credentials
{
  QSslCertificate certificate;
  QSslKey key;
};

// Made once per process with the openssl command, in a folder removed at exit.
const Credentials& TestCredentials()
{
  static const Credentials credentials = [] {
    Credentials made;
    static QTemporaryDir dir;
    if (!dir.isValid())
      return made;
    const QString certPath = dir.filePath("cert.pem");
    const QString keyPath = dir.filePath("key.pem");
    QProcess openssl;
    openssl.setProcessChannelMode(QProcess::MergedChannels);
    openssl.start("openssl", {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                              "-nodes", "-keyout", keyPath, "-out", certPath, "-days", "2", "-subj",
                              "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1,DNS:localhost"});
    if (!openssl.waitForFinished(60000) || openssl.exitCode() != 0) {
      qWarning("openssl failed: %s", openssl.readAll().constData());
      return made;
    }
    QFile cert(certPath);
    QFile key(keyPath);
    if (cert.open(QIODevice::ReadOnly))
      made.certificate = QSslCertificate(&cert, QSsl::Pem);
    if (key.open(QIODevice::ReadOnly))
      made.key = QSslKey(&key, QSsl::Ec, QSsl::Pem);
    return made;
  }();
  return credentials;
}

} // namespace

bool WaitFor(const std::function<bool()>& condition, int timeoutMs)
{
  if (condition())
    return true;
  QEventLoop loop;
  QTimer check;
  QDeadlineTimer deadline(timeoutMs);
  QObject::connect(&check, &QTimer::timeout, &loop, [&] {
    if (condition() || deadline.hasExpired())
      loop.quit();
  });
  check.start(1);
  loop.exec();
  return condition();
}

// ---------------------------------------------------------------------------
// RecordedRequest and Answer

QByteArray RecordedRequest::Header(const QByteArray& name) const
{
  for (const auto& header : headers)
    if (header.first.compare(name, Qt::CaseInsensitive) == 0)
      return header.second;
  return QByteArray();
}

bool RecordedRequest::HasHeader(const QByteArray& name) const
{
  return std::any_of(headers.begin(), headers.end(), [&](const auto& header) {
    return header.first.compare(name, Qt::CaseInsensitive) == 0;
  });
}

Answer Answer::Ok(const QByteArray& body, const QByteArray& contentType)
{
  Answer answer;
  answer.body = body;
  answer.headers.append(qMakePair(QByteArray("Content-Type"), QByteArray(contentType)));
  return answer;
}

Answer Answer::Status(int status, const QByteArray& body)
{
  Answer answer;
  answer.status = status;
  answer.body = body;
  answer.headers.append(qMakePair(QByteArray("Content-Type"), QByteArray("text/plain")));
  return answer;
}

Answer Answer::Redirect(const QByteArray& location, int status)
{
  Answer answer;
  answer.status = status;
  answer.body = "moved to " + location;
  answer.headers.append(qMakePair(QByteArray("Location"), QByteArray(location)));
  return answer;
}

Answer Answer::File(const QString& path, const QByteArray& contentType)
{
  Answer answer;
  answer.file = path;
  answer.headers.append(qMakePair(QByteArray("Content-Type"), QByteArray(contentType)));
  return answer;
}

Answer Answer::Raw(const QByteArray& bytes)
{
  Answer answer;
  answer.raw = bytes;
  return answer;
}

Answer Answer::Silent()
{
  Answer answer;
  answer.fault = Fault::Silent;
  return answer;
}

Answer Answer::Drop()
{
  Answer answer;
  answer.fault = Fault::Drop;
  return answer;
}

Answer& Answer::WithHeader(const QByteArray& name, const QByteArray& value)
{
  headers.append(qMakePair(name, value));
  return *this;
}

Answer& Answer::StallAfter(qint64 bytes)
{
  fault = Fault::StallAfter;
  faultAfter = bytes;
  return *this;
}

Answer& Answer::CloseAfter(qint64 bytes)
{
  fault = Fault::CloseAfter;
  faultAfter = bytes;
  return *this;
}

Answer& Answer::HoldAfter(qint64 bytes)
{
  fault = Fault::HoldAfter;
  faultAfter = bytes;
  return *this;
}

Answer& Answer::Rate(qint64 rate, int size)
{
  bytesPerSecond = rate;
  chunkSize = size;
  return *this;
}

Answer& Answer::IgnoreRanges()
{
  ranges = false;
  return *this;
}

// ---------------------------------------------------------------------------
// Server: hands each accepted socket descriptor to the service.

class TestService::Server : public QTcpServer
{
public:
  explicit Server(TestService& service) : service(service) {}

protected:
  void incomingConnection(qintptr descriptor) override { service.OnIncoming(descriptor); }

private:
  TestService& service;
};

// ---------------------------------------------------------------------------
// Connection: reads one request, answers it, closes.

class TestService::Connection : public QObject
{
public:
  Connection(TestService& service, QTcpSocket* socket, int index)
      : QObject(&service), service(service), socket(socket), index(index)
  {
    socket->setParent(this);
    connect(socket, &QTcpSocket::readyRead, this, &Connection::OnReadyRead);
    connect(socket, &QTcpSocket::bytesWritten, this, &Connection::Pump);
    connect(socket, &QTcpSocket::disconnected, this, &Connection::OnDisconnected);
    pacer.setInterval(10);
    connect(&pacer, &QTimer::timeout, this, &Connection::Tick);
  }

  void Close()
  {
    if (closed)
      return;
    closed = true;
    pacer.stop();
    file.reset();
    socket->disconnectFromHost();
    if (socket->state() == QAbstractSocket::UnconnectedState)
      OnDisconnected();
  }

  void Abort()
  {
    pacer.stop();
    file.reset();
    closed = true;
    socket->abort();
    OnDisconnected();
  }

  void Release()
  {
    if (held) {
      held = false;
      limit = -1;
      Pump();
    }
  }

  // A request arrived on it and the connection is still open.
  bool IsAnswering() const { return answering && !gone; }

private:
  void OnReadyRead()
  {
    input += socket->readAll();
    if (answering || closed)
      return;
    const int end = input.indexOf("\r\n\r\n");
    if (end < 0) {
      if (input.size() > kMaxRequestHead)
        Abort();
      return;
    }
    answering = true;
    RecordedRequest request = Parse(input.left(end));
    if (auto* ssl = qobject_cast<QSslSocket*>(socket))
      request.protocol = ssl->sessionProtocol();
    const QByteArray range = request.Header("Range");
    const Answer answer = service.AnswerFor(request);
    service.requests.append(request);
    Start(answer, range);
  }

  static RecordedRequest Parse(const QByteArray& head)
  {
    RecordedRequest request;
    const QList<QByteArray> lines = head.split('\n');
    for (int i = 0; i < lines.size(); ++i) {
      QByteArray line = lines[i];
      if (line.endsWith('\r'))
        line.chop(1);
      if (i == 0) {
        request.requestLine = line;
        request.target = line.split(' ').value(1);
        continue;
      }
      const int colon = line.indexOf(':');
      if (colon > 0)
        request.headers.append(qMakePair(line.left(colon).trimmed(), line.mid(colon + 1).trimmed()));
    }
    const bool absolute = request.target.startsWith("http://") || request.target.startsWith("https://");
    const QUrl url =
        absolute ? QUrl::fromEncoded(request.target) : QUrl::fromEncoded("http://service" + request.target);
    request.path = url.path(QUrl::FullyDecoded);
    request.query = QUrlQuery(url);
    return request;
  }

  void Start(const Answer& script, const QByteArray& range)
  {
    answer = script;
    if (answer.fault == Answer::Fault::Silent)
      return;
    if (answer.fault == Answer::Fault::Drop) {
      Abort();
      return;
    }
    if (!answer.raw.isEmpty()) {
      socket->write(answer.raw);
      Close();
      return;
    }

    qint64 size = answer.body.size();
    if (!answer.file.isEmpty()) {
      file = std::make_unique<QFile>(answer.file);
      if (!file->open(QIODevice::ReadOnly)) {
        file.reset();
        answer = Answer::Status(500, "cannot open " + answer.file.toUtf8());
        size = answer.body.size();
      } else {
        size = file->size();
      }
    }

    int status = answer.status;
    QByteArray contentRange;
    offset = 0;
    end = size;
    static const QRegularExpression rangePattern("^bytes=(\\d+)-(\\d*)$");
    const auto match = rangePattern.match(QString::fromLatin1(range.trimmed()));
    if (status == 200 && answer.ranges && match.hasMatch()) {
      const qint64 first = match.captured(1).toLongLong();
      if (first >= size) {
        status = 416;
        contentRange = "bytes */" + QByteArray::number(size);
        end = 0;
      } else {
        offset = std::clamp<qint64>(first + answer.rangeShift, 0, size - 1);
        if (!match.captured(2).isEmpty())
          end = std::min(size, match.captured(2).toLongLong() + 1);
        status = 206;
        contentRange = "bytes " + QByteArray::number(offset) + "-" + QByteArray::number(end - 1) + "/" +
                       QByteArray::number(size);
      }
    }
    if (file)
      file->seek(offset);

    QByteArray head = "HTTP/1.1 " + QByteArray::number(status) + " " + ReasonPhrase(status) + "\r\n" +
                      "Content-Length: " + QByteArray::number(end - offset) + "\r\nConnection: close\r\n";
    if (!contentRange.isEmpty())
      head += "Content-Range: " + contentRange + "\r\n";
    for (const auto& header : answer.headers)
      head += header.first + ": " + header.second + "\r\n";
    head += "\r\n";
    socket->write(head);

    const bool faulty = answer.fault == Answer::Fault::StallAfter ||
                        answer.fault == Answer::Fault::CloseAfter || answer.fault == Answer::Fault::HoldAfter;
    limit = faulty ? offset + answer.faultAfter : -1;
    held = answer.fault == Answer::Fault::HoldAfter;
    if (answer.bytesPerSecond > 0) {
      budget = std::max<qint64>(1, answer.bytesPerSecond / 100);
      pacer.start();
    }
    Pump();
  }

  // A new slice of a rate-limited body may go out.
  void Tick()
  {
    budget = std::max<qint64>(1, answer.bytesPerSecond / 100);
    Pump();
  }

  // Hands the next piece of the body to the socket, keeping little queued.
  void Pump()
  {
    if (closed || !answering || answer.fault == Answer::Fault::Silent)
      return;
    const qint64 stop = limit >= 0 ? std::min(limit, end) : end;
    const bool paced = answer.bytesPerSecond > 0;
    while (offset < stop && socket->bytesToWrite() < 4 * answer.chunkSize) {
      qint64 size = std::min<qint64>(answer.chunkSize, stop - offset);
      if (paced) {
        if (budget <= 0)
          return;
        size = std::min(size, budget);
      }
      const QByteArray piece =
          file ? file->read(size) : answer.body.mid(static_cast<int>(offset), static_cast<int>(size));
      if (piece.isEmpty()) {
        Close();
        return;
      }
      socket->write(piece);
      offset += piece.size();
      service.bodyBytesSent += piece.size();
      if (paced)
        budget -= piece.size();
    }
    if (offset < stop)
      return;
    if (offset >= end)
      Close();
    else if (answer.fault == Answer::Fault::CloseAfter)
      Close();
  }

  void OnDisconnected()
  {
    if (gone)
      return;
    gone = true;
    closed = true;
    pacer.stop();
    emit service.ConnectionClosed();
    deleteLater();
  }

  TestService& service;
  QTcpSocket* socket;
  const int index;
  QByteArray input;
  bool answering = false;
  bool closed = false;
  bool gone = false;
  bool held = false;
  Answer answer;
  std::unique_ptr<QFile> file;
  qint64 offset = 0;
  qint64 end = 0;
  qint64 limit = -1;
  qint64 budget = 0;
  QTimer pacer;
};

// ---------------------------------------------------------------------------
// TestService

TestService::TestService(Tls tls, QObject* parent) : QObject(parent), tls(tls), server(new Server(*this))
{
  server->listen(QHostAddress::LocalHost, 0);
}

TestService::~TestService()
{
  for (const auto& connection : connections)
    if (connection)
      connection->Abort();
  server->close();
}

quint16 TestService::Port() const
{
  return server->serverPort();
}

QString TestService::Url(const QString& path) const
{
  return QString("%1://127.0.0.1:%2%3").arg(tls == Tls::On ? "https" : "http").arg(Port()).arg(path);
}

void TestService::Serve(const QString& path, const Answer& answer)
{
  ServeSequence(path, {answer});
}

void TestService::ServeSequence(const QString& path, const QList<Answer>& answers)
{
  scripts[path] = Script{answers, Handler(), 0};
}

void TestService::Handle(const QString& path, Handler handler)
{
  scripts[path] = Script{{}, std::move(handler), 0};
}

QList<RecordedRequest> TestService::RequestsTo(const QString& path) const
{
  QList<RecordedRequest> found;
  for (const auto& request : requests)
    if (request.path == path)
      found.append(request);
  return found;
}

bool TestService::WaitForRequests(int count, int timeoutMs)
{
  return WaitFor([&] { return requests.size() >= count; }, timeoutMs);
}

void TestService::ReleaseHeld()
{
  for (const auto& connection : connections)
    if (connection)
      connection->Release();
}

int TestService::OpenConnections() const
{
  return static_cast<int>(std::count_if(connections.begin(), connections.end(), [](const auto& connection) {
    return connection && connection->IsAnswering();
  }));
}

void TestService::TrustCertificate()
{
  QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
  configuration.addCaCertificate(TestCredentials().certificate);
  QSslConfiguration::setDefaultConfiguration(configuration);
}

void TestService::OnIncoming(qintptr descriptor)
{
  QTcpSocket* socket = nullptr;
  if (tls == Tls::On) {
    auto* ssl = new QSslSocket;
    ssl->setLocalCertificate(TestCredentials().certificate);
    ssl->setPrivateKey(TestCredentials().key);
    ssl->setProtocol(tlsProtocol);
    ssl->setPeerVerifyMode(QSslSocket::VerifyNone);
    socket = ssl;
  } else {
    socket = new QTcpSocket;
  }
  if (!socket->setSocketDescriptor(descriptor)) {
    delete socket;
    return;
  }
  // Head and body go out in separate writes; without this each answer would
  // wait for the client's delayed acknowledgement.
  socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
  connections.removeAll(nullptr);
  connections.append(new Connection(*this, socket, connectionCount++));
  if (auto* ssl = qobject_cast<QSslSocket*>(socket))
    ssl->startServerEncryption();
}

Answer TestService::AnswerFor(const RecordedRequest& request)
{
  const auto found = scripts.find(request.path);
  if (found == scripts.end() || (!found->second.handler && found->second.answers.isEmpty()))
    return Answer::Status(404, "no such resource");
  Script& script = found->second;
  const int index = script.served++;
  if (script.handler)
    return script.handler(request);
  return script.answers.value(std::min(index, script.answers.size() - 1));
}

} // namespace TestSupport
