#pragma once

// A small HTTP/1.1 server on 127.0.0.1 (or another loopback address) for
// tests, over plain TCP or TLS.
//
//   TestSupport::TestService service;                       // listens at once
//   service.Serve("/tesk/v1/package/allroots", Answer::Ok("<xml/>"));
//   service.Serve("/map.tar", Answer::File(tarPath).Rate(1 << 20));
//   service.ServeSequence("/flaky", {Answer::Drop(), Answer::Ok("fine")});
//   ... send requests to service.Url("/tesk/v1") ...
//   ASSERT_TRUE(service.WaitForRequests(1));
//   EXPECT_EQ(service.Requests()[0].requestLine, "GET /tesk/v1/package/allroots?key=k HTTP/1.1");
//
// Each path is answered with its script: one Answer for every request, a
// sequence (request i gets answer i, the last one repeats), or a handler that
// builds the answer from the recorded request. Unknown paths get 404. Every
// answer carries "Connection: close" and the connection is closed once it is
// sent, so each request arrives on a connection of its own.
//
// TLS: TestService(TestService::Tls::On) serves https with a self-signed
// certificate for 127.0.0.1 made by the openssl command once per process.
// Clients accept it after TestService::TrustCertificate(), which adds it to the
// process's default TLS configuration (the one every request starts from).
// RecordedRequest::protocol tells which TLS version was negotiated.
//
// The service lives on the thread that creates it and works while that
// thread's event loop runs (QSignalSpy::wait, QTest::qWaitFor).

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QString>
#include <QTcpServer>
#include <QUrlQuery>
#include <QtNetwork/qssl.h>

#include <functional>
#include <map>
#include <memory>

namespace TestSupport {

using HeaderList = QList<QPair<QByteArray, QByteArray>>;

// Runs the event loop until `condition` holds or `timeoutMs` have passed;
// returns the condition. Unlike QTest::qWaitFor it does not sleep between
// rounds, so a loopback exchange of many small steps takes milliseconds.
bool WaitFor(const std::function<bool()>& condition, int timeoutMs = 20000);

// One request as the service received it.
struct RecordedRequest
{
  QByteArray requestLine; // "GET /path?query HTTP/1.1", as sent
  QByteArray target;      // "/path?query", or "http://host/path?query" when sent to a proxy
  QString path;           // the decoded path of the target
  QUrlQuery query;        // the query of the target
  HeaderList headers;     // in the order sent, names as sent
  QSsl::SslProtocol protocol = QSsl::UnknownProtocol; // negotiated TLS version; Unknown over plain TCP

  // The value of the first header of that name (any letter case); empty when absent.
  QByteArray Header(const QByteArray& name) const;
  bool HasHeader(const QByteArray& name) const { return !Header(name).isNull(); }
  // The decoded value of a query item; empty when absent.
  QString Query(const QString& name) const { return query.queryItemValue(name, QUrl::FullyDecoded); }
};

// What the service sends for one request.
struct Answer
{
  enum class Fault
  {
    None,
    Silent,     // read the request and never answer; the connection stays open
    Drop,       // close the connection without answering
    StallAfter, // send the status, the headers and `faultAfter` body bytes, then nothing more
    CloseAfter, // send the status, the headers and `faultAfter` body bytes, then close
    HoldAfter   // as StallAfter, until TestService::ReleaseHeld() lets the rest go
  };

  int status = 200;
  HeaderList headers;    // sent after Content-Length and Connection
  QByteArray body;       // the body, unless `file` is set
  QString file;          // the body is this file's content, read as it is sent
  bool ranges = true;    // answer "Range: bytes=N-" to a 200 answer with 206 and Content-Range
                         // (416 when N lies at or beyond the end); false ignores Range
  qint64 rangeShift = 0; // fault: a 206 answer starts this many bytes after N (and says so)
  Fault fault = Fault::None;
  qint64 faultAfter = 0;     // body bytes sent before the fault
  QByteArray raw;            // when not empty: sent as it is instead of all of the above, then close
  int chunkSize = 16384;     // bytes handed to the socket at a time
  qint64 bytesPerSecond = 0; // rate limit of the body; 0 sends as fast as the socket takes it

