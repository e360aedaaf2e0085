#include "ArchiveServer.h"

#include <QHostAddress>
#include <QRegularExpression>
#include <QTcpSocket>

namespace {
constexpr qint64 kPiece = 64 * 1024;
constexpr qint64 kInFlight = 256 * 1024;
} // namespace

struct ArchiveServer::Connection
{
  QTcpSocket* socket = nullptr;
  QByteArray request;
  bool answered = false;
  qint64 next = 0;  // next archive byte to send
  qint64 end = 0;   // one past the last archive byte to send
  qint64 limit = 0; // one past the last byte this connection may send
  bool stall = false;
  bool done = false;
};

ArchiveServer::ArchiveServer(QByteArray archive) : archive(std::move(archive))
{
  connect(&server, &QTcpServer::newConnection, this, &ArchiveServer::OnConnection);
  server.listen(QHostAddress::LocalHost);
}

ArchiveServer::~ArchiveServer()
{
  for (Connection* connection : connections) {
    connection->socket->disconnect(this);
    connection->socket->abort();
    delete connection->socket;
    delete connection;
  }
}

QString ArchiveServer::Url(const QString& path) const
{
  return QStringLiteral("http://127.0.0.1:%1%2").arg(server.serverPort()).arg(path);
}

void ArchiveServer::OnConnection()
{
  while (QTcpSocket* socket = server.nextPendingConnection()) {
    auto* connection = new Connection;
    connection->socket = socket;
    socket->setParent(nullptr);
    connections.append(connection);
    connect(socket, &QTcpSocket::readyRead, this, [this, connection] { OnReadable(connection); });
    connect(socket, &QTcpSocket::bytesWritten, this, [this, connection] { Pump(connection); });
    connect(socket, &QTcpSocket::disconnected, this, [this, connection] {
      if (connection->answered && !connection->done) {
        connection->done = true;
        ++clientDrops;
      }
    });
  }
}

void ArchiveServer::OnReadable(Connection* connection)
{
  connection->request += connection->socket->readAll();
  if (connection->answered || !connection->request.contains("\r\n\r\n"))
    return;
  connection->answered = true;
  const int index = ranges.size();

  static const QRegularExpression rangePattern(QStringLiteral("\r\nRange:\\s*([^\r]*)"),
                                               QRegularExpression::CaseInsensitiveOption);
  const auto match = rangePattern.match(QString::fromLatin1(connection->request));
  const QByteArray range = match.hasMatch() ? match.captured(1).toLatin1() : QByteArray();
  ranges.append(range);
  const QString target = QString::fromLatin1(connection->request.split(' ').value(1));

  QByteArray head;
  const int status = index < statuses.size() ? statuses[index] : 200;
  if (target == QLatin1String("/redirect")) {
    head = "HTTP/1.1 302 Found\r\nLocation: " + Url().toLatin1() + "\r\nContent-Length: 0\r\n";
  } else if (status != 200 && status != 206) {
    const QByteArray page = "<html>error " + QByteArray::number(status) + "</html>";
    head = "HTTP/1.1 " + QByteArray::number(status) +
           " Error\r\nContent-Type: text/html\r\nContent-Length: " + QByteArray::number(page.size()) +
           "\r\nConnection: close\r\n\r\n" + page;
    connection->done = true;
    connection->socket->write(head);
    connection->socket->disconnectFromHost();
    return;
  } else {
    static const QRegularExpression startPattern(QStringLiteral("^bytes=(\\d+)-"));
    const auto startMatch = startPattern.match(QString::fromLatin1(range));
    const qint64 asked = startMatch.hasMatch() ? startMatch.captured(1).toLongLong() : 0;
    const qint64 shift = startMatch.hasMatch() ? rangeShift : 0;
    const qint64 start = ignoreRange ? 0 : qBound<qint64>(0, asked + shift, archive.size());
    connection->next = start;
    connection->end = archive.size();
    if (start > 0 || status == 206) {
      head = "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes " + QByteArray::number(start) + "-" +
             QByteArray::number(archive.size() - 1) + "/" + QByteArray::number(archive.size()) + "\r\n";
    } else {
      head = "HTTP/1.1 200 OK\r\n";
    }
    head +=
        "Content-Type: application/x-tar\r\nContent-Length: " + QByteArray::number(archive.size() - start) +
        "\r\n";
    const qint64 cut = index < cuts.size() ? cuts[index] : -1;
    // Cuts count from the byte the client asked for, also when the whole
    // archive is sent.
    const qint64 from = std::max(start, asked);
    connection->limit = cut >= 0 ? std::min<qint64>(archive.size(), from + cut) : archive.size();
    if (index == stallRequest) {
      connection->limit = std::min<qint64>(connection->limit, from + stallBytes);
      connection->stall = true;
    }
  }
  head += "Connection: close\r\n\r\n";
  connection->socket->write(head);
  Pump(connection);
}

void ArchiveServer::Pump(Connection* connection)
{
  if (connection->done || !connection->answered)
    return;
  QTcpSocket* socket = connection->socket;
  while (connection->next < connection->limit && socket->bytesToWrite() < kInFlight) {
    const qint64 size = std::min(kPiece, connection->limit - connection->next);
    socket->write(archive.constData() + connection->next, size);
    connection->next += size;
  }
  if (connection->next < connection->limit || socket->bytesToWrite() > 0)
    return;
  if (connection->stall)
    return; // keeps the connection open and silent
  connection->done = true;
  socket->disconnectFromHost();
}
