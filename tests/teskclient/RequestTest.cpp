// What reaches the caller's stream and sink: the body of the resource only,
// resumed exactly where the stream stands, and one result for every way an
// attempt can go wrong.

#include "LogCapture.h"
#include "Probe.h"

#include <QSignalSpy>

#include <stdexcept>

namespace {

const QByteArray kResource = "0123456789abcdefghijklmnopqrstuvwxyz";
const std::string kText = kResource.toStdString();

// Takes nothing, as a full disk does, or throws, as the tar extractor does
// when a file cannot be created.
struct FailingBuffer : std::streambuf
{
  explicit FailingBuffer(bool throwing) : throwing(throwing) {}
  int_type overflow(int_type) override { return xsputn(nullptr, 1) == 1 ? 0 : traits_type::eof(); }
  std::streamsize xsputn(const char*, std::streamsize) override
  {
    if (throwing)
      throw std::runtime_error("cannot create file");
    return 0;
  }
  bool throwing;
};

// What a request makes of the answers of its attempts.
struct Case
{
  std::string name;
  QList<Answer> answers;               // one per attempt, the last repeats
  std::string held;                    // in the stream before: the request resumes
  std::vector<Result> results;         // any one of these
  std::string written;                 // the stream in the end
  std::vector<QByteArray> ranges = {}; // when given: the Range header of every attempt
  int timeoutMs = 1000;
  bool mayWriteNothing = false; // a failure may also leave the stream as it was
};

void PrintTo(const Case& test, std::ostream* os)
{
  *os << test.name;
}

std::vector<Case> Cases()
{
  const std::string ok = kText;
  const std::vector<Result> Ok = {Result::Ok}, Server = {Result::ServerError}, None = {Result::NoConnection};
  Answer shifted = Answer::Ok(kResource);
  shifted.rangeShift = 4; // a 206 from 4 bytes after the asked position would leave a hole
  QByteArray manyHeaders = "HTTP/1.1 200 OK\r\n";
  for (int i = 0; i < 20000; ++i)
    manyHeaders += "X-H" + QByteArray::number(i) + ": value\r\n";
  const QByteArray tail = "Content-Length: 4\r\nConnection: close\r\n\r\nbody";
  const Answer all = Answer::Ok(kResource);
  // clang-format off
  std::vector<Case> cases = {
      {"Whole", {all}, "", Ok, ok, {""}},
      {"CutAfter10", {Answer(all).CloseAfter(10), all}, "", Ok, ok, {"", "bytes=10-"}},
      {"StalledAfter10", {Answer(all).StallAfter(10), all}, "", Ok, ok, {"", "bytes=10-"}, 200},
      {"ResumedByTheCaller", {all}, ok.substr(0, 5), Ok, ok, {"bytes=5-"}},
      {"RangeIgnored", {Answer(all).IgnoreRanges()}, ok.substr(0, 12), Ok, ok, {"bytes=12-"}},
      {"WholeAnswerShorterThanTheStream", {Answer::Ok("short").IgnoreRanges()}, ok, Server, ok},
      {"PartialAnswerFromAnotherOffset", {shifted, all}, ok.substr(0, 8), Ok, ok, {"bytes=8-", "bytes=8-"}},
      {"PartialAnswerToAWholeRequest",
       {Answer::Raw("HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 3-5/36\r\nContent-Length: 3\r\n"
                    "Connection: close\r\n\r\n345")},
       "", Server, ""},
      {"SilentThenStalled", {Answer::Silent(), Answer(all).StallAfter(7)}, "", None, ok.substr(0, 7), {},
       200},
      // The time-out outlasts the window: it decides, not the last status.
      {"ErrorThenSilent", {Answer::Status(500), Answer::Silent()}, "", None, "", {"", ""}, 300},
      {"MalformedStatusLine", {Answer::Raw("HTTP/1.1 2x0 Fine\r\n" + tail)}, "", None, ""},
      {"NotHttp", {Answer::Raw("SSH-2.0-OpenSSH\r\n\r\n")}, "", None, ""},
      {"StatusLineOnly", {Answer::Raw("HTTP/1.1 200 OK\r\n")}, "", None, ""},
      {"ConnectionDropped", {Answer::Drop()}, "", None, ""},
      {"BodyCutShortEveryTime", {Answer(all).IgnoreRanges().CloseAfter(6)}, "", None, ok.substr(0, 6), {},
       1000, true},
      {"HugeHeader", {Answer::Raw("HTTP/1.1 200 OK\r\nX-Filler: " + QByteArray(4 << 20, 'a') + "\r\n" +
                                  tail)}, "", {Result::Ok, Result::NoConnection}, "body", {}, 1000, true},
      {"ManyHeaders", {Answer::Raw(manyHeaders + tail)}, "",
       {Result::Ok, Result::NoConnection, Result::ServerError}, "body", {}, 1000, true},
  };
  // clang-format on
  // Error pages, 3xx without a target and 2xx other than 200/206: each is
  // retried for the whole window and never reaches the stream.
  for (int status : {404, 500, 503, 401, 304, 300, 204, 201, 202})
    cases.push_back({"Status" + std::to_string(status),
                     {Answer::Status(status, status == 304 || status == 204 ? "" : "<html>error</html>")},
                     "",
                     Server,
                     ""});
  // A server that closes the connection in the middle of a large body: the
  // announced length tells that the answer is not the whole document.
  QByteArray document(300000, 'x');
  for (int i = 0; i < document.size(); ++i)
    document[i] = char('a' + i % 26);
  for (qint64 cut : {1, 70000, 299999})
    cases.push_back({"CutAfter" + std::to_string(cut) + "Of300000",
                     {Answer::Ok(document).CloseAfter(cut), Answer::Ok(document)},
                     "",
                     Ok,
                     document.toStdString()});
  return cases;
}

} // namespace

