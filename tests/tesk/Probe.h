#pragma once

#include "Request.h"
#include "Sink.h"
#include "TestService.h"

#include <QNetworkAccessManager>
#include <QSslConfiguration>

#include <gtest/gtest.h>

#include <memory>
#include <sstream>

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

// Common ground of the request tests: a network access manager, the shipped
// timings (a test shortens them itself), no proxy from the environment, and
// the process's default TLS configuration restored afterwards.
class RequestFixture : public ::testing::Test
{
protected:
  void SetUp() override
  {
    Tesk::Request::SetTimeScaleForTesting(1.0);
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

  std::unique_ptr<Probe> Make(const QString& url, const QMap<QString, QString>& arguments = {},
                              const QMap<QString, QString>& headers = {})
  {
    return std::make_unique<Probe>(manager, url, headers, arguments, sink, out);
  }

  // Runs until the sink has `count` results.
  void WaitForResults(size_t count = 1) { ASSERT_TRUE(sink.WaitForResults(count)) << "no result arrived"; }

  QNetworkAccessManager manager;
  Sink sink;
  std::ostringstream out;
  QSslConfiguration tls;
};
