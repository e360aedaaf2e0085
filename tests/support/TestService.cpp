#include "TestService.h"

#include "Files.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QProcess>
#include <QRegularExpression>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslSocket>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <limits>
#include <utility>

namespace TestSupport {

namespace {

// The key and the certificate in PEM, made once per process by the openssl
// command, which writes both to its output.
const QByteArray& TestPem()
{
  static const QByteArray pem = [] {
    QProcess openssl;
    openssl.start("openssl",
                  {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                   "-keyout", "/dev/stdout", "-out", "/dev/stdout", "-days", "2", "-subj", "/CN=127.0.0.1",
                   "-addext", "subjectAltName=IP:127.0.0.1,DNS:localhost"});
    if (!openssl.waitForFinished(60000) || openssl.exitCode() != 0)
      qWarning("openssl failed: %s", openssl.readAllStandardError().constData());
    return openssl.readAllStandardOutput();
  }();
  return pem;
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

QByteArray RecordedRequest::Header(const QByteArray& name) const
{
  for (const auto& header : headers)
    if (header.first.compare(name, Qt::CaseInsensitive) == 0)
      return header.second;
  return QByteArray();
}

Answer::Answer(int status, const QByteArray& body, const QByteArray& contentType) : status(status), body(body)
{
  if (!contentType.isEmpty())
    WithHeader("Content-Type", contentType);
}

Answer Answer::File(const QString& path, const QByteArray& contentType)
{
  Answer answer(200, {}, contentType);
  answer.file = path;
  return answer;
}

Answer Answer::Raw(const QByteArray& bytes)
{
  Answer answer;
  answer.raw = bytes;
  return answer;
}

// Hands each accepted socket descriptor to the service.
class TestService::Server : public QTcpServer
{
public:
  explicit Server(TestService& service) : service(service) {}
  void incomingConnection(qintptr descriptor) override { service.OnIncoming(descriptor); }
  TestService& service;
};

// Reads one request, answers it, closes.
class TestService::Connection : public QObject
{
public:
  Connection(TestService& service, QTcpSocket* socket) : QObject(&service), service(service), socket(socket)
  {
    socket->setParent(this);
    connect(socket, &QTcpSocket::readyRead, this, &Connection::OnReadyRead);
    connect(socket, &QTcpSocket::bytesWritten, this, &Connection::Pump);
    connect(socket, &QTcpSocket::disconnected, this, &Connection::OnDisconnected);
    // A rate-limited body goes out in a slice every 10 ms.
    connect(&pacer, &QTimer::timeout, this, [this] {
      budget = std::max<qint64>(1, answer.bytesPerSecond / 100);
      Pump();
    });
  }

  void Close(bool abort = false)
  {
    closed = true;
    pacer.stop();
    abort ? socket->abort() : socket->disconnectFromHost();
    if (socket->state() == QAbstractSocket::UnconnectedState)
      OnDisconnected();
  }

  void Release()
  {
    if (answer.fault == Answer::Fault::HoldAfter) {
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
    const int end = input.indexOf("\r\n\r\n");
    if (answering || closed || end < 0)
      return;
    answering = true;
    RecordedRequest request = Parse(input.left(end));
    if (auto* ssl = qobject_cast<QSslSocket*>(socket))
      request.protocol = ssl->sessionProtocol();
    answer = service.AnswerFor(request);
    service.requests.append(request);
    Start(request.Header("Range"));
  }

  static RecordedRequest Parse(const QByteArray& head)
  {
    RecordedRequest request;
    const QList<QByteArray> lines = head.split('\n');
    request.requestLine = lines[0].trimmed();
    request.target = request.requestLine.split(' ').value(1);
    for (const QByteArray& line : lines.mid(1)) {
      const int colon = line.indexOf(':');
      if (colon > 0)
        request.headers.append(qMakePair(line.left(colon).trimmed(), line.mid(colon + 1).trimmed()));
    }
    // A proxy is sent the absolute URL.
    const QUrl url = QUrl::fromEncoded(request.target.startsWith('/') ? "http://service" + request.target
                                                                      : request.target);
    request.path = url.path(QUrl::FullyDecoded);
    request.query = QUrlQuery(url);
    return request;
  }

  void Start(const QByteArray& range)
  {
    if (answer.fault == Answer::Fault::Silent)
      return;
    if (answer.fault == Answer::Fault::Drop || !answer.raw.isEmpty()) {
      socket->write(answer.raw);
      return Close(answer.raw.isEmpty());
    }
    if (!answer.file.isEmpty())
      answer.body = ReadFile(answer.file);

    // "bytes=N-" of a 200 answer gets a 206 from N on, or 416 beyond the end.
    const auto Number = [](qint64 value) { return QByteArray::number(value); };
    const qint64 size = answer.body.size();
    int status = answer.status;
    QByteArray contentRange;
    static const QRegularExpression rangePattern("^bytes=(\\d+)-$");
    const auto match = rangePattern.match(QString::fromLatin1(range));
    if (status == 200 && answer.ranges && match.hasMatch()) {
      const qint64 first = match.captured(1).toLongLong();
      status = first >= size ? 416 : 206;
      offset = first >= size ? size : std::clamp<qint64>(first + answer.rangeShift, 0, size - 1);
      contentRange =
          first >= size ? "*/" + Number(size) : Number(offset) + "-" + Number(size - 1) + "/" + Number(size);
    }

    // Clients read the status code alone, never the reason phrase.
    QByteArray head = "HTTP/1.1 " + Number(status) + (status < 300 ? " OK" : " Other") +
                      "\r\nContent-Length: " + Number(size - offset) + "\r\nConnection: close\r\n";
    if (!contentRange.isEmpty())
      head += "Content-Range: bytes " + contentRange + "\r\n";
    for (const auto& header : answer.headers)
      head += header.first + ": " + header.second + "\r\n";
    socket->write(head + "\r\n");

    limit = answer.fault >= Answer::Fault::StallAfter ? offset + answer.faultAfter : -1;
    if (answer.bytesPerSecond > 0)
      budget = 0, pacer.start(10); // the first slice goes with the pacer's first round
    Pump();
  }

  // Hands the next pieces of the body to the socket, keeping little queued.
  void Pump()
  {
    if (closed)
      return;
    const qint64 end = answer.body.size(), stop = limit >= 0 ? std::min(limit, end) : end;
    while (offset < stop && budget > 0 && socket->bytesToWrite() < 4 * answer.chunkSize) {
      const qint64 size = std::min({qint64(answer.chunkSize), stop - offset, budget});
      socket->write(answer.body.mid(static_cast<int>(offset), static_cast<int>(size)));
      offset += size;
      if (answer.bytesPerSecond > 0)
        budget -= size;
    }
    if (offset >= end || (offset >= stop && answer.fault == Answer::Fault::CloseAfter))
      Close();
  }

  void OnDisconnected()
  {
    if (std::exchange(gone, true))
      return;
    closed = true;
    pacer.stop();
    deleteLater();
  }

  TestService& service;
  QTcpSocket* socket;
  QByteArray input;
  bool answering = false, closed = false, gone = false;
  Answer answer;
  qint64 offset = 0, limit = -1, budget = std::numeric_limits<qint64>::max();
  QTimer pacer;
};

TestService::TestService(Tls tls, QObject* parent) : QObject(parent), tls(tls), server(new Server(*this))
{
  server->listen(QHostAddress::LocalHost, 0);
}

TestService::TestService(quint16 port) : tls(Tls::Off), server(new Server(*this))
{
  const quint32 first = QHostAddress(QHostAddress::LocalHost).toIPv4Address();
  for (quint32 address = first; address < first + 250 && !server->isListening(); ++address)
    server->listen(QHostAddress(address), port);
}

TestService::~TestService()
{
  for (const auto& connection : connections)
    if (connection)
      connection->Close(true);
  server->close();
}

QString TestService::Url(const QString& path) const
{
  return QString("%1://%2:%3%4").arg(tls == Tls::On ? "https" : "http", Host()).arg(Port()).arg(path);
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
  configuration.addCaCertificate(QSslCertificate(TestPem(), QSsl::Pem));
  QSslConfiguration::setDefaultConfiguration(configuration);
}

void TestService::OnIncoming(qintptr descriptor)
{
  QTcpSocket* socket = tls == Tls::On ? new QSslSocket : new QTcpSocket;
  if (!socket->setSocketDescriptor(descriptor))
    return delete socket;
  // Head and body go out in separate writes; without this each answer would
  // wait for the client's delayed acknowledgement.
  socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
  connections.removeAll(nullptr);
  connections.append(new Connection(*this, socket));
  if (auto* ssl = qobject_cast<QSslSocket*>(socket)) {
    ssl->setLocalCertificate(QSslCertificate(TestPem(), QSsl::Pem));
    ssl->setPrivateKey(QSslKey(TestPem(), QSsl::Ec, QSsl::Pem));
    ssl->startServerEncryption();
  }
}

Answer TestService::AnswerFor(const RecordedRequest& request)
{
  const auto found = scripts.find(request.path);
  if (found == scripts.end() || (!found->second.handler && found->second.answers.isEmpty()))
    return Answer::Status(404, "no such resource");
  Script& script = found->second;
  const int index = script.served++;
  return script.handler ? script.handler(request)
                        : script.answers.value(std::min(index, script.answers.size() - 1));
}

} // namespace TestSupport
