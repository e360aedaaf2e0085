#pragma once

// The log statement of the whole system:
//
//     LOG(Warning) << "Failed to get space info of path: " << path << ", " << ec.message();
//
// The channel is fixed per library: "ZEV" for the application, "TeslClient"
// for the service client (its targets define LUMORA_LOG_CHANNEL). Nothing of
// the message is evaluated unless a sink will write the record.

#include "GlobalLogger.h"

#include <boost/filesystem/path.hpp>
#include <boost/log/sources/record_ostream.hpp>

#include <QString>

#include <ostream>

#ifndef LUMORA_LOG_CHANNEL
#define LUMORA_LOG_CHANNEL "ZEV"
#endif

namespace Log::detail {

// Opens a record on the global logger with the given channel and severity and
// adds the time stamp, file, line and function values. Empty when logging is
// off or no sink accepts the record.
boost::log::record OpenRecord(const char* channel, Severity severity, const char* file, int line,
                              const char* function);

} // namespace Log::detail

#define LOG_WITH_CHANNEL(channel, severity)                                                                  \
  for (::boost::log::record lumoraLogRecord_ =                                                               \
           ::Log::detail::OpenRecord((channel), (severity), __FILE__, __LINE__, __func__);                   \
       !!lumoraLogRecord_;)                                                                                  \
  ::boost::log::aux::make_record_pump(::Log::g_lg::get(), lumoraLogRecord_).stream()

#define LOG(severity) LOG_WITH_CHANNEL(LUMORA_LOG_CHANNEL, ::Log::severity)

// Qt strings reach the log as UTF-8.
inline std::ostream& operator<<(std::ostream& os, const QString& text)
{
  return os << text.toStdString();
}
