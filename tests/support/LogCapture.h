#pragma once

#include "ILogger.h"

#include <QTemporaryDir>

#include <memory>
#include <vector>

// Captures every log record written while it lives into a temporary folder.
// Each read flushes what is queued and goes on capturing; a message is the
// text after the last " | " of the record's header.
class LogCapture
{
public:
  LogCapture();

  // Whole record lines, in writing order.
  std::vector<std::string> Lines();
  // The messages alone.
  std::vector<std::string> Messages();
  // True when some message equals text.
  bool Contains(const std::string& text) { return Count(text) > 0; }
  // How many messages equal text.
  int Count(const std::string& text);
  // True when some message holds text anywhere in it.
  bool Mentions(const std::string& text) { return !Matching(text).empty(); }
  // The lines whose message holds text.
  std::vector<std::string> Matching(const std::string& text);

  // The message part of a record line.
  static std::string MessageOf(const std::string& line);
  // The record lines of every log file in `folder`, in file name order.
  static std::vector<std::string> LinesIn(const std::string& folder);

private:
  QTemporaryDir dir;
  std::unique_ptr<Log::ILogger> logger;
};
