// What reaches the caller's stream and sink, resumed exactly where the stream
// stands; one result for every way an attempt can go wrong; the inactivity
// time-out, the retry window with its pauses, the user's retry and the
// download's window from config.json.

#include "DataHome.h"
#include "LogCapture.h"
#include "RequestSupport.h"

#include <QCoreApplication>
#include <QFile>

namespace {

const QByteArray Resource = "0123456789abcdefghijklmnopqrstuvwxyz";
const std::string Text = Resource.toStdString();

// What a request makes of the answers of its attempts.
struct Case
{
  std::string name;
  QList<Answer> answers;               // one per attempt, the last repeats
  std::string held;                    // in the stream before: the request resumes
  Result result;                       //
  std::string written;                 // the stream in the end
  std::vector<QByteArray> ranges = {}; // when given: the Range header of every attempt
  int timeoutMs = 1000;
};

std::vector<Case> Cases()
{
  const Answer all = Answer::Ok(Resource);
  Answer shifted = all;
  shifted.rangeShift = 4; // a 206 from 4 bytes after the asked position would leave a hole
  const QByteArray document = Resource.repeated(10000), slow(40000, 'x');
  // clang-format off
  std::vector<Case> cases = {
      {"Whole", {all}, "", Result::Ok, Text, {""}},
      {"CutAfter10", {Answer(all).CloseAfter(10), all}, "", Result::Ok, Text, {"", "bytes=10-"}},
      {"StalledAfter10", {Answer(all).StallAfter(10), all}, "", Result::Ok, Text, {"", "bytes=10-"}, 200},
      {"ResumedByTheCaller", {all}, Text.substr(0, 5), Result::Ok, Text, {"bytes=5-"}},
      {"RangeIgnored", {Answer(all).IgnoreRanges()}, Text.substr(0, 12), Result::Ok, Text, {"bytes=12-"}},
      {"WholeAnswerShorterThanTheStream", {Answer::Ok("short").IgnoreRanges()}, Text, Result::ServerError, Text},
      {"PartialAnswerFromAnotherOffset", {shifted, all}, Text.substr(0, 8), Result::Ok, Text, {"bytes=8-", "bytes=8-"}},
      {"PartialAnswerToAWholeRequest",
       {Answer::Raw("HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 3-5/36\r\nContent-Length: 3\r\n"
                    "Connection: close\r\n\r\n345")}, "", Result::ServerError, ""},
      {"SilentThenStalled", {Answer::Silent(), Answer(all).StallAfter(7)}, "", Result::NoConnection, Text.substr(0, 7), {}, 200},
      // The time-out outlasts the window: it decides, not the last status.
      {"ErrorThenSilent", {Answer::Status(500), Answer::Silent()}, "", Result::NoConnection, "", {"", ""}, 300},
      {"MalformedStatusLine", {Answer::Raw("HTTP/1.1 2x0 Fine\r\nContent-Length: 4\r\n\r\nbody")}, "", Result::NoConnection, ""},
      {"ConnectionDropped", {Answer::Drop()}, "", Result::NoConnection, ""},
      // The time-out measures inactivity: 40000 bytes at 16000 a second take
      // two and a half times the time-out, in one attempt.
      {"SlowButNeverIdle", {Answer::Ok(slow).Rate(16000, 1600)}, "", Result::Ok, slow.toStdString(), {""}},
      // The announced length tells that a closed connection cut the body short.
      {"BodyCutShortEveryTime", {Answer(all).IgnoreRanges().CloseAfter(6)}, "", Result::NoConnection, Text.substr(0, 6)},
      {"LargeBodyCut", {Answer::Ok(document).CloseAfter(70000), Answer::Ok(document)}, "", Result::Ok, document.toStdString()},
  };
  // clang-format on
  // Error pages, 3xx without a target and 2xx other than 200/206: each is
  // retried for the whole window and never reaches the stream.
  for (int status : {404, 503, 304, 204, 201})
    cases.push_back({"Status" + std::to_string(status),
                     {Answer::Status(status, status == 304 || status == 204 ? "" : "<html>error</html>")},
                     "",
                     Result::ServerError,
                     ""});
  return cases;
}

} // namespace

class RequestTest : public RequestFixture, public testing::WithParamInterface<Case>
{
};

