// Redirects and the query: where a request goes, what it carries there, and
// what it refuses.

#include "LogCapture.h"
#include "Probe.h"

namespace {

const Strings kArguments = {{"id", "7"}, {"key", "s3cr3tk3y"}};

} // namespace

class RedirectTest : public RequestFixture
{
};

TEST_F(RedirectTest, RelativeTargetsAreResolvedAndHeadersArgumentsAndResumeStayOnEveryHop)
{
  LogCapture log;
  TestService service;
  service.Serve("/tesk/v1/a", Answer::Redirect("../b/c?x=1"));
  service.Serve("/tesk/b/c", Answer::Redirect("/final", 307));
  service.Serve("/final", Answer::Ok("<done/>"));
  Call call(manager, service.Url("/tesk/v1/a"), kArguments, {{"Accept", "application/x-tar"}});
  call.out << "<do";
  ASSERT_TRUE(call.Run(true));

  EXPECT_EQ(call.sink.results, std::vector<Result>{Result::Ok});
  EXPECT_EQ(call.out.str(), "<done/>"); // the redirects' own bodies never reach the stream
  ASSERT_EQ(service.RequestCount(), 3);
  EXPECT_EQ(service.Requests()[0].target, "/tesk/v1/a?id=7&key=s3cr3tk3y");
  EXPECT_EQ(service.Requests()[1].target, "/tesk/b/c?x=1&id=7&key=s3cr3tk3y");
  EXPECT_EQ(service.Requests()[2].target, "/final?id=7&key=s3cr3tk3y");
  for (const auto& recorded : service.Requests()) {
    EXPECT_EQ(recorded.Header("Accept"), "application/x-tar");
    EXPECT_EQ(recorded.Header("Range"), "bytes=3-");
  }
  EXPECT_TRUE(log.Contains("Redirecting request to: " + service.Url("/tesk/b/c?x=1").toStdString()));
  EXPECT_TRUE(log.Contains("Redirecting request to: " + service.Url("/final").toStdString()));
}

TEST_F(RedirectTest, TenHopsAreFollowedAnEleventhEndsInServerError)
{
  TestService service;
  for (int hop = 0; hop < 10; ++hop)
    service.Serve(QString("/r%1").arg(hop), Answer::Redirect(QString("/r%1").arg(hop + 1).toUtf8()));
  service.Serve("/r10", Answer::Ok("arrived"));
  service.Serve("/loop", Answer::Redirect("/loop", 301));

  Call chain(manager, service.Url("/r0"));
  ASSERT_TRUE(chain.Run());
  EXPECT_EQ(chain.sink.results, std::vector<Result>{Result::Ok});
  EXPECT_EQ(chain.out.str(), "arrived");
  EXPECT_EQ(service.RequestCount(), 11);

  Call loop(manager, service.Url("/loop"));
  ASSERT_TRUE(loop.Run());
  EXPECT_EQ(loop.sink.results, std::vector<Result>{Result::ServerError});
  EXPECT_EQ(service.RequestsTo("/loop").size(), 11);
  EXPECT_EQ(loop.out.str(), "");
  EXPECT_TRUE(loop->IsIdle());
  EXPECT_FALSE(loop->AutoRetryRunning());
  // The user's retry starts counting afresh.
  loop->RetryButtonClicked();
  ASSERT_TRUE(loop.sink.Wait(2));
  EXPECT_EQ(loop.sink.results.back(), Result::ServerError);
  EXPECT_EQ(service.RequestsTo("/loop").size(), 22);
}

