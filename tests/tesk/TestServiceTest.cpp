// The parts of the loopback test service that the client tests above do not
// reach, but the download and update-check tests rely on: files, ranges,
// holding an answer, and the rate limit.

#include "TestService.h"

#include <QElapsedTimer>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTemporaryFile>

#include <gtest/gtest.h>

#include <memory>

using TestSupport::Answer;
using TestSupport::TestService;

namespace {

struct Fetch
{
  std::unique_ptr<QNetworkReply> reply;
  QByteArray body;
  bool done = false;
};

std::unique_ptr<Fetch> Get(QNetworkAccessManager& manager, const QString& url, const QByteArray& range = {})
{
  QNetworkRequest request(url);
  if (!range.isEmpty())
    request.setRawHeader("Range", range);
  auto fetch = std::make_unique<Fetch>();
  fetch->reply.reset(manager.get(request));
  Fetch* raw = fetch.get();
  QObject::connect(raw->reply.get(), &QNetworkReply::readyRead,
                   [raw] { raw->body += raw->reply->readAll(); });
  QObject::connect(raw->reply.get(), &QNetworkReply::finished, [raw] {
    raw->body += raw->reply->readAll();
    raw->done = true;
  });
  return fetch;
}

int Status(const Fetch& fetch)
{
  return fetch.reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
}

QByteArray Pattern(int size)
{
  QByteArray bytes(size, '\0');
  for (int i = 0; i < size; ++i)
    bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xff);
  return bytes;
}

} // namespace

TEST(TestService, ServesFilesWithRanges)
{
  const QByteArray content = Pattern(102400);
  QTemporaryFile file;
  ASSERT_TRUE(file.open());
  file.write(content);
  file.flush();

  TestService service;
  service.Serve("/map.tar", Answer::File(file.fileName()));
  QNetworkAccessManager manager;

  auto whole = Get(manager, service.Url("/map.tar"));
  auto tail = Get(manager, service.Url("/map.tar"), "bytes=1000-");
  auto beyond = Get(manager, service.Url("/map.tar"), "bytes=102400-");
  ASSERT_TRUE(TestSupport::WaitFor([&] { return whole->done && tail->done && beyond->done; }));

  EXPECT_EQ(Status(*whole), 200);
  EXPECT_EQ(whole->body, content);
  EXPECT_EQ(Status(*tail), 206);
  EXPECT_EQ(tail->reply->rawHeader("Content-Range"), "bytes 1000-102399/102400");
  EXPECT_EQ(tail->body, content.mid(1000));
  EXPECT_EQ(Status(*beyond), 416);
  EXPECT_EQ(beyond->reply->rawHeader("Content-Range"), "bytes */102400");
  EXPECT_EQ(service.RequestsTo("/map.tar").size(), 3);
}

TEST(TestService, HoldsAnAnswerUntilReleased)
{
  const QByteArray content = Pattern(50000);
  TestService service;
  service.Serve("/doc", Answer::Ok(content).HoldAfter(5000));
  QNetworkAccessManager manager;
  auto fetch = Get(manager, service.Url("/doc"));
  ASSERT_TRUE(TestSupport::WaitFor([&] { return fetch->body.size() >= 5000; }));
  EXPECT_EQ(service.BodyBytesSent(), 5000);
  EXPECT_FALSE(fetch->done);
  service.ReleaseHeld();
  ASSERT_TRUE(TestSupport::WaitFor([&] { return fetch->done; }));
  EXPECT_EQ(fetch->body, content);
}

TEST(TestService, LimitsTheRate)
{
  // 20000 bytes at 40000 bytes a second: at least half a second, however
  // fast the machine.
  TestService service;
  service.Serve("/doc", Answer::Ok(Pattern(20000)).Rate(40000));
  QNetworkAccessManager manager;
  QElapsedTimer clock;
  clock.start();
  auto fetch = Get(manager, service.Url("/doc"));
  ASSERT_TRUE(TestSupport::WaitFor([&] { return fetch->done; }));
  EXPECT_GE(clock.elapsed(), 450);
  EXPECT_EQ(fetch->body, Pattern(20000));
}
