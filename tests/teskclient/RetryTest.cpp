// The inactivity time-out, the automatic retry window with its pauses, the
// user's retry, and the window of a map download read from config.json.

#include "DataHome.h"
#include "LogCapture.h"
#include "Probe.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTcpServer>

class RetryTest : public RequestFixture
{
};

TEST_F(RetryTest, TheTimeOutMeasuresInactivityNotTheWholeTransfer)
{
  // 24000 bytes at 16000 bytes a second take three times the time-out, but
  // never pause for long: one attempt, no time-out.
  TestService service;
  service.Serve("/doc", Answer::Ok(QByteArray(24000, 'x')).Rate(16000, 1600));
  Call call(manager, service.Url("/doc"));
  call->SetTimeout(std::chrono::milliseconds(50000)); // 500 ms
  QElapsedTimer clock;
  clock.start();
  ASSERT_TRUE(call.Run());
  EXPECT_GE(clock.elapsed(), 1000);
  EXPECT_EQ(call.sink.results, std::vector<Result>{Result::Ok});
  EXPECT_EQ(service.RequestCount(), 1);
  EXPECT_EQ(call.out.str().size(), 24000u);
}

TEST_F(RetryTest, FailuresAreRetriedWithGrowingPausesUntilTheWindowHasRunOut)
{
  // Shipped: a 10 s window, pauses of 1 s, 1.5 s, 2.25 s ... up to 5 s. A
  // server that drops every connection at once must not be asked more often
  // than the pauses allow.
  LogCapture log;
  TestService service;
  service.Serve("/doc", Answer::Drop());
  Call call(manager, service.Url("/doc"));
  QElapsedTimer clock;
  clock.start();
  ASSERT_TRUE(call.Run());

  EXPECT_EQ(call.sink.results, std::vector<Result>{Result::NoConnection});
  EXPECT_GE(clock.elapsed(), 90); // the whole window, give or take the timer's coarseness
  // At least one retry, at most one attempt per pause plus the first and the last.
  EXPECT_GE(service.RequestCount(), 2);
  EXPECT_LE(service.RequestCount(), 12);
  EXPECT_EQ(call->RetryDuration(), 10000);
  EXPECT_FALSE(call->AutoRetryRunning());
  EXPECT_TRUE(call->IsIdle());
  for (const char* line : {"Auto Retry - Error code: 2 received ", "Auto Retry - Next attempt in 1000 ms",
                           "Auto Retry - Next attempt in 1500 ms", "Auto Retry - Retry duration complete"})
    EXPECT_TRUE(log.Contains(line)) << line;
  EXPECT_EQ(log.Count("Auto Retry - Creating a timer with timeout interval: 10000"), 1);
  EXPECT_EQ(log.Count("Auto Retry - Stopping the timer"), 1);
}

TEST_F(RetryTest, PausesStopGrowingAtFiveSeconds)
{
  // A download window of ten minutes (600 ms here) holds enough pauses.
  TestSupport::DataHome data;
  data.WriteRetryDuration("\"10\"");
  Tesk::Request::SetTimeScaleForTesting(0.001);
  LogCapture log;
  TestService service;
  service.Serve("/doc", Answer::Status(500));
  Call call(manager, service.Url("/doc"));
  call->ReadRetryDurationFromConfig();
  ASSERT_TRUE(call.Run());
  EXPECT_EQ(call.sink.results, std::vector<Result>{Result::ServerError});
  EXPECT_TRUE(log.Contains("Auto Retry - Next attempt in 5000 ms"));
  for (const auto& message : log.Messages())
    EXPECT_TRUE(message.rfind("Auto Retry - Next attempt in ", 0) != 0 ||
                std::stoi(message.substr(29)) <= 5000)
        << message;
}

TEST_F(RetryTest, TheUsersRetryIsIgnoredWhileTheWindowRunsAndReopensItAfterAResult)
{
  TestService service;
  service.Serve("/doc", Answer::Drop());
  {
    // Shipped timings: the first failure opens the window and waits a second.
    Tesk::Request::SetTimeScaleForTesting(1.0);
    Call call(manager, service.Url("/doc"));
    call->Send();
    ASSERT_TRUE(TestSupport::WaitFor([&] { return call->AutoRetryRunning(); }, 20000));
    ASSERT_FALSE(call->InFlight());
    call->RetryButtonClicked();
    EXPECT_FALSE(call->InFlight());
  }
  Tesk::Request::SetTimeScaleForTesting(0.01);
  Call call(manager, service.Url("/doc"));
  ASSERT_TRUE(call.Run());
  ASSERT_EQ(call.sink.results, std::vector<Result>{Result::NoConnection});
  const int before = service.RequestCount();
  call->RetryButtonClicked();
  EXPECT_TRUE(call->InFlight()); // sent at once, no pause
  EXPECT_TRUE(call->AutoRetryRunning());
  ASSERT_TRUE(call.sink.Wait(2));
  EXPECT_EQ(call.sink.results, (std::vector<Result>{Result::NoConnection, Result::NoConnection}));
  EXPECT_GE(service.RequestCount(), before + 2);
}

