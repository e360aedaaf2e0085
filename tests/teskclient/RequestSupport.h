#pragma once

// What the client's tests share: a sink that records a request's reports, a
// request that shows its protected state, an output stream held at a gate
// (a slow stick) or failing, and the common set-up of the request tests.

#include "AsyncRequest.h"
#include "TestService.h"
#include "TimeScale.h"

#include <QNetworkAccessManager>
#include <QSslConfiguration>

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <sstream>
#include <stdexcept>

using Result = Tesk::IResponse::Result;
using Results = std::vector<Result>;
using Strings = QMap<QString, QString>;
using TestSupport::Answer;
using TestSupport::RecordedRequest;
using TestSupport::TestService;
using TestSupport::WaitFor;

// Records what a request reports. With `request` set it passes the running
// total back, as the map download does.
struct Sink : Tesk::IResponse
{
  void OnProgress(qint64, qint64) override {}
  void OnData(qint64 bytes) override
  {
    dataAfterResult = dataAfterResult || !results.empty();
    data.push_back(bytes);
    total += bytes;
    if (request)
      request->GetDownloadedbytes(total);
  }
  void OnResult(Result result) override
  {
    results.push_back(result);
    if (onResult)
      onResult(result);
  }
  bool Wait(std::size_t count = 1)
  {
    return WaitFor([&] { return results.size() >= count; }, 120000);
  }
  // Waits for `count` results and returns all there are by then.
  Results Outcome(std::size_t count = 1)
  {
    Wait(count);
    return results;
  }

  Results results;
  std::vector<qint64> data;
  qint64 total = 0;
  bool dataAfterResult = false;
  Tesk::IRequest* request = nullptr;
  std::function<void(Result)> onResult;
};

// A request that shows its protected state.
class Probe : public Tesk::Request
{
public:
  using Tesk::Request::Request;
  int RetryDuration() const { return retryDuration; }
  bool AutoRetryRunning() const { return autoRetryRunning; }
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
  // Sends, or resumes from the stream's position, and returns the results
  // once there are `count`.
  Results Run(bool resume = false, std::size_t count = 1)
  {
    resume ? (void)request->Retry() : request->Send();
    return sink.Outcome(count);
  }
  Probe* operator->() const { return request.get(); }

  Sink sink;
  std::ostringstream out;
  std::unique_ptr<Probe> request; // last: it goes first
};

// Common ground of the request tests: timings a hundredth of the shipped ones,
// no proxy from the environment, the process's TLS configuration restored.
class RequestFixture : public ::testing::Test
{
protected:
  void SetUp() override
  {
    for (const char* name :
         {"https_proxy", "http_proxy", "all_proxy", "HTTPS_PROXY", "HTTP_PROXY", "ALL_PROXY"})
      qunsetenv(name);
  }
  void TearDown() override { QSslConfiguration::setDefaultConfiguration(tls); }

  TestSupport::TimeScale scale{0.01};
  QNetworkAccessManager manager;
  QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
};

// A stream buffer that keeps what is written in memory. Writes wait at a gate
// while it is closed (a slow stick), and fail from a given byte on or when
// flushed, by throwing or by taking nothing.
class MemoryBuffer : public std::streambuf
{
public:
  void Close() { Set(open, false); }
  void Open() { Set(open, true); }
  void FailAt(long long byte, bool throwing) { Set(throwOnFailure, throwing), Set(failAt, byte); }
  void FailOnSync() { Set(failOnSync, true); }
  std::string Bytes() { return Get(bytes); }
  long long Size() { return static_cast<long long>(Get(bytes).size()); }
  // Writes waiting at the gate now, and the writes made.
  int Waiting() { return Get(waiting); }
  std::size_t Writes() { return Get(writes); }

protected:
  std::streamsize xsputn(const char* data, std::streamsize size) override
  {
    std::unique_lock<std::mutex> lock(mutex);
    ++waiting;
    changed.wait(lock, [this] { return open; });
    --waiting;
    ++writes;
    if (failAt >= 0 && static_cast<long long>(bytes.size()) + size > failAt) {
      if (throwOnFailure)
        throw std::runtime_error("the stick refused the write");
      return 0; // the stream turns a short write into its bad state
    }
    bytes.append(data, static_cast<std::size_t>(size));
    return size;
  }
  int sync() override
  {
    if (Get(failOnSync))
      throw std::runtime_error("the stick failed when flushed");
    return 0;
  }
  pos_type seekoff(off_type, std::ios_base::seekdir, std::ios_base::openmode) override { return Size(); }

private:
  template <typename T>
  T Get(const T& field)
  {
    std::lock_guard<std::mutex> lock(mutex);
    return field;
  }
  template <typename T>
  void Set(T& field, T value)
  {
    std::lock_guard<std::mutex> lock(mutex);
    field = value;
    changed.notify_all();
  }

  std::mutex mutex;
  std::condition_variable changed;
  bool open = true;
  int waiting = 0;
  long long failAt = -1;
  bool throwOnFailure = true;
  bool failOnSync = false;
  std::string bytes;
  std::size_t writes = 0;
};

struct MemoryStream : std::ostream
{
  MemoryStream() : std::ostream(nullptr) { rdbuf(&buffer); }
  MemoryBuffer buffer;
};
