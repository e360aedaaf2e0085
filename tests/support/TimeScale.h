#pragma once

#include "Request.h"

namespace TestSupport {

// Every timer of the service client (inactivity, retry window, pauses) runs
// for its length times `factor` while this lives.
struct TimeScale
{
  explicit TimeScale(double factor) { Tesk::Request::SetTimeScaleForTesting(factor); }
  ~TimeScale() { Tesk::Request::SetTimeScaleForTesting(1.0); }
  TimeScale(const TimeScale&) = delete;
  TimeScale& operator=(const TimeScale&) = delete;
};

} // namespace TestSupport
