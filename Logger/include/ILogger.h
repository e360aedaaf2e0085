#pragma once

#include "GlobalLogger.h"

namespace Log {

// Owner of one installed log sink. Deleting it writes what is still queued and
// uninstalls the sink.
class ILogger
{
public:
  virtual ~ILogger() = default;
  virtual void SetMinimumLevel(Severity level) = 0;
};

} // namespace Log
