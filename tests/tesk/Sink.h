#pragma once

#include "IResponse.h"

#include "TestService.h"

#include <functional>
#include <vector>

// An IResponse that records what a request reports.
struct Sink : Tesk::IResponse
{
  std::vector<Result> results;
  std::vector<qint64> data;
  int progressCalls = 0;
  qint64 lastTotal = 0;
  std::function<void(Result)> onResult;
  std::function<void(qint64)> onData;

  void OnProgress(qint64, qint64 total) override
  {
    ++progressCalls;
    lastTotal = total;
  }
  void OnData(qint64 bytes) override
  {
    data.push_back(bytes);
    if (onData)
      onData(bytes);
  }
  void OnResult(Result result) override
  {
    results.push_back(result);
    if (onResult)
      onResult(result);
  }

  qint64 DataTotal() const
  {
    qint64 total = 0;
    for (auto bytes : data)
      total += bytes;
    return total;
  }
  bool WaitForResults(size_t count = 1, int timeoutMs = 60000)
  {
    return TestSupport::WaitFor([&] { return results.size() >= count; }, timeoutMs);
  }
};
