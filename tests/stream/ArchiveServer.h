#pragma once

// An HTTP/1.1 server on 127.0.0.1 that serves one archive with byte ranges
// ("Range: bytes=N-" gets 206 and a Content-Range), and can misbehave on
// purpose: cut a connection after some body bytes, stall, ignore ranges,
// answer with an error status or a redirect. Each connection carries one
// request ("Connection: close"). Works while the event loop of the thread
// that created it runs.

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QTcpServer>

class QTcpSocket;

class ArchiveServer : public QObject
{
  Q_OBJECT

public:
  explicit ArchiveServer(QByteArray archive);
  ~ArchiveServer() override;

  // The archive's address; "/redirect" answers 302 to it.
  QString Url(const QString& path = QStringLiteral("/map.tar")) const;

  // Request i sends at most cuts[i] body bytes and then closes the connection
  // (a negative value sends everything); requests beyond the list send all.
  void SetCuts(const QList<qint64>& cuts) { this->cuts = cuts; }
  // Request `request` sends `bytes` body bytes and then nothing more.
  void SetStall(int request, qint64 bytes)
  {
    stallRequest = request;
    stallBytes = bytes;
  }
  // Answer every request with the whole archive and 200.
  void SetIgnoreRange(bool ignore) { ignoreRange = ignore; }
  // Request i is answered with statuses[i] and a small error page when it is
  // not 200 or 206; a 206 answer starts at rangeShift bytes after the asked offset.
  void SetStatuses(const QList<int>& statuses) { this->statuses = statuses; }
  void SetRangeShift(qint64 shift) { rangeShift = shift; }

  int Requests() const { return ranges.size(); }
  // The "Range" header of each request, empty when it had none.
  const QList<QByteArray>& Ranges() const { return ranges; }
  // Connections the client closed before the whole answer was sent.
  int ClientDrops() const { return clientDrops; }

private:
  struct Connection;
  void OnConnection();
  void OnReadable(Connection* connection);
  void Pump(Connection* connection);

  QTcpServer server;
  QByteArray archive;
  QList<qint64> cuts;
  QList<int> statuses;
  int stallRequest = -1;
  qint64 stallBytes = 0;
  bool ignoreRange = false;
  qint64 rangeShift = 0;
  QList<QByteArray> ranges;
  int clientDrops = 0;
  QList<Connection*> connections;
};
