#include "LogCapture.h"

#include "Logger.h"

#include <boost/filesystem.hpp>

#include <algorithm>
#include <fstream>

namespace fs = boost::filesystem;

namespace {
// Record header: time stamp | severity | channel | file:line | function | message.
constexpr int HeaderFields = 5;
} // namespace

LogCapture::LogCapture() : logger(Log::CreateFileLogger(fs::path(dir.path().toStdString()) / "Logs")) {}

LogCapture::~LogCapture() = default;

void LogCapture::Close()
{
  if (!logger)
    return;
  logger.reset();
  const fs::path folder = fs::path(dir.path().toStdString()) / "Logs";
  std::vector<fs::path> files;
  if (fs::exists(folder))
    for (const auto& entry : fs::directory_iterator(folder))
      files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  for (const auto& file : files) {
    std::ifstream in(file.string(), std::ios::binary);
    for (std::string line; std::getline(in, line);)
      lines.push_back(line);
  }
}

std::vector<std::string> LogCapture::Lines()
{
  Close();
  return lines;
}

std::vector<std::string> LogCapture::Messages()
{
  Close();
  std::vector<std::string> messages;
  for (const auto& line : lines) {
    std::size_t at = 0;
    for (int field = 0; field < HeaderFields && at != std::string::npos; ++field) {
      at = line.find(" | ", at);
      if (at != std::string::npos)
        at += 3;
    }
    messages.push_back(at == std::string::npos ? line : line.substr(at));
  }
  return messages;
}

bool LogCapture::Contains(const std::string& text)
{
  return Count(text) > 0;
}

int LogCapture::Count(const std::string& text)
{
  const auto messages = Messages();
  return static_cast<int>(std::count(messages.begin(), messages.end(), text));
}

bool LogCapture::Mentions(const std::string& text)
{
  const auto messages = Messages();
  return std::any_of(messages.begin(), messages.end(),
                     [&](const std::string& message) { return message.find(text) != std::string::npos; });
}
