#pragma once

#include "ILogger.h"

#include <QTemporaryDir>

#include <memory>
#include <string>
#include <vector>

// Captures every log record written while it is open into a temporary folder.
// Messages() closes the sink (which writes what is queued) and returns the
// message part of each record, that is the text after the last " | " of the
// record's header, in writing order.
class LogCapture
{
public:
  LogCapture();
  ~LogCapture();

  // Whole record lines.
  std::vector<std::string> Lines();
  // The messages alone.
  std::vector<std::string> Messages();
  // True when some message equals text.
  bool Contains(const std::string& text);
  // How many messages equal text.
  int Count(const std::string& text);
  // True when some message holds text anywhere in it.
  bool Mentions(const std::string& text);

private:
  void Close();

  QTemporaryDir dir;
  std::unique_ptr<Log::ILogger> logger;
  std::vector<std::string> lines;
};