TEST_F(RetryTest, ADownloadGivesUpAtOnceOnlyWhenTheServerWasNeverReached)
{
  // 429 is reported by the network layer as an unknown content error, one of
  // the codes that mean "unreachable" before the first byte of a download.
  TestSupport::DataHome data;
  data.WriteRetryDuration("\"1\"");
  Tesk::Request::SetTimeScaleForTesting(0.002); // one minute becomes 120 ms
  struct Case
  {
    const char* name;
    Answer answer;
    qint64 downloaded;
    bool retried;
  };
  for (const Case& test : {Case{"unreachable", Answer::Status(429, "slow down"), 0, false},
                           Case{"after some bytes", Answer::Status(429), 512, true},
                           Case{"connection dropped", Answer::Drop(), 0, true}}) {
    SCOPED_TRACE(test.name);
    TestService service;
    service.Serve("/map.tar", test.answer);
    Call call(manager, service.Url("/map.tar"));
    call->ReadRetryDurationFromConfig();
    EXPECT_EQ(call->RetryDuration(), 60000);
    if (test.downloaded)
      call->GetDownloadedbytes(test.downloaded);
    ASSERT_TRUE(call.Run());
    EXPECT_EQ(call.sink.results, std::vector<Result>{Result::NoConnection});
    EXPECT_EQ(service.RequestCount() > 1, test.retried) << service.RequestCount();
    EXPECT_FALSE(call->AutoRetryRunning());
    EXPECT_TRUE(call->IsIdle());
  }
}

TEST_F(RetryTest, ARefusedConnectionIsRetriedThroughTheWindowAndThenAServerError)
{
  // A server that is there but takes no connection is no missing network:
  // neither the service's documents nor an archive give up at once, and the
  // last failure is a server error.
  quint16 port = 0;
  {
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
    port = closed.serverPort();
  }
  TestSupport::DataHome data;
  data.WriteRetryDuration("\"1\"");
  Tesk::Request::SetTimeScaleForTesting(0.002);
  for (const bool download : {false, true}) {
    SCOPED_TRACE(download ? "archive" : "document");
    LogCapture log;
    Call call(manager, QString("http://127.0.0.1:%1/map.tar").arg(port));
    if (download)
      call->ReadRetryDurationFromConfig();
    ASSERT_TRUE(call.Run());
    EXPECT_EQ(call.sink.results, std::vector<Result>{Result::ServerError});
    EXPECT_GE(log.Count("Auto Retry - Error code: 1 received "), 2) << "retried";
    EXPECT_FALSE(call->AutoRetryRunning());
  }
}

TEST_F(RetryTest, TheDownloadWindowComesFromConfigJson)
{
  LogCapture log;
  TestSupport::DataHome data;
  const auto window = [&] {
    Call call(manager, "http://127.0.0.1:9/map.tar");
    EXPECT_FALSE(call->IsDownload());
    call->ReadRetryDurationFromConfig();
    EXPECT_TRUE(call->IsDownload());
    return call->RetryDuration() / 60000;
  };
  const std::vector<std::pair<QByteArray, int>> cases = {
      {"\"0.4\"", 1}, {"\"12\"", 10}, {"\"2.5\"", 3},  {"\"7.4\"", 7}, {"\"1\"", 1},
      {"\"10\"", 10}, {"5", 5},       {"\"abc\"", 3},  {"\"\"", 3},    {"\"nan\"", 3},
      {"\"-3\"", 1},  {"\" 4 \"", 4}, {"\"5abc\"", 3},
  };
  for (const auto& [value, minutes] : cases) {
    data.WriteRetryDuration(value);
    EXPECT_EQ(window(), minutes) << value.toStdString();
  }
  // Unreadable JSON, a missing key and a missing file all give 3 minutes.
  data.WriteConfig("{ not json");
  EXPECT_EQ(window(), 3);
  data.WriteConfig(R"({"MapDownload": {}})");
  EXPECT_EQ(window(), 3);
  QFile::remove(data.Path() + "/config.json");
  EXPECT_EQ(window(), 3);
  EXPECT_TRUE(log.Contains("Duration (in json) 7"));
  EXPECT_TRUE(log.Contains("Duration (in json) 10"));
}