class RequestTest : public RequestFixture, public testing::WithParamInterface<Case>
{
};

TEST_P(RequestTest, OnlyTheResourceReachesTheStreamResumedWhereItStands)
{
  const Case& test = GetParam();
  LogCapture log;
  TestService service;
  service.ServeSequence("/doc", test.answers);
  Call call(manager, service.Url("/doc"));
  call.out << test.held;
  // The last time-out set is the one in force.
  call->SetTimeout(std::chrono::hours(1));
  call->SetTimeout(std::chrono::milliseconds(test.timeoutMs * 100));
  ASSERT_TRUE(call.Run(!test.held.empty()));

  ASSERT_EQ(call.sink.results.size(), 1u);
  const Result result = call.sink.results[0];
  EXPECT_NE(std::find(test.results.begin(), test.results.end(), result), test.results.end()) << result;
  const std::string written = call.out.str();
  EXPECT_TRUE(written == test.written ||
              (test.mayWriteNothing && result != Result::Ok && written == test.held))
      << written.substr(0, 40);
  // The sink hears of exactly the bytes this request wrote.
  EXPECT_EQ(call.sink.DataTotal(), static_cast<qint64>(written.size() - test.held.size()));
  EXPECT_TRUE(test.name != "Whole" || call.sink.lastTotal == kResource.size()); // progress
  if (!test.ranges.empty()) {
    ASSERT_EQ(service.RequestCount(), static_cast<int>(test.ranges.size()));
    for (size_t i = 0; i < test.ranges.size(); ++i)
      EXPECT_EQ(service.Requests()[i].Header("Range"), test.ranges[i]) << i;
    EXPECT_EQ(call->Wire().rawHeader("Range"), test.ranges.back());
  }
  EXPECT_GE(service.RequestCount(), test.name.rfind("Status", 0) == 0 ? 2 : 1); // error pages are retried
  EXPECT_TRUE(call->IsIdle());
  EXPECT_EQ(log.Count("Creating a timer with timeout interval: 3600000"), 1);
  EXPECT_EQ(log.Contains("Resuming request from: 5"), test.name == "ResumedByTheCaller");
  EXPECT_EQ(log.Contains("Adding header: Range=bytes=5-"), test.name == "ResumedByTheCaller");
  EXPECT_TRUE(test.name.find("Stalled") == std::string::npos ||
              log.Contains("Auto Retry - Connection timeout"));
}

INSTANTIATE_TEST_SUITE_P(Answers, RequestTest, testing::ValuesIn(Cases()),
                         [](const auto& info) { return info.param.name; });

using StreamTest = RequestFixture;
using LifetimeTest = RequestFixture;

TEST_F(StreamTest, AStreamThatCannotTakeTheBodyEndsInIOErrorAndIsNotResumed)
{
  LogCapture log;
  TestService service;
  service.Serve("/doc", Answer::Ok(kResource));
  FailingBuffer throwing(true), full(false);
  std::ostream thrower(&throwing), refuser(&full);
  thrower.exceptions(std::ios::badbit);
  std::ostringstream failed("abc", std::ios::ate);
  failed.setstate(std::ios::badbit);
  for (std::ostream* stream : {&thrower, &refuser, static_cast<std::ostream*>(&failed)}) {
    Call call(manager, service.Url("/doc"), {}, {}, stream);
    ASSERT_TRUE(call.Run(true));
    EXPECT_EQ(call.sink.results, std::vector<Result>{Result::IOError});
    EXPECT_TRUE(call.sink.data.empty());
    EXPECT_TRUE(call->IsIdle());
  }
  ASSERT_EQ(service.RequestCount(), 3);
  for (const auto& request : service.Requests())
    EXPECT_FALSE(request.HasHeader("Range"));
  EXPECT_EQ(log.Count("Failed to write data: cannot create file"), 1);
}

TEST_F(LifetimeTest, AbortOrDeletionInFlightReportsNothing)
{
  LogCapture log;
  TestService service;
  service.Serve("/doc", Answer::Ok(kResource).StallAfter(4));
  QSignalSpy closed(&service, &TestService::ConnectionClosed);
  for (bool abort : {true, false}) {
    SCOPED_TRACE(abort ? "abort" : "deletion");
    Call call(manager, service.Url("/doc"));
    call->SetTimeout(std::chrono::hours(1));
    call->Abort(); // nothing in flight: no log line
    call->Send();
    ASSERT_TRUE(TestSupport::WaitFor([&] { return !call.sink.data.empty(); }));
    if (abort) {
      call->Abort();
      EXPECT_TRUE(call->IsIdle());
    } else {
      call.request.reset();
    }
    ASSERT_TRUE(closed.wait(20000)) << "the service never saw the connection go";
    QCoreApplication::processEvents();
    EXPECT_TRUE(call.sink.results.empty());
    EXPECT_EQ(call.out.str(), "0123");
  }
  EXPECT_EQ(log.Count("Aborting request"), 2);
}

TEST_F(LifetimeTest, ASecondSendInFlightIsRefusedAndTheSinkMayDeleteTheRequest)
{
  LogCapture log;
  TestService service;
  service.Serve("/doc", Answer::Ok(kResource));
  Call call(manager, service.Url("/doc"));
  call.sink.onResult = [&](Result) { call.request.reset(); };
  call->Send();
  call->Send();
  ASSERT_TRUE(call.sink.Wait());
  EXPECT_EQ(call.request, nullptr);
  EXPECT_EQ(call.sink.results, std::vector<Result>{Result::Ok});
  EXPECT_EQ(call.out.str(), kText);
  EXPECT_EQ(service.RequestCount(), 1);
  EXPECT_TRUE(log.Contains("Request is already in progress"));
}
