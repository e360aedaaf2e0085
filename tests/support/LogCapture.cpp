#include "LogCapture.h"

#include "Files.h"
#include "Logger.h"

#include <QDir>

#include <algorithm>
#include <sstream>

LogCapture::LogCapture() : logger(Log::CreateFileLogger(dir.path().toStdString())) {}

std::vector<std::string> LogCapture::LinesIn(const std::string& folder)
{
  std::vector<std::string> lines;
  const QDir dir(QString::fromStdString(folder));
  for (const QString& name : dir.entryList({QStringLiteral("*.log")}, QDir::Files, QDir::Name)) {
    std::istringstream in(TestSupport::ReadFile(dir.filePath(name)).toStdString());
    for (std::string line; std::getline(in, line);)
      lines.push_back(line);
  }
  return lines;
}

std::vector<std::string> LogCapture::Lines()
{
  logger.reset(); // writes what is queued
  const auto lines = LinesIn(dir.path().toStdString());
  // A file opened again within the same second is appended to.
  logger = Log::CreateFileLogger(dir.path().toStdString());
  return lines;
}

std::string LogCapture::MessageOf(const std::string& line)
{
  // time stamp | severity | channel | file:line | function | message
  std::size_t at = 0;
  for (int field = 0; field < 5 && at != std::string::npos; ++field)
    if ((at = line.find(" | ", at)) != std::string::npos)
      at += 3;
  return at == std::string::npos ? line : line.substr(at);
}

std::vector<std::string> LogCapture::Messages()
{
  std::vector<std::string> messages;
  for (const auto& line : Lines())
    messages.push_back(MessageOf(line));
  return messages;
}

int LogCapture::Count(const std::string& text)
{
  const auto messages = Messages();
  return static_cast<int>(std::count(messages.begin(), messages.end(), text));
}

std::vector<std::string> LogCapture::Matching(const std::string& text)
{
  std::vector<std::string> found;
  for (const auto& line : Lines())
    if (MessageOf(line).find(text) != std::string::npos)
      found.push_back(line);
  return found;
}
