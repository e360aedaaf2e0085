// Redirects and the query: where a request goes, what it carries there, and
// what it refuses.

#include "LogCapture.h"
#include "Probe.h"

using TestSupport::Answer;
using TestSupport::TestService;
using Result = Tesk::IResponse::Result;

namespace {

const QMap<QString, QString> kArguments = {{"id", "7"}, {"key", "s3cr3tk3y"}};

} // namespace

class RedirectTest : public RequestFixture
{
};

TEST_F(RedirectTest, RelativeTargetsAreResolvedAgainstTheCurrentUrl)
{
  LogCapture log;
  TestService service;
  service.Serve("/tesk/v1/a", Answer::Redirect("../b/c?x=1"));
  service.Serve("/tesk/b/c", Answer::Redirect("/final", 307));
  service.Serve("/final", Answer::Ok("<done/>"));
  auto request = Make(service.Url("/tesk/v1/a"), kArguments);
  request->Send();
  WaitForResults();

  EXPECT_EQ(sink.results, std::vector<Result>{Result::Ok});
  EXPECT_EQ(out.str(), "<done/>"); // the redirects' own bodies never reach the stream
  ASSERT_EQ(service.RequestCount(), 3);
  EXPECT_EQ(service.Requests()[0].target, "/tesk/v1/a?id=7&key=s3cr3tk3y");
  EXPECT_EQ(service.Requests()[1].target, "/tesk/b/c?x=1&id=7&key=s3cr3tk3y");
  EXPECT_EQ(service.Requests()[2].target, "/final?id=7&key=s3cr3tk3y");
  EXPECT_TRUE(log.Contains("Redirecting request to: " + service.Url("/tesk/b/c?x=1").toStdString()));
  EXPECT_TRUE(log.Contains("Redirecting request to: " + service.Url("/final").toStdString()));
}

TEST_F(RedirectTest, HeadersAndTheResumeStayOnEveryHop)
{
  TestService service;
  service.Serve("/a", Answer::Redirect("/b"));
  service.Serve("/b", Answer::Ok("0123456789"));
  out << "0123";
  auto request = Make(service.Url("/a"), {}, {{"Accept", "application/x-tar"}});
  request->Retry();
  WaitForResults();
  EXPECT_EQ(out.str(), "0123456789");
  ASSERT_EQ(service.RequestCount(), 2);
  for (const auto& recorded : service.Requests()) {
    EXPECT_EQ(recorded.Header("Accept"), "application/x-tar");
    EXPECT_EQ(recorded.Header("Range"), "bytes=4-");
  }
}

TEST_F(RedirectTest, TenHopsAreFollowedAnEleventhEndsInServerError)
{
  TestService service;
  for (int hop = 0; hop < 10; ++hop)
    service.Serve(QString("/r%1").arg(hop), Answer::Redirect(QString("/r%1").arg(hop + 1).toUtf8()));
  service.Serve("/r10", Answer::Ok("arrived"));
  service.Serve("/loop", Answer::Redirect("/loop", 301));

  auto chain = Make(service.Url("/r0"));
  chain->Send();
  WaitForResults();
  EXPECT_EQ(sink.results, std::vector<Result>{Result::Ok});
  EXPECT_EQ(out.str(), "arrived");
  EXPECT_EQ(service.RequestCount(), 11);

  Sink looping;
  std::ostringstream stream;
  Probe loop(manager, service.Url("/loop"), {}, {}, looping, stream);
  loop.Send();
  ASSERT_TRUE(looping.WaitForResults());
  EXPECT_EQ(looping.results, std::vector<Result>{Result::ServerError});
  EXPECT_EQ(service.RequestsTo("/loop").size(), 11);
  EXPECT_EQ(stream.str(), "");
  EXPECT_TRUE(loop.IsIdle());
  EXPECT_FALSE(loop.AutoRetryRunning());

  // The user's retry starts counting afresh.
  loop.RetryButtonClicked();
  ASSERT_TRUE(looping.WaitForResults(2));
  EXPECT_EQ(looping.results.back(), Result::ServerError);
  EXPECT_EQ(service.RequestsTo("/loop").size(), 22);
}

TEST_F(RedirectTest, ARedirectFromHttpsToHttpIsRefused)
{
  TestService::TrustCertificate();
  TestService secure(TestService::Tls::On);
  TestService plain;
  secure.Serve("/start", Answer::Redirect(plain.Url("/file").toUtf8()));
  plain.Serve("/file", Answer::Ok("plain text"));
  plain.Serve("/up", Answer::Redirect(secure.Url("/secure").toUtf8()));
  secure.Serve("/secure", Answer::Ok("upgraded"));

  auto down = Make(secure.Url("/start"), kArguments);
  down->Send();
  WaitForResults();
  EXPECT_EQ(sink.results, std::vector<Result>{Result::ServerError});
  EXPECT_EQ(plain.RequestCount(), 0);
  EXPECT_EQ(out.str(), "");

  // The other way round is fine.
  Sink upSink;
  std::ostringstream upStream;
  Probe up(manager, plain.Url("/up"), {}, {}, upSink, upStream);
  up.Send();
  ASSERT_TRUE(upSink.WaitForResults());
  EXPECT_EQ(upSink.results, std::vector<Result>{Result::Ok});
  EXPECT_EQ(upStream.str(), "upgraded");
}

