#pragma once

#include "IResponse.h"
#include "Request.h"
#include "TestService.h"

#include <QNetworkAccessManager>
#include <QSslConfiguration>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <numeric>
#include <sstream>

using Result = Tesk::IResponse::Result;
using Strings = QMap<QString, QString>;
using TestSupport::Answer;
using TestSupport::TestService;

// An IResponse that records what a request reports.
struct Sink : Tesk::IResponse
{
  std::vector<Result> results;
  std::vector<qint64> data;
  qint64 lastTotal = 0;
  std::function<void(Result)> onResult;

  void OnProgress(qint64, qint64 total) override { lastTotal = total; }
  void OnData(qint64 bytes) override { data.push_back(bytes); }
  void OnResult(Result result) override
  {
    results.push_back(result);
    if (onResult)
      onResult(result);
  }
  qint64 DataTotal() const { return std::accumulate(data.begin(), data.end(), qint64(0)); }
  bool Wait(size_t count = 1)
  {
    return TestSupport::WaitFor([&] { return results.size() >= count; }, 60000);
  }
};

// A Request that shows its protected state to the tests.
class Probe : public Tesk::Request
{
public:
  using Tesk::Request::Request;

  int RetryDuration() const { return retryDuration; }
  bool AutoRetryRunning() const { return autoRetryRunning; }
  bool IsDownload() const { return isDownload; }
  const QNetworkRequest& Wire() const { return request; }
  bool InFlight() const { return reply != nullptr; }
};

// A request with a sink and a stream of its own (or the stream given).
struct Call
{
  Call(QNetworkAccessManager& manager, const QString& url, const Strings& arguments = {},
       const Strings& headers = {}, std::ostream* stream = nullptr)
      : request(std::make_unique<Probe>(manager, url, headers, arguments, sink, stream ? *stream : out))
  {
  }
  // Sends, or resumes from the stream's position, and waits for `count` results.
  bool Run(bool resume = false, size_t count = 1)
  {
    resume ? (void)request->Retry() : request->Send();
    return sink.Wait(count);
  }
  Probe* operator->() const { return request.get(); }

  Sink sink;
  std::ostringstream out;
  std::unique_ptr<Probe> request; // last: it goes first
};

// Common ground of the request tests: a network access manager, timings a
// hundredth of the shipped ones, no proxy from the environment, and the
// process's default TLS configuration restored afterwards.
class RequestFixture : public ::testing::Test
{
protected:
  void SetUp() override
  {
    Tesk::Request::SetTimeScaleForTesting(0.01);
    for (const char* name :
         {"https_proxy", "http_proxy", "all_proxy", "HTTPS_PROXY", "HTTP_PROXY", "ALL_PROXY"})
      qunsetenv(name);
    tls = QSslConfiguration::defaultConfiguration();
  }
  void TearDown() override
  {
    Tesk::Request::SetTimeScaleForTesting(1.0);
    QSslConfiguration::setDefaultConfiguration(tls);
  }

  QNetworkAccessManager manager;
  QSslConfiguration tls;
};
