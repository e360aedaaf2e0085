#pragma once

#include "GlobalLogger.h"

#include <boost/log/core/record_view.hpp>
#include <boost/log/expressions/filter.hpp>
#include <boost/log/utility/formatting_ostream.hpp>

namespace Log {

// Lays a record out as one line:
// "2024-03-07 14:05:09.123456 |    Info |             ZEV |   File.cpp:   41 |  Function | message"
// Widths are minimums (7, 15, 25, 5, 40); values are right-aligned and never cut.
class RecordFormatter
{
public:
  void operator()(const boost::log::record_view& record, boost::log::formatting_ostream& out) const;

  // The sinks' filter: a record passes when it has a severity at or above `level`.
  static boost::log::filter MinimumSeverity(Severity level);
};

} // namespace Log
