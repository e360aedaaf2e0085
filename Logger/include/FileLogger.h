#pragma once

#include "ILogger.h"

#include <boost/filesystem/path.hpp>
#include <boost/log/sinks/async_frontend.hpp>
#include <boost/log/sinks/text_file_backend.hpp>
#include <boost/shared_ptr.hpp>

namespace Log {

// Asynchronous sink that writes the record lines into "%Y-%m-%d-%H%M%S.log"
// files of one folder, starting a new file before 32 MiB. Files are opened
// for appending, so two files opened within the same second share one file
// instead of truncating each other; no file is ever deleted.
class FileLogger : public ILogger
{
public:
  static constexpr std::uintmax_t RotationSize = 33554432;

  explicit FileLogger(const boost::filesystem::path& folder);
  ~FileLogger() override;

  void SetMinimumLevel(Severity level) override;

private:
  using Sink = boost::log::sinks::asynchronous_sink<boost::log::sinks::text_file_backend>;
  boost::shared_ptr<Sink> sink;
};

} // namespace Log
