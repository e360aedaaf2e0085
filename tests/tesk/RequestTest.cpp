// What reaches the caller's stream and sink: the body of the resource only,
// resumed exactly where the stream stands, and one result for every way an
// attempt can go wrong.

#include "LogCapture.h"
#include "Probe.h"

#include <QSignalSpy>

#include <stdexcept>

using TestSupport::Answer;
using TestSupport::TestService;
using Result = Tesk::IResponse::Result;

namespace {

const QByteArray kResource = "0123456789abcdefghijklmnopqrstuvwxyz";

// A stream buffer whose writes throw, as the tar extractor's do when a file
// cannot be created.
class ThrowingBuffer : public std::streambuf
{
protected:
  int_type overflow(int_type) override { throw std::runtime_error("cannot create file"); }
  std::streamsize xsputn(const char*, std::streamsize) override
  {
    throw std::runtime_error("cannot create file");
  }
};

// A stream buffer that takes nothing, as a full disk does.
class FullBuffer : public std::streambuf
{
protected:
  int_type overflow(int_type) override { return traits_type::eof(); }
  std::streamsize xsputn(const char*, std::streamsize) override { return 0; }
};

} // namespace

class RequestTest : public RequestFixture
{
};

TEST_F(RequestTest, WritesTheBodyOfASuccessAndReportsOkOnce)
{
  TestService service;
  service.Serve("/doc", Answer::Ok(kResource));
  auto request = Make(service.Url("/doc"));
  request->Send();
  WaitForResults();

  EXPECT_EQ(sink.results, std::vector<Result>{Result::Ok});
  EXPECT_EQ(out.str(), kResource.toStdString());
  EXPECT_EQ(sink.DataTotal(), kResource.size());
  EXPECT_GE(sink.progressCalls, 1);
  EXPECT_EQ(sink.lastTotal, kResource.size());
  EXPECT_TRUE(request->IsIdle());
}

TEST_F(RequestTest, AnswersThatAreNotTheResourceFailAndNeverReachTheStream)
{
  // Error pages, 3xx without a target and 2xx other than 200/206: reporting Ok
  // would hand the caller an empty or foreign document.
  Tesk::Request::SetTimeScaleForTesting(0.01);
  const QList<Answer> answers = {Answer::Status(404, "<html>error page</html>"),
                                 Answer::Status(500, "<html>error page</html>"),
                                 Answer::Status(503),
                                 Answer::Status(401, "<html>error page</html>"),
                                 Answer::Status(304),
                                 Answer::Status(300, "choices"),
                                 Answer::Status(204),
                                 Answer::Status(201, "created"),
                                 Answer::Status(202, "accepted")};
  for (const Answer& answer : answers) {
    SCOPED_TRACE(answer.status);
    TestService service;
    service.Serve("/doc", answer);
    Sink failures;
    std::ostringstream stream;
    Probe request(manager, service.Url("/doc"), {}, {}, failures, stream);
    request.Send();
    ASSERT_TRUE(failures.WaitForResults());
    EXPECT_EQ(failures.results, std::vector<Result>{Result::ServerError});
    EXPECT_EQ(stream.str(), "");
    EXPECT_TRUE(failures.data.empty());
    EXPECT_TRUE(request.IsIdle());
  }
}

TEST_F(RequestTest, ABodyCutShortIsNeverTakenForTheWholeDocument)
{
  // A server that closes the connection in the middle of a large body: Qt may
  // report such an answer as complete; the announced length tells otherwise.
  Tesk::Request::SetTimeScaleForTesting(0.01);
  QByteArray document(300000, 'x');
  for (int i = 0; i < document.size(); ++i)
    document[i] = char('a' + i % 26);
  for (qint64 cut : {1, 70000, 299999}) {
    SCOPED_TRACE(cut);
    TestService service;
    service.ServeSequence("/doc", {Answer::Ok(document).CloseAfter(cut), Answer::Ok(document)});
    Sink sink;
    std::ostringstream stream;
    Probe request(manager, service.Url("/doc"), {}, {}, sink, stream);
    request.Send();
    ASSERT_TRUE(sink.WaitForResults());
    EXPECT_EQ(sink.results, std::vector<Result>{Result::Ok});
    EXPECT_TRUE(stream.str() == document.toStdString());
  }
}

