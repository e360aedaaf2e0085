// The inactivity time-out, the automatic retry window with its pauses, the
// user's retry, and the window of a map download read from config.json.

#include "DataHome.h"
#include "LogCapture.h"
#include "Probe.h"

#include <QElapsedTimer>
#include <QFile>

using TestSupport::Answer;
using TestSupport::TestService;
using Result = Tesk::IResponse::Result;

namespace {

const QByteArray kResource = "the quick brown fox jumps over the lazy dog";

} // namespace

class RetryTest : public RequestFixture
{
};

TEST_F(RetryTest, TheTimeOutMeasuresInactivityNotTheWholeTransfer)
{
  // 48000 bytes at 16000 bytes a second take three times the time-out, but
  // never pause for long: one attempt, no time-out.
  TestService service;
  service.Serve("/doc", Answer::Ok(QByteArray(48000, 'x')).Rate(16000, 1600));
  auto request = Make(service.Url("/doc"));
  request->SetTimeout(std::chrono::milliseconds(1000));
  QElapsedTimer clock;
  clock.start();
  request->Send();
  WaitForResults();
  EXPECT_GE(clock.elapsed(), 1000);
  EXPECT_EQ(sink.results, std::vector<Result>{Result::Ok});
  EXPECT_EQ(service.RequestCount(), 1);
  EXPECT_EQ(out.str().size(), 48000u);
}

TEST_F(RetryTest, AStalledTransferTimesOutAndResumesWhereItStopped)
{
  Tesk::Request::SetTimeScaleForTesting(0.01);
  LogCapture log;
  TestService service;
  service.ServeSequence("/doc", {Answer::Ok(kResource).StallAfter(10), Answer::Ok(kResource)});
  auto request = Make(service.Url("/doc"));
  request->SetTimeout(std::chrono::milliseconds(20000)); // 200 ms
  request->Send();
  WaitForResults();

  EXPECT_EQ(sink.results, std::vector<Result>{Result::Ok});
  EXPECT_EQ(out.str(), kResource.toStdString());
  ASSERT_EQ(service.RequestCount(), 2);
  EXPECT_EQ(service.Requests()[1].Header("Range"), "bytes=10-");
  EXPECT_TRUE(log.Contains("Connection timeout"));
  EXPECT_TRUE(log.Contains("Auto Retry - Connection timeout"));
}

TEST_F(RetryTest, TheLastTimeOutSetIsTheOneInForce)
{
  Tesk::Request::SetTimeScaleForTesting(0.01);
  LogCapture log;
  TestService service;
  service.Serve("/doc", Answer::Silent());
  auto request = Make(service.Url("/doc"));
  request->SetTimeout(std::chrono::milliseconds(100000000)); // 1000 s
  request->SetTimeout(std::chrono::milliseconds(10000));     // 100 ms
  request->Send();
  WaitForResults();
  EXPECT_EQ(sink.results, std::vector<Result>{Result::NoConnection});
  EXPECT_EQ(log.Count("Creating a timer with timeout interval: 100000000"), 1);
  EXPECT_EQ(log.Count("Creating a timer with timeout interval: 10000"), 0);
}

TEST_F(RetryTest, FailuresAreRetriedWithGrowingPausesUntilTheWindowHasRunOut)
{
  // Shipped: a 10 s window, pauses of 1 s, 1.5 s, 2.25 s ... up to 5 s. Here
  // a hundredth of that. A server that drops every connection at once must not
  // be asked more often than the pauses allow.
  Tesk::Request::SetTimeScaleForTesting(0.01);
  LogCapture log;
  TestService service;
  service.Serve("/doc", Answer::Drop());
  auto request = Make(service.Url("/doc"));
  QElapsedTimer clock;
  clock.start();
  request->Send();
  WaitForResults();

  EXPECT_EQ(sink.results, std::vector<Result>{Result::NoConnection});
  EXPECT_GE(clock.elapsed(), 90); // the whole window, give or take the timer's coarseness
  EXPECT_GE(service.RequestCount(), 2);
  // At most one attempt per pause of the window, plus the first and the last.
  EXPECT_LE(service.RequestCount(), 12);
  EXPECT_EQ(request->RetryDuration(), 10000);
  EXPECT_FALSE(request->AutoRetryRunning());
  EXPECT_TRUE(request->IsIdle());

  EXPECT_EQ(log.Count("Auto Retry - Creating a timer with timeout interval: 10000"), 1);
  EXPECT_TRUE(log.Contains("Auto Retry - Error code: 2 received "));
  EXPECT_TRUE(log.Contains("Auto Retry - Next attempt in 1000 ms"));
  EXPECT_TRUE(log.Contains("Auto Retry - Next attempt in 1500 ms"));
  EXPECT_TRUE(log.Contains("Auto Retry - Retry duration complete"));
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
  auto request = Make(service.Url("/doc"));
  request->ReadRetryDurationFromConfig();
  request->Send();
  WaitForResults();
  EXPECT_EQ(sink.results, std::vector<Result>{Result::ServerError});
  EXPECT_TRUE(log.Contains("Auto Retry - Next attempt in 5000 ms"));
  for (const auto& message : log.Messages()) {
    if (message.rfind("Auto Retry - Next attempt in ", 0) == 0) {
      EXPECT_LE(std::stoi(message.substr(29)), 5000) << message;
    }
  }
}

TEST_F(RetryTest, AnErrorPageIsRetriedForTheWholeWindowThenServerError)
{
  Tesk::Request::SetTimeScaleForTesting(0.01);
  TestService service;
  service.Serve("/doc", Answer::Status(404, "not here"));
  auto request = Make(service.Url("/doc"));
  request->Send();
  WaitForResults();
  EXPECT_EQ(sink.results, std::vector<Result>{Result::ServerError});
  EXPECT_GE(service.RequestCount(), 2);
}