TEST_F(RedirectTest, RedirectsToOtherSchemesOrNoHostAreRefused)
{
  for (const QByteArray& target : {QByteArray("ftp://127.0.0.1/x"), QByteArray("file:///etc/passwd"),
                                   QByteArray("http://"), QByteArray("data:text/plain,hi")}) {
    SCOPED_TRACE(target.toStdString());
    TestService service;
    service.Serve("/start", Answer::Redirect(target));
    Sink refused;
    std::ostringstream stream;
    Probe request(manager, service.Url("/start"), {}, {}, refused, stream);
    request.Send();
    ASSERT_TRUE(refused.WaitForResults());
    EXPECT_EQ(refused.results, std::vector<Result>{Result::ServerError});
    EXPECT_EQ(stream.str(), "");
  }
}

TEST_F(RedirectTest, TheKeyIsNeverSentToAnotherOriginNorLogged)
{
  LogCapture log;
  TestService service;
  TestService mirror; // another port: another origin
  service.Serve("/start", Answer::Redirect(mirror.Url("/file?sig=abc").toUtf8()));
  mirror.Serve("/file", Answer::Redirect(service.Url("/back?key=fromlocation").toUtf8()));
  service.Serve("/back", Answer::Ok("home"));
  auto request = Make(service.Url("/start"), kArguments);
  request->Send();
  WaitForResults();

  EXPECT_EQ(sink.results, std::vector<Result>{Result::Ok});
  ASSERT_EQ(mirror.RequestCount(), 1);
  const auto& away = mirror.Requests()[0];
  EXPECT_EQ(away.target, "/file?sig=abc&id=7");
  EXPECT_FALSE(away.query.hasQueryItem("key"));
  // Back at the first origin the request carries its own key again, in place
  // of the one the redirect named.
  ASSERT_EQ(service.RequestsTo("/back").size(), 1);
  EXPECT_EQ(service.RequestsTo("/back")[0].target, "/back?id=7&key=s3cr3tk3y");

  EXPECT_FALSE(log.Mentions("s3cr3tk3y"));
  EXPECT_FALSE(log.Mentions("fromlocation"));
  EXPECT_TRUE(log.Contains("Adding argument: key=******"));
  EXPECT_TRUE(log.Contains("Redirecting request to: " + service.Url("/back?key=******").toStdString()));
}

TEST_F(RedirectTest, AQueryInTheUrlIsKeptAndTheArgumentsMergedIntoIt)
{
  TestService service;
  service.Serve("/doc", Answer::Ok("x"));
  auto request = Make(service.Url("/doc?token=abc&key=old"), kArguments);
  request->Send();
  WaitForResults();
  auto plain = Make(service.Url("/doc?sig=a%2Bb&expires=99"));
  plain->Send();
  WaitForResults(2);
  auto none = Make(service.Url("/doc"));
  none->Send();
  WaitForResults(3);

  ASSERT_EQ(service.RequestCount(), 3);
  EXPECT_EQ(service.Requests()[0].target, "/doc?token=abc&id=7&key=s3cr3tk3y");
  EXPECT_EQ(service.Requests()[1].target, "/doc?sig=a%2Bb&expires=99");
  EXPECT_EQ(service.Requests()[1].Query("sig"), "a+b");
  EXPECT_EQ(service.Requests()[2].target, "/doc");
}

TEST_F(RedirectTest, ArgumentsArriveExactlyAsGiven)
{
  const QString awkward = QString::fromUtf8("a b+c&d=e%f#g/h?ü");
  TestService service;
  service.Serve("/doc", Answer::Ok("x"));
  auto request = Make(service.Url("/doc"), {{"id", awkward}, {"key", ""}});
  request->Send();
  WaitForResults();
  ASSERT_EQ(service.RequestCount(), 1);
  EXPECT_EQ(service.Requests()[0].path, "/doc");
  EXPECT_EQ(service.Requests()[0].Query("id"), awkward);
  // Servers read "+" in a query as a blank: it must go out escaped.
  EXPECT_FALSE(service.Requests()[0].target.contains('+')) << service.Requests()[0].target.toStdString();
  EXPECT_TRUE(service.Requests()[0].target.contains("%2B"));
  EXPECT_TRUE(service.Requests()[0].query.hasQueryItem("key"));
  EXPECT_EQ(service.Requests()[0].Query("key"), "");
}