TEST_P(RequestTest, OnlyTheResourceReachesTheStreamResumedWhereItStands)
{
  const Case& test = GetParam();
  TestService service;
  service.ServeSequence("/doc", test.answers);
  Call call(manager, service.Url("/doc"));
  call.out << test.held;
  // The last time-out set is the one in force.
  call->SetTimeout(std::chrono::hours(1));
  call->SetTimeout(std::chrono::milliseconds(test.timeoutMs * 100));
  EXPECT_EQ(call.Run(!test.held.empty()), Results{test.result});
  EXPECT_EQ(call.out.str().substr(0, 60), test.written.substr(0, 60));
  EXPECT_EQ(call.out.str().size(), test.written.size());
  // The sink hears of exactly the bytes this request wrote.
  EXPECT_EQ(call.sink.total, static_cast<qint64>(call.out.str().size() - test.held.size()));
  if (!test.ranges.empty()) {
    ASSERT_EQ(service.RequestCount(), static_cast<int>(test.ranges.size()));
    for (std::size_t i = 0; i < test.ranges.size(); ++i)
      EXPECT_EQ(service.Requests()[i].Header("Range"), test.ranges[i]) << i;
  }
  EXPECT_GE(service.RequestCount(), test.name.rfind("Status", 0) == 0 ? 2 : 1); // error pages are retried
  EXPECT_TRUE(call->IsIdle());
}

INSTANTIATE_TEST_SUITE_P(Answers, RequestTest, testing::ValuesIn(Cases()),
                         [](const auto& info) { return info.param.name; });

using LifetimeTest = RequestFixture;
using RetryTest = RequestFixture;

TEST_F(LifetimeTest, AStreamThatCannotTakeTheBodyEndsInIOErrorAndIsNotResumed)
{
  TestService service;
  service.Serve("/doc", Answer::Ok(Resource));
  // Throwing, as the tar extractor does when a file cannot be created; taking
  // nothing, as a full disk does; or failed before.
  MemoryStream thrower, refuser;
  thrower.exceptions(std::ios::badbit);
  thrower.buffer.FailAt(0, true);
  refuser.buffer.FailAt(0, false);
  std::ostringstream failed("abc", std::ios::ate);
  failed.setstate(std::ios::badbit);
  for (std::ostream* stream : std::initializer_list<std::ostream*>{&thrower, &refuser, &failed}) {
    Call call(manager, service.Url("/doc"), {}, {}, stream);
    EXPECT_EQ(call.Run(true), Results{Result::IOError});
    EXPECT_TRUE(call.sink.data.empty());
  }
  ASSERT_EQ(service.RequestCount(), 3);
  for (const auto& request : service.Requests())
    EXPECT_FALSE(request.HasHeader("Range"));
}

TEST_F(LifetimeTest, AbortOrDeletionInFlightReportsNothingAndTheSinkMayDeleteTheRequest)
{
  TestService service;
  service.Serve("/doc", Answer::Ok(Resource).StallAfter(4));
  for (bool abort : {true, false}) {
    SCOPED_TRACE(abort ? "abort" : "deletion");
    Call call(manager, service.Url("/doc"));
    call->SetTimeout(std::chrono::hours(1));
    call->Send();
    ASSERT_TRUE(WaitFor([&] { return !call.sink.data.empty(); }));
    abort ? call->Abort() : call.request.reset();
    ASSERT_TRUE(WaitFor([&] { return service.OpenConnections() == 0; })) << "the connection stayed open";
    QCoreApplication::processEvents();
    EXPECT_TRUE(call.sink.results.empty());
    EXPECT_EQ(call.out.str(), "0123");
  }

  // A second Send in flight is refused; the sink deletes the request on its result.
  service.Serve("/doc", Answer::Ok(Resource));
  Call call(manager, service.Url("/doc"));
  call.sink.onResult = [&](Result) { call.request.reset(); };
  call->Send();
  call->Send();
  ASSERT_TRUE(call.sink.Wait());
  QCoreApplication::processEvents();
  EXPECT_EQ(call.sink.results, Results{Result::Ok});
  EXPECT_EQ(call.out.str(), Text);
  EXPECT_EQ(service.RequestCount(), 3);
}

TEST_F(RetryTest, FailuresAreRetriedAfterPausesGrowingByHalfUpToFiveSecondsUntilTheWindowEnds)
{
  // A document's window is 10 s; a download of ten minutes (600 ms here)
  // holds enough pauses to reach the longest.
  TestSupport::DataHome data;
  data.WriteRetryDuration("\"10\"");
  TestSupport::TimeScale faster(0.001);
  LogCapture log;
  TestService service;
  service.Serve("/doc", Answer::Status(500));
  Call call(manager, service.Url("/doc"));
  EXPECT_EQ(call->RetryDuration(), 10000);
  call->ReadRetryDurationFromConfig();
  EXPECT_EQ(call->RetryDuration(), 600000);
  EXPECT_EQ(call.Run(), Results{Result::ServerError});
  EXPECT_FALSE(call->AutoRetryRunning());
  std::vector<int> pauses;
  for (const auto& message : log.Messages())
    if (message.rfind("Auto Retry - Next attempt in ", 0) == 0)
      pauses.push_back(std::stoi(message.substr(29)));
  ASSERT_GE(pauses.size(), 6u);
  EXPECT_EQ(std::vector<int>(pauses.begin(), pauses.begin() + 6),
            (std::vector<int>{1000, 1500, 2250, 3375, 5000, 5000}));
  // No attempt without its pause: the first, one after each pause, the last.
  EXPECT_LE(service.RequestCount(), static_cast<int>(pauses.size()) + 2);
}

