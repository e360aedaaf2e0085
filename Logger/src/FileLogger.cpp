#include "FileLogger.h"

#include "RecordFormatter.h"

#include <boost/log/core/core.hpp>
#include <boost/log/sinks/text_file_backend.hpp>
#include <boost/log/utility/setup/common_attributes.hpp>

namespace Log {

FileLogger::FileLogger(const boost::filesystem::path& folder)
{
  namespace keywords = boost::log::keywords;
  namespace sinks = boost::log::sinks;

  auto backend = boost::make_shared<sinks::text_file_backend>(
      keywords::file_name = folder / "%Y-%m-%d-%H%M%S.log", keywords::rotation_size = RotationSize,
      keywords::auto_flush = true, keywords::open_mode = std::ios_base::out | std::ios_base::app,
      keywords::enable_final_rotation = true);
  backend->set_file_collector(sinks::file::make_collector(keywords::target = folder));
  backend->scan_for_files();

  sink = boost::make_shared<Sink>(backend);
  sink->set_formatter(RecordFormatter());
  boost::log::core::get()->add_sink(sink);
}

FileLogger::~FileLogger()
{
  sink->flush();
  boost::log::core::get()->remove_sink(sink);
  sink->stop();
}

void FileLogger::SetMinimumLevel(Severity level)
{
  sink->set_filter(RecordFormatter::MinimumSeverity(level));
}

} // namespace Log
