#include "Logger.h"

#include "ConsoleLogger.h"
#include "FileLogger.h"

#include <boost/log/core/core.hpp>

namespace Log {

namespace {
// The global logger switches logging off when it is built; build it first so
// that it cannot undo the switch of a factory that runs before any record.
void EnableLogging()
{
  g_lg::get();
  boost::log::core::get()->set_logging_enabled(true);
}
} // namespace

std::unique_ptr<ILogger> CreateFileLogger(const boost::filesystem::path& folder)
{
  EnableLogging();
  return std::make_unique<FileLogger>(folder);
}

std::unique_ptr<ILogger> CreateConsoleLogger()
{
  EnableLogging();
  return std::make_unique<ConsoleLogger>();
}

} // namespace Log