TEST_F(RequestTest, ResumesWithARangeFromTheStreamPosition)
{
  // The first answer breaks off after 10 bytes; the next attempt asks for the
  // rest and the stream ends up holding the resource exactly once.
  Tesk::Request::SetTimeScaleForTesting(0.01);
  TestService service;
  service.ServeSequence("/doc", {Answer::Ok(kResource).CloseAfter(10), Answer::Ok(kResource)});
  auto request = Make(service.Url("/doc"));
  request->Send();
  WaitForResults();

  EXPECT_EQ(sink.results, std::vector<Result>{Result::Ok});
  EXPECT_EQ(out.str(), kResource.toStdString());
  ASSERT_EQ(service.RequestCount(), 2);
  EXPECT_FALSE(service.Requests()[0].HasHeader("Range"));
  EXPECT_EQ(service.Requests()[1].Header("Range"), "bytes=10-");
  EXPECT_EQ(request->Wire().rawHeader("Range"), "bytes=10-");
}

TEST_F(RequestTest, RetryLogsTheResumeAndKeepsTheHeaderForLaterAttempts)
{
  LogCapture log;
  TestService service;
  service.Serve("/doc", Answer::Ok(kResource));
  out << kResource.left(5).toStdString();
  auto request = Make(service.Url("/doc"));
  EXPECT_TRUE(request->Retry());
  WaitForResults();

  EXPECT_EQ(out.str(), kResource.toStdString());
  ASSERT_EQ(service.RequestCount(), 1);
  EXPECT_EQ(service.Requests()[0].Header("Range"), "bytes=5-");
  EXPECT_EQ(request->Wire().rawHeader("Range"), "bytes=5-");
  EXPECT_TRUE(log.Contains("Resuming request from: 5"));
  EXPECT_TRUE(log.Contains("Adding header: Range=bytes=5-"));
}

TEST_F(RequestTest, AFailedStreamIsNotResumed)
{
  TestService service;
  service.Serve("/doc", Answer::Ok(kResource));
  out << "abc";
  out.setstate(std::ios::badbit);
  auto request = Make(service.Url("/doc"));
  request->Retry();
  WaitForResults();
  ASSERT_EQ(service.RequestCount(), 1);
  EXPECT_FALSE(service.Requests()[0].HasHeader("Range"));
  // Writing into the failed stream is a write failure.
  EXPECT_EQ(sink.results, std::vector<Result>{Result::IOError});
}

TEST_F(RequestTest, AWholeAnswerToARangedRequestSkipsWhatTheStreamHolds)
{
  // A server that ignores Range sends the whole resource again: only the
  // bytes after the stream's position are written.
  TestService service;
  service.Serve("/doc", Answer::Ok(kResource).IgnoreRanges());
  out << kResource.left(12).toStdString();
  auto request = Make(service.Url("/doc"));
  request->Retry();
  WaitForResults();

  EXPECT_EQ(sink.results, std::vector<Result>{Result::Ok});
  EXPECT_EQ(service.Requests()[0].Header("Range"), "bytes=12-");
  EXPECT_EQ(out.str(), kResource.toStdString());
  EXPECT_EQ(sink.DataTotal(), kResource.size() - 12);
}

TEST_F(RequestTest, AWholeAnswerShorterThanTheStreamFails)
{
  Tesk::Request::SetTimeScaleForTesting(0.01);
  TestService service;
  service.Serve("/doc", Answer::Ok("short").IgnoreRanges());
  out << kResource.toStdString();
  auto request = Make(service.Url("/doc"));
  request->Retry();
  WaitForResults();
  EXPECT_EQ(sink.results, std::vector<Result>{Result::ServerError});
  EXPECT_EQ(out.str(), kResource.toStdString());
}

