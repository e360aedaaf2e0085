#include "ConsoleLogger.h"

#include "RecordFormatter.h"

#include <boost/core/null_deleter.hpp>
#include <boost/log/core/core.hpp>

#include <iostream>

namespace Log {

ConsoleLogger::ConsoleLogger()
{
  sink = boost::make_shared<Sink>();
  sink->locked_backend()->add_stream(boost::shared_ptr<std::ostream>(&std::clog, boost::null_deleter()));
  sink->set_formatter(RecordFormatter());
  boost::log::core::get()->add_sink(sink);
}

ConsoleLogger::~ConsoleLogger()
{
  sink->flush();
  boost::log::core::get()->remove_sink(sink);
  sink->stop();
}

void ConsoleLogger::SetMinimumLevel(Severity level)
{
  sink->set_filter(RecordFormatter::MinimumSeverity(level));
}

} // namespace Log
