#include "Log.h"

#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <boost/log/attributes/attribute_value_impl.hpp>
#include <boost/log/attributes/value_extraction.hpp>
#include <boost/log/core/core.hpp>

#include <cstring>

namespace Log::detail {

boost::log::record OpenRecord(const char* channel, Severity severity, const char* file, int line,
                              const char* function)
{
  auto& logger = g_lg::get();
  if (!boost::log::core::get()->get_logging_enabled())
    return {};

  boost::log::record record = logger.open_record(
      (boost::log::keywords::channel = std::string(channel), boost::log::keywords::severity = severity));
  if (!record)
    return record;

  namespace attrs = boost::log::attributes;
  const char* slash = std::strrchr(file, '/');
  auto& values = record.attribute_values();
  values.insert("TimeStamp", attrs::make_attribute_value(boost::posix_time::microsec_clock::local_time()));
  values.insert("File", attrs::make_attribute_value(std::string(slash ? slash + 1 : file)));
  values.insert("Line", attrs::make_attribute_value(line));
  values.insert("Function", attrs::make_attribute_value(removeLambdas(function)));
  return record;
}

} // namespace Log::detail