TEST_F(RequestTest, APartialAnswerFromAnotherOffsetIsRejected)
{
  // The first 206 starts 4 bytes after the asked position; writing it would
  // leave a hole in the stream. The attempt fails and the next one is used.
  Tesk::Request::SetTimeScaleForTesting(0.01);
  TestService service;
  Answer shifted = Answer::Ok(kResource);
  shifted.rangeShift = 4;
  service.ServeSequence("/doc", {shifted, Answer::Ok(kResource)});
  out << kResource.left(8).toStdString();
  auto request = Make(service.Url("/doc"));
  request->Retry();
  WaitForResults();

  EXPECT_EQ(sink.results, std::vector<Result>{Result::Ok});
  EXPECT_EQ(out.str(), kResource.toStdString());
  ASSERT_EQ(service.RequestCount(), 2);
  EXPECT_EQ(service.Requests()[1].Header("Range"), "bytes=8-");
}

TEST_F(RequestTest, APartialAnswerToAWholeRequestIsRejected)
{
  Tesk::Request::SetTimeScaleForTesting(0.01);
  TestService service;
  service.Serve("/doc", Answer::Raw("HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 3-5/36\r\n"
                                    "Content-Length: 3\r\nConnection: close\r\n\r\n345"));
  auto request = Make(service.Url("/doc"));
  request->Send();
  WaitForResults();
  EXPECT_EQ(sink.results, std::vector<Result>{Result::ServerError});
  EXPECT_EQ(out.str(), "");
}

TEST_F(RequestTest, BadAnswersEndInExactlyOneResultAndWriteNothingForeign)
{
  Tesk::Request::SetTimeScaleForTesting(0.01);
  const QByteArray bigHeader = "HTTP/1.1 200 OK\r\nX-Filler: " + QByteArray(4 << 20, 'a') +
                               "\r\nContent-Length: 4\r\nConnection: close\r\n\r\nbody";
  QByteArray manyHeaders = "HTTP/1.1 200 OK\r\n";
  for (int i = 0; i < 20000; ++i)
    manyHeaders += "X-H" + QByteArray::number(i) + ": value\r\n";
  manyHeaders += "Content-Length: 4\r\nConnection: close\r\n\r\nbody";

  struct Case
  {
    const char* name;
    Answer answer;
    std::vector<Result> expected; // any one of these
    std::string written;          // what the stream may hold in the end
  };
  const std::vector<Case> cases = {
      {"malformed status line",
       Answer::Raw("HTTP/1.1 2x0 Fine\r\nContent-Length: 4\r\n\r\nbody"),
       {Result::NoConnection},
       ""},
      {"not http at all", Answer::Raw("SSH-2.0-OpenSSH\r\n\r\n"), {Result::NoConnection}, ""},
      {"status line only", Answer::Raw("HTTP/1.1 200 OK\r\n"), {Result::NoConnection}, ""},
      {"body cut short every time",
       Answer::Ok(kResource).IgnoreRanges().CloseAfter(6),
       {Result::NoConnection},
       kResource.left(6).toStdString()},
      {"connection dropped", Answer::Drop(), {Result::NoConnection}, ""},
      {"huge header", Answer::Raw(bigHeader), {Result::Ok, Result::NoConnection}, "body"},
      {"many headers",
       Answer::Raw(manyHeaders),
       {Result::Ok, Result::NoConnection, Result::ServerError},
       "body"},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    TestService service;
    service.Serve("/doc", test.answer);
    Sink one;
    std::ostringstream stream;
    Probe request(manager, service.Url("/doc"), {}, {}, one, stream);
    request.SetTimeout(std::chrono::milliseconds(100000)); // 1 s
    request.Send();
    ASSERT_TRUE(one.WaitForResults());
    ASSERT_EQ(one.results.size(), 1u);
    EXPECT_NE(std::find(test.expected.begin(), test.expected.end(), one.results[0]), test.expected.end())
        << "result " << one.results[0];
    if (one.results[0] == Result::Ok)
      EXPECT_EQ(stream.str(), test.written);
    else
      EXPECT_TRUE(stream.str().empty() || stream.str() == test.written) << stream.str().substr(0, 40);
    EXPECT_TRUE(request.IsIdle());
  }
}