TEST_F(RetryTest, ATimeOutAfterTheWindowHasRunOutIsNoConnection)
{
  // The last error code (500) would give ServerError; the time-out decides.
  Tesk::Request::SetTimeScaleForTesting(0.01);
  TestService service;
  service.ServeSequence("/doc", {Answer::Status(500), Answer::Silent()});
  auto request = Make(service.Url("/doc"));
  request->SetTimeout(std::chrono::milliseconds(30000)); // 300 ms, longer than the window
  request->Send();
  WaitForResults();
  EXPECT_EQ(sink.results, std::vector<Result>{Result::NoConnection});
  EXPECT_EQ(service.RequestCount(), 2);
}

TEST_F(RetryTest, TheUsersRetryIsIgnoredWhileTheWindowRunsAndReopensItAfterAResult)
{
  TestService service;
  service.Serve("/doc", Answer::Drop());
  auto request = Make(service.Url("/doc"));
  request->Send();
  // The first failure opens the window and waits a second before the next attempt.
  ASSERT_TRUE(TestSupport::WaitFor([&] { return request->AutoRetryRunning(); }, 20000));
  ASSERT_FALSE(request->InFlight());
  request->RetryButtonClicked();
  EXPECT_FALSE(request->InFlight());
  request.reset();

  Tesk::Request::SetTimeScaleForTesting(0.01);
  auto second = Make(service.Url("/doc"));
  second->Send();
  WaitForResults();
  ASSERT_EQ(sink.results, std::vector<Result>{Result::NoConnection});
  const int before = service.RequestCount();
  second->RetryButtonClicked();
  EXPECT_TRUE(second->InFlight()); // sent at once, no pause
  EXPECT_TRUE(second->AutoRetryRunning());
  WaitForResults(2);
  EXPECT_EQ(sink.results, (std::vector<Result>{Result::NoConnection, Result::NoConnection}));
  EXPECT_GE(service.RequestCount(), before + 2);
}

TEST_F(RetryTest, ADownloadThatCannotReachTheServerGivesUpAtOnce)
{
  // 429 is reported by the network layer as an unknown content error, one of
  // the codes that mean "unreachable" before the first byte of a download.
  TestSupport::DataHome data;
  TestService service;
  service.Serve("/map.tar", Answer::Status(429, "slow down"));
  auto request = Make(service.Url("/map.tar"));
  request->ReadRetryDurationFromConfig();
  request->Send();
  WaitForResults();
  EXPECT_EQ(sink.results, std::vector<Result>{Result::NoConnection});
  EXPECT_EQ(service.RequestCount(), 1);
  EXPECT_FALSE(request->AutoRetryRunning());
  EXPECT_TRUE(request->IsIdle());
}

TEST_F(RetryTest, ADownloadWithBytesOrAnotherErrorRetriesInItsWindow)
{
  TestSupport::DataHome data;
  data.WriteRetryDuration("\"1\"");
  Tesk::Request::SetTimeScaleForTesting(0.002); // one minute becomes 120 ms
  for (const bool started : {true, false}) {
    SCOPED_TRACE(started ? "after some bytes" : "connection dropped");
    TestService service;
    service.Serve("/map.tar", started ? Answer::Status(429) : Answer::Drop());
    Sink downloads;
    std::ostringstream stream;
    Probe request(manager, service.Url("/map.tar"), {}, {}, downloads, stream);
    request.ReadRetryDurationFromConfig();
    EXPECT_EQ(request.RetryDuration(), 60000);
    if (started)
      request.GetDownloadedbytes(512);
    request.Send();
    ASSERT_TRUE(downloads.WaitForResults());
    EXPECT_EQ(downloads.results, std::vector<Result>{Result::NoConnection});
    EXPECT_GE(service.RequestCount(), 2);
  }
}

TEST_F(RetryTest, TheDownloadWindowComesFromConfigJson)
{
  LogCapture log;
  TestSupport::DataHome data;
  const std::vector<std::pair<QByteArray, int>> cases = {
      {"\"0.4\"", 1}, {"\"12\"", 10}, {"\"2.5\"", 3},  {"\"7.4\"", 7}, {"\"1\"", 1},
      {"\"10\"", 10}, {"5", 5},       {"\"abc\"", 3},  {"\"\"", 3},    {"\"nan\"", 3},
      {"\"-3\"", 1},  {"\" 4 \"", 4}, {"\"5abc\"", 3},
  };
  for (const auto& [value, minutes] : cases) {
    SCOPED_TRACE(value.toStdString());
    data.WriteRetryDuration(value);
    auto request = Make("http://127.0.0.1:9/map.tar");
    EXPECT_FALSE(request->IsDownload());
    request->ReadRetryDurationFromConfig();
    EXPECT_TRUE(request->IsDownload());
    EXPECT_EQ(request->RetryDuration(), minutes * 60000);
  }
  // Unreadable JSON, a missing key and a missing file all give 3 minutes.
  const auto windowNow = [&] {
    auto request = Make("http://127.0.0.1:9/a");
    request->ReadRetryDurationFromConfig();
    return request->RetryDuration();
  };
  data.WriteConfig("{ not json");
  EXPECT_EQ(windowNow(), 3 * 60000);
  data.WriteConfig(R"({"MapDownload": {}})");
  EXPECT_EQ(windowNow(), 3 * 60000);
  QFile::remove(data.Path() + "/config.json");
  EXPECT_EQ(windowNow(), 3 * 60000);
  EXPECT_TRUE(log.Contains("Duration (in json) 7"));
  EXPECT_TRUE(log.Contains("Duration (in json) 10"));
}
