#pragma once

#include "ILogger.h"

#include <boost/log/sinks/async_frontend.hpp>
#include <boost/log/sinks/text_ostream_backend.hpp>
#include <boost/shared_ptr.hpp>

namespace Log {

// Asynchronous sink that writes the record lines to std::clog.
class ConsoleLogger : public ILogger
{
public:
  ConsoleLogger();
  ~ConsoleLogger() override;

  void SetMinimumLevel(Severity level) override;

private:
  using Sink = boost::log::sinks::asynchronous_sink<boost::log::sinks::text_ostream_backend>;
  boost::shared_ptr<Sink> sink;
};

} // namespace Log