  // An answer with a body and, when given, its Content-Type.
  explicit Answer(int status = 200, const QByteArray& body = {}, const QByteArray& contentType = {});
  static Answer Ok(const QByteArray& body, const QByteArray& contentType = "application/xml")
  {
    return Answer(200, body, contentType);
  }
  static Answer Status(int status, const QByteArray& body = {}) { return Answer(status, body, "text/plain"); }
  static Answer Redirect(const QByteArray& location, int status = 302)
  {
    return Answer(status, "moved to " + location).WithHeader("Location", location);
  }
  static Answer File(const QString& path, const QByteArray& contentType = "application/x-tar");
  static Answer Raw(const QByteArray& bytes);
  static Answer Silent() { return Answer().Fail(Fault::Silent, 0); }
  static Answer Drop() { return Answer().Fail(Fault::Drop, 0); }

  Answer& WithHeader(const QByteArray& name, const QByteArray& value)
  {
    headers.append({name, value});
    return *this;
  }
  Answer& StallAfter(qint64 bytes) { return Fail(Fault::StallAfter, bytes); }
  Answer& CloseAfter(qint64 bytes) { return Fail(Fault::CloseAfter, bytes); }
  Answer& HoldAfter(qint64 bytes) { return Fail(Fault::HoldAfter, bytes); }
  Answer& Rate(qint64 rate, int size = 4096) { return bytesPerSecond = rate, chunkSize = size, *this; }
  Answer& IgnoreRanges() { return ranges = false, *this; }
  Answer& Fail(Fault kind, qint64 bytes) { return fault = kind, faultAfter = bytes, *this; }
};

class TestService : public QObject
{
public:
  enum class Tls
  {
    Off,
    On
  };

  using Handler = std::function<Answer(const RecordedRequest&)>;

  explicit TestService(Tls tls = Tls::Off, QObject* parent = nullptr);
  // Listens on `port` at the first loopback address from 127.0.0.1 on where
  // that port is free: another host on the port of a running service, or a
  // fixed port that another process may hold on 127.0.0.1. Plain TCP only.
  explicit TestService(quint16 port);
  ~TestService() override;

  quint16 Port() const { return server->serverPort(); }
  // The address it listens on: "127.0.0.1", or another loopback address.
  QString Host() const { return server->serverAddress().toString(); }
  // "http://<host>:<port>" (or https), followed by `path` as given.
  QString Url(const QString& path = QString()) const;

  // Scripts for a path (the decoded path alone, without query). A later call
  // replaces the script and restarts its sequence.
  void Serve(const QString& path, const Answer& answer) { ServeSequence(path, {answer}); }
  void ServeSequence(const QString& path, const QList<Answer>& answers) { scripts[path] = {answers, {}, 0}; }
  void Handle(const QString& path, Handler handler) { scripts[path] = {{}, std::move(handler), 0}; }

  const QList<RecordedRequest>& Requests() const { return requests; }
  QList<RecordedRequest> RequestsTo(const QString& path) const;
  int RequestCount() const { return requests.size(); }
  // Runs the event loop until `count` requests have arrived in all (WaitFor).
  bool WaitForRequests(int count, int timeoutMs = 20000);

  // Lets every answer held by Fault::HoldAfter go on.
  void ReleaseHeld();
  // Connections on which a request arrived and that are still open (a
  // client may hold idle connections of its own that carry no request).
  int OpenConnections() const;

  // Makes every later TLS configuration of this process trust the test
  // certificate (made once per process).
  static void TrustCertificate();

private:
  class Server;
  class Connection;

  struct Script
  {
    QList<Answer> answers;
    Handler handler;
    int served = 0;
  };

  void OnIncoming(qintptr descriptor);
  Answer AnswerFor(const RecordedRequest& request);

  Tls tls;
  std::unique_ptr<QTcpServer> server;
  std::map<QString, Script> scripts;
  QList<RecordedRequest> requests;
  QList<QPointer<Connection>> connections;
};

} // namespace TestSupport
