// The parts of the loopback test service that the download and update-check
// tests rely on without checking them themselves: files, ranges and holding
// an answer.

#include "TestService.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTemporaryFile>

#include <gtest/gtest.h>

#include <memory>

using TestSupport::Answer;
using TestSupport::TestService;
using TestSupport::WaitFor;

namespace {

struct Fetch
{
  Fetch(QNetworkAccessManager& manager, const QString& url, const QByteArray& range = {})
  {
    QNetworkRequest request(url);
    if (!range.isEmpty())
      request.setRawHeader("Range", range);
    reply.reset(manager.get(request));
    QObject::connect(reply.get(), &QNetworkReply::readyRead, [this] { body += reply->readAll(); });
  }
  int Status() const { return reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(); }

  std::unique_ptr<QNetworkReply> reply;
  QByteArray body;
};

} // namespace

TEST(TestService, ServesFilesWithRangesAndHoldsAnAnswerUntilReleased)
{
  QByteArray content(102400, Qt::Uninitialized);
  for (int i = 0; i < content.size(); ++i)
    content[i] = static_cast<char>((i * 7 + i / 251) & 0xff);
  QTemporaryFile file;
  ASSERT_TRUE(file.open());
  file.write(content);
  file.flush();
  TestService service;
  service.Serve("/map.tar", Answer::File(file.fileName()));
  service.Serve("/held", Answer::Ok(content).HoldAfter(5000));
  QNetworkAccessManager manager;

  Fetch whole(manager, service.Url("/map.tar")), tail(manager, service.Url("/map.tar"), "bytes=1000-"),
      beyond(manager, service.Url("/map.tar"), "bytes=102400-");
  ASSERT_TRUE(WaitFor(
      [&] { return whole.reply->isFinished() && tail.reply->isFinished() && beyond.reply->isFinished(); }));
  EXPECT_EQ(whole.Status(), 200);
  EXPECT_EQ(whole.body, content);
  EXPECT_EQ(tail.Status(), 206);
  EXPECT_EQ(tail.reply->rawHeader("Content-Range"), "bytes 1000-102399/102400");
  EXPECT_EQ(tail.body, content.mid(1000));
  EXPECT_EQ(beyond.Status(), 416);
  EXPECT_EQ(beyond.reply->rawHeader("Content-Range"), "bytes */102400");
  EXPECT_EQ(service.RequestsTo("/map.tar").size(), 3);

  const qint64 before = service.BodyBytesSent();
  Fetch held(manager, service.Url("/held"));
  ASSERT_TRUE(WaitFor([&] { return held.body.size() >= 5000; }));
  EXPECT_EQ(service.BodyBytesSent() - before, 5000);
  EXPECT_FALSE(held.reply->isFinished());
  service.ReleaseHeld();
  ASSERT_TRUE(WaitFor([&] { return held.reply->isFinished(); }));
  EXPECT_EQ(held.body, content);
}