TEST_F(RequestTest, AServerThatNeverAnswersEndsInNoConnection)
{
  Tesk::Request::SetTimeScaleForTesting(0.01);
  TestService service;
  service.ServeSequence("/doc", {Answer::Silent(), Answer::Ok(kResource).StallAfter(7)});
  auto request = Make(service.Url("/doc"));
  request->SetTimeout(std::chrono::milliseconds(20000)); // 200 ms
  request->Send();
  WaitForResults();

  EXPECT_EQ(sink.results, std::vector<Result>{Result::NoConnection});
  EXPECT_EQ(out.str(), kResource.left(7).toStdString());
  EXPECT_TRUE(request->IsIdle());
}

TEST_F(RequestTest, DeletingARequestInFlightReportsNothing)
{
  TestService service;
  service.Serve("/doc", Answer::Ok(kResource).StallAfter(4));
  QSignalSpy closed(&service, &TestService::ConnectionClosed);
  auto request = Make(service.Url("/doc"));
  request->SetTimeout(std::chrono::milliseconds(60000));
  request->Send();
  ASSERT_TRUE(TestSupport::WaitFor([&] { return !sink.data.empty(); }, 20000));
  request.reset();
  ASSERT_TRUE(closed.wait(20000)) << "the service never saw the connection go";
  QCoreApplication::processEvents();
  EXPECT_TRUE(sink.results.empty());
  EXPECT_EQ(out.str(), "0123");
}

TEST_F(RequestTest, AbortDropsTheAttemptWithoutAResult)
{
  LogCapture log;
  TestService service;
  service.Serve("/doc", Answer::Silent());
  QSignalSpy closed(&service, &TestService::ConnectionClosed);
  auto request = Make(service.Url("/doc"));
  request->SetTimeout(std::chrono::milliseconds(60000));
  request->Abort(); // nothing in flight: no log line
  request->Send();
  ASSERT_TRUE(service.WaitForRequests(1));
  request->Abort();
  EXPECT_TRUE(request->IsIdle());
  ASSERT_TRUE(closed.wait(20000));
  QCoreApplication::processEvents();
  EXPECT_TRUE(sink.results.empty());
  EXPECT_EQ(log.Count("Aborting request"), 1);
}

TEST_F(RequestTest, ASecondSendWhileInFlightIsRefused)
{
  LogCapture log;
  TestService service;
  service.Serve("/doc", Answer::Ok(kResource));
  auto request = Make(service.Url("/doc"));
  request->Send();
  request->Send();
  WaitForResults();
  EXPECT_EQ(service.RequestCount(), 1);
  EXPECT_EQ(sink.results, std::vector<Result>{Result::Ok});
  EXPECT_EQ(out.str(), kResource.toStdString());
  EXPECT_TRUE(log.Contains("Request is already in progress"));
}

TEST_F(RequestTest, AThrowingStreamEndsTheRequestWithIOError)
{
  LogCapture log;
  TestService service;
  service.Serve("/doc", Answer::Ok(kResource));
  ThrowingBuffer buffer;
  std::ostream stream(&buffer);
  stream.exceptions(std::ios::badbit);
  Probe request(manager, service.Url("/doc"), {}, {}, sink, stream);
  request.Send();
  WaitForResults();
  EXPECT_EQ(sink.results, std::vector<Result>{Result::IOError});
  EXPECT_TRUE(sink.data.empty());
  EXPECT_TRUE(request.IsIdle());
  EXPECT_TRUE(log.Contains("Failed to write data: cannot create file"));
}

TEST_F(RequestTest, AStreamThatFailsQuietlyEndsTheRequestWithIOError)
{
  // Without an exception mask the stream only records the failure; the
  // request must not report Ok over a body that was never written.
  TestService service;
  service.Serve("/doc", Answer::Ok(kResource));
  FullBuffer buffer;
  std::ostream stream(&buffer);
  Probe request(manager, service.Url("/doc"), {}, {}, sink, stream);
  request.Send();
  WaitForResults();
  EXPECT_EQ(sink.results, std::vector<Result>{Result::IOError});
}

TEST_F(RequestTest, ASinkMayDeleteTheRequestFromItsResult)
{
  TestService service;
  service.Serve("/doc", Answer::Ok(kResource));
  auto request = Make(service.Url("/doc"));
  sink.onResult = [&](Result) { request.reset(); };
  request->Send();
  WaitForResults();
  EXPECT_EQ(request, nullptr);
  EXPECT_EQ(sink.results, std::vector<Result>{Result::Ok});
}