TEST_F(RedirectTest, OnlyRedirectsToHttpOrHttpsWithAHostAndNeverDownToHttpAreFollowed)
{
  TestService::TrustCertificate();
  TestService secure(TestService::Tls::On);
  TestService plain;
  plain.Serve("/file", Answer::Ok("plain text"));
  secure.Serve("/secure", Answer::Ok("upgraded"));
  plain.Serve("/up", Answer::Redirect(secure.Url("/secure").toUtf8()));
  Call up(manager, plain.Url("/up"));
  ASSERT_TRUE(up.Run());
  EXPECT_EQ(up.sink.results, std::vector<Result>{Result::Ok});
  EXPECT_EQ(up.out.str(), "upgraded");

  for (const QByteArray& target :
       {plain.Url("/file").toUtf8(), QByteArray("ftp://127.0.0.1/x"), QByteArray("file:///etc/passwd"),
        QByteArray("http://"), QByteArray("data:text/plain,hi")}) {
    SCOPED_TRACE(target.toStdString());
    secure.Serve("/start", Answer::Redirect(target));
    Call refused(manager, secure.Url("/start"), kArguments);
    ASSERT_TRUE(refused.Run());
    EXPECT_EQ(refused.sink.results, std::vector<Result>{Result::ServerError});
    EXPECT_EQ(refused.out.str(), "");
  }
  EXPECT_EQ(plain.RequestsTo("/file").size(), 0);
}

TEST_F(RedirectTest, TheKeyIsNeverSentToAnotherOriginNorLogged)
{
  LogCapture log;
  TestService service;
  TestService mirror; // another port: another origin
  service.Serve("/start", Answer::Redirect(mirror.Url("/file?sig=abc").toUtf8()));
  mirror.Serve("/file", Answer::Redirect(service.Url("/back?key=fromlocation").toUtf8()));
  service.Serve("/back", Answer::Ok("home"));
  Call call(manager, service.Url("/start"), kArguments);
  ASSERT_TRUE(call.Run());

  EXPECT_EQ(call.sink.results, std::vector<Result>{Result::Ok});
  ASSERT_EQ(mirror.RequestCount(), 1);
  EXPECT_EQ(mirror.Requests()[0].target, "/file?sig=abc&id=7");
  // Back at the first origin the request carries its own key again, in place
  // of the one the redirect named.
  ASSERT_EQ(service.RequestsTo("/back").size(), 1);
  EXPECT_EQ(service.RequestsTo("/back")[0].target, "/back?id=7&key=s3cr3tk3y");

  EXPECT_FALSE(log.Mentions("s3cr3tk3y"));
  EXPECT_FALSE(log.Mentions("fromlocation"));
  EXPECT_TRUE(log.Contains("Adding argument: key=******"));
  EXPECT_TRUE(log.Contains("Redirecting request to: " + service.Url("/back?key=******").toStdString()));
}

TEST_F(RedirectTest, TheArgumentsAreMergedIntoTheQueryOfTheUrlExactlyAsGiven)
{
  LogCapture log;
  const QString awkward = QString::fromUtf8("a b+c&d=e%f#g/h?ü");
  TestService service;
  service.Serve("/doc", Answer::Ok("x"));
  struct Case
  {
    QString url;
    Strings arguments;
    QByteArray target;
  };
  const Case cases[] = {
      {"/doc?token=abc&key=old", kArguments, "/doc?token=abc&id=7&key=s3cr3tk3y"},
      {"/doc?sig=a%2Bb&expires=99", {}, "/doc?sig=a%2Bb&expires=99"},
      {"/doc", {}, "/doc"},
      // Servers read "+" in a query as a blank: it must go out escaped.
      {"/doc",
       {{"id", awkward}, {"key", ""}, {"Key", "shown"}},
       "/doc?Key=shown&id=a%20b%2Bc%26d%3De%25f%23g/h?%C3%BC&key="},
  };
  for (const Case& test : cases) {
    Call call(manager, service.Url(test.url), test.arguments);
    ASSERT_TRUE(call.Run());
    EXPECT_EQ(service.Requests().last().target, test.target);
  }
  EXPECT_EQ(service.Requests()[1].Query("sig"), "a+b");
  EXPECT_EQ(service.Requests()[3].Query("id"), awkward);
  // Only the argument named "key" is masked in the log.
  for (const char* line : {"Adding argument: Key=shown", "Adding argument: key=******",
                           "Constructing request to: http://127.0.0.1:"})
    EXPECT_TRUE(log.Mentions(line)) << line;
}
