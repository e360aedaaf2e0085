#include "GlobalLogger.h"

#include "EnumNames.h"

#include <boost/log/core/core.hpp>
#include <boost/log/sinks/sync_frontend.hpp>
#include <boost/log/sinks/text_ostream_backend.hpp>

#include <istream>
#include <ostream>
#include <regex>

namespace Log {

namespace {
const EnumName<Severity> SeverityNames[] = {ENUM_NAME(Severity, Debug), ENUM_NAME(Severity, Info),
                                            ENUM_NAME(Severity, Warning), ENUM_NAME(Severity, Error)};
}

std::ostream& operator<<(std::ostream& os, Severity severity)
{
  return WriteName(os, severity, SeverityNames);
}

std::istream& operator>>(std::istream& is, Severity& severity)
{
  std::string word;
  is >> word;
  if (const auto value = SeverityNamed(word))
    severity = *value;
  return is;
}

std::optional<Severity> SeverityNamed(std::string_view name)
{
  return ValueOf(name, SeverityNames);
}

BOOST_LOG_GLOBAL_LOGGER_INIT(g_lg, LoggerType)
{
  auto core = boost::log::core::get();
  core->set_logging_enabled(false);
  // Boost.Log writes to the console through a default sink whenever no sink is
  // installed; a sink that accepts nothing keeps records nowhere instead.
  auto refuseAll =
      boost::make_shared<boost::log::sinks::synchronous_sink<boost::log::sinks::text_ostream_backend>>();
  refuseAll->set_filter([](const boost::log::attribute_value_set&) { return false; });
  core->add_sink(refuseAll);
  return LoggerType(boost::log::keywords::channel = std::string("Unknown"));
}

std::string removeLambdas(const char* function)
{
  static const std::regex lambda(R"(<lambda_(\w)+>::operator\s\(\))", std::regex::ECMAScript);
  return std::regex_replace(function, lambda, "<lambda>");
}

} // namespace Log

std::string removeLambdas(const char* function)
{
  return Log::removeLambdas(function);
}
