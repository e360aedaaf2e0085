#pragma once

#include "ILogger.h"

#include <boost/filesystem/path.hpp>

#include <memory>

namespace Log {

// Both factories switch logging on and install a new sink; the caller owns it.
std::unique_ptr<ILogger> CreateFileLogger(const boost::filesystem::path& folder);
std::unique_ptr<ILogger> CreateConsoleLogger();

} // namespace Log
