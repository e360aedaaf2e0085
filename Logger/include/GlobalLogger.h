#pragma once

#include <boost/log/expressions/keyword.hpp>
#include <boost/log/sources/global_logger_storage.hpp>
#include <boost/log/sources/severity_channel_logger.hpp>

#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>

namespace Log {

// Severity of a record, least to most severe. Sinks keep the records whose
// severity is at or above their minimum.
enum Severity
{
  Debug = 0,
  Info = 1,
  Warning = 2,
  Error = 3
};

// Writes "Debug", "Info", "Warning" or "Error" through the formatted-output
// path (a width set on the stream pads the name); other values write nothing.
std::ostream& operator<<(std::ostream& os, Severity severity);

// Reads one blank-delimited word; only an exact severity name changes the value.
std::istream& operator>>(std::istream& is, Severity& severity);

// The severity whose name is exactly `name`, or nothing.
std::optional<Severity> SeverityNamed(std::string_view name);

using LoggerType = boost::log::sources::severity_channel_logger_mt<Severity, std::string>;

// The process-wide logger. Its construction switches the logging core off:
// only the sink factories switch it on again.
BOOST_LOG_GLOBAL_LOGGER(g_lg, LoggerType)

namespace tag {
BOOST_LOG_ATTRIBUTE_KEYWORD(g_LogAttrSeverity, "Severity", ::Log::Severity)
BOOST_LOG_ATTRIBUTE_KEYWORD(g_LogAttrChannel, "Channel", std::string)
BOOST_LOG_ATTRIBUTE_KEYWORD(g_LogAttrFile, "File", std::string)
BOOST_LOG_ATTRIBUTE_KEYWORD(g_LogAttrLine, "Line", int)
BOOST_LOG_ATTRIBUTE_KEYWORD(g_LogAttrFunction, "Function", std::string)
} // namespace tag

// Shortens compiler-generated lambda names: "A::<lambda_x>::operator ()" gives "A::<lambda>".
std::string removeLambdas(const char* function);

} // namespace Log

std::string removeLambdas(const char* function);