TEST_F(RetryTest, TheUsersRetryIsIgnoredWhileTheWindowRunsAndReopensItAfterAResult)
{
  TestService service;
  service.Serve("/doc", Answer::Drop());
  {
    // Shipped timings: the first failure opens the window and waits a second.
    TestSupport::TimeScale shipped(1.0);
    Call call(manager, service.Url("/doc"));
    call->Send();
    ASSERT_TRUE(WaitFor([&] { return call->AutoRetryRunning(); }, 20000));
    ASSERT_FALSE(call->InFlight());
    call->RetryButtonClicked();
    EXPECT_FALSE(call->InFlight());
  }
  Call call(manager, service.Url("/doc"));
  ASSERT_EQ(call.Run(), Results{Result::NoConnection});
  const int before = service.RequestCount();
  call->RetryButtonClicked();
  EXPECT_TRUE(call->InFlight()); // sent at once, no pause
  EXPECT_TRUE(call->AutoRetryRunning());
  ASSERT_TRUE(call.sink.Wait(2));
  EXPECT_EQ(call.sink.results.back(), Result::NoConnection);
  EXPECT_GE(service.RequestCount(), before + 2);
}

TEST_F(RetryTest, OnlyADownloadThatNeverReachedItsServerGivesUpAtOnceAndARefusedConnectionIsRetried)
{
  // 429 is reported by the network layer as an unknown content error, one of
  // the codes that mean "unreachable" before the first byte of a download. A
  // server that is there but takes no connection is no missing network:
  // retried through the window, its last failure is a server error.
  const quint16 closedPort = TestService().Port(); // closed with the service
  TestSupport::DataHome data;
  TestSupport::TimeScale faster(0.002); // one minute becomes 120 ms
  // The answer, the bytes downloaded before, the result and whether it was retried.
  const std::tuple<std::string, Answer, qint64, Result, bool> cases[] = {
      {"unreachable", Answer::Status(429, "slow down"), 0, Result::NoConnection, false},
      {"after some bytes", Answer::Status(429), 512, Result::NoConnection, true},
      {"connection dropped", Answer::Drop(), 0, Result::NoConnection, true},
      {"refused archive", Answer(), 0, Result::ServerError, true}};
  for (const auto& [name, answer, downloaded, result, retried] : cases) {
    SCOPED_TRACE(name);
    TestService service;
    service.Serve("/map.tar", answer);
    const bool refused = name == "refused archive";
    LogCapture log;
    Call call(manager,
              refused ? QString("http://127.0.0.1:%1/map.tar").arg(closedPort) : service.Url("/map.tar"));
    call->ReadRetryDurationFromConfig();
    if (downloaded)
      call->GetDownloadedbytes(downloaded);
    EXPECT_EQ(call.Run(), Results{result});
    const int attempts = refused ? log.Count("Auto Retry - Error code: 1 received ") : service.RequestCount();
    EXPECT_EQ(attempts > 1, retried) << attempts;
    EXPECT_FALSE(call->AutoRetryRunning());
  }
}

TEST_F(RetryTest, TheDownloadWindowComesFromConfigJson)
{
  TestSupport::DataHome data;
  const auto window = [&] {
    Call call(manager, "http://127.0.0.1:9/map.tar");
    call->ReadRetryDurationFromConfig();
    return call->RetryDuration() / 60000;
  };
  // Whole minutes from 1 to 10, rounded; a value that is no number as a whole gives 3.
  const std::vector<std::pair<QByteArray, int>> cases = {
      {"\"0.4\"", 1}, {"\"12\"", 10}, {"\"2.5\"", 3}, {"\"7.4\"", 7}, {"\"10\"", 10}, {"5", 5},
      {"\"abc\"", 3}, {"\"\"", 3},    {"\"nan\"", 3}, {"\"-3\"", 1},  {"\" 4 \"", 4}, {"\"5abc\"", 3},
  };
  for (const auto& [value, minutes] : cases) {
    data.WriteRetryDuration(value);
    EXPECT_EQ(window(), minutes) << value.toStdString();
  }
  // Unreadable JSON, a missing key and a missing file all give 3 minutes.
  for (const char* config : {"{ not json", R"({"MapDownload": {}})", ""}) {
    config[0] ? data.WriteConfig(config) : (void)QFile::remove(data.Path() + "/config.json");
    EXPECT_EQ(window(), 3) << config;
  }
}
