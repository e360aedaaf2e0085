#include "RecordFormatter.h"

#include "GlobalLogger.h"

#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <boost/log/attributes/value_extraction.hpp>
#include <boost/log/expressions/message.hpp>

#include <cstdio>
#include <sstream>

namespace Log {

namespace {

void WriteRightAligned(boost::log::formatting_ostream& out, const std::string& value, std::size_t width)
{
  if (value.size() < width)
    out << std::string(width - value.size(), ' ');
  out << value;
}

std::string FormatTimeStamp(const boost::posix_time::ptime& time)
{
  if (time.is_special())
    return {};
  const auto date = time.date();
  const auto clock = time.time_of_day();
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%06lld", int(date.year()),
                int(date.month()), int(date.day()), int(clock.hours()), int(clock.minutes()),
                int(clock.seconds()), static_cast<long long>(clock.fractional_seconds()));
  return text;
}

} // namespace

void RecordFormatter::operator()(const boost::log::record_view& record,
                                 boost::log::formatting_ostream& out) const
{
  const auto& values = record.attribute_values();

  if (auto time = boost::log::extract<boost::posix_time::ptime>("TimeStamp", values))
    out << FormatTimeStamp(*time);
  out << " | ";

  std::string severity;
  if (auto value = values[tag::g_LogAttrSeverity]) {
    std::ostringstream name;
    name << *value;
    severity = name.str();
  }
  WriteRightAligned(out, severity, 7);
  out << " | ";

  auto channel = values[tag::g_LogAttrChannel];
  WriteRightAligned(out, channel ? *channel : std::string(), 15);
  out << " | ";

  auto file = values[tag::g_LogAttrFile];
  WriteRightAligned(out, file ? *file : std::string(), 25);
  out << ":";

  auto line = values[tag::g_LogAttrLine];
  WriteRightAligned(out, line ? std::to_string(*line) : std::string(), 5);
  out << " | ";

  auto function = values[tag::g_LogAttrFunction];
  WriteRightAligned(out, function ? *function : std::string(), 40);
  out << " | ";

  if (auto message = values[boost::log::expressions::smessage])
    out << *message;
}

boost::log::filter RecordFormatter::MinimumSeverity(Severity level)
{
  return [level](const boost::log::attribute_value_set& values) {
    const auto severity = values[tag::g_LogAttrSeverity];
    return severity && *severity >= level;
  };
}

} // namespace Log
