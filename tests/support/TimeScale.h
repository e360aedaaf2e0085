#pragma once

#include "Request.h"

namespace TestSupport {

// Every timer of the service client (inactivity, retry window, pauses) runs
// for its length times `factor` while this lives; the factor in force before
// comes back afterwards.
class TimeScale
{
public:
  explicit TimeScale(double factor) : previous(current)
  {
    Tesk::Request::SetTimeScaleForTesting(current = factor);
  }
  ~TimeScale() { Tesk::Request::SetTimeScaleForTesting(current = previous); }
  TimeScale(const TimeScale&) = delete;
  TimeScale& operator=(const TimeScale&) = delete;

private:
  static inline double current = 1.0;
  double previous;
};

} // namespace TestSupport
