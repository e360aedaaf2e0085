#pragma once

// Helpers of the application frame's tests: a captured log, a temporarily
// changed environment variable, whole-file reads and writes, and writes cut
// short by a file-size limit.

#include "Logger.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QTemporaryDir>

#include <csignal>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <memory>
#include <sstream>

#include <sys/resource.h>

namespace FrameTest {

inline QByteArray ReadFile(const QString& path)
{
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline bool WriteFile(const QString& path, const QByteArray& content)
{
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile file(path);
  return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

// The record lines of every log file in `folder`, in file name order.
inline QStringList LogLines(const QString& folder)
{
  QStringList lines;
  for (const QString& name : QDir(folder).entryList({"*.log"}, QDir::Files, QDir::Name))
    lines += QString::fromUtf8(ReadFile(folder + "/" + name)).split('\n', Qt::SkipEmptyParts);
  return lines;
}

// The message parts (after the last " | ") of record lines.
inline QStringList MessagesOf(const QStringList& lines)
{
  QStringList messages;
  for (const QString& line : lines)
    messages += line.mid(line.lastIndexOf(" | ") + 3);
  return messages;
}

// A file sink in a temporary folder; Lines() flushes it and returns every
// record line written so far.
class CapturedLog
{
public:
  CapturedLog() : logger(Log::CreateFileLogger(dir.path().toStdString())) {}

  QStringList Lines()
  {
    logger.reset();
    const QStringList lines = LogLines(dir.path());
    logger = Log::CreateFileLogger(dir.path().toStdString());
    return lines;
  }

  QStringList Messages() { return MessagesOf(Lines()); }

  // The lines whose message part contains `text`.
  QStringList Matching(const QString& text)
  {
    QStringList found;
    for (const QString& line : Lines())
      if (line.mid(line.lastIndexOf(" | ") + 3).contains(text))
        found += line;
    return found;
  }

private:
  QTemporaryDir dir;
  std::unique_ptr<Log::ILogger> logger;
};

// Sets an environment variable for the lifetime of the object.
class ScopedEnv
{
public:
  ScopedEnv(const char* name, const QString& value)
      : name(name), had(qEnvironmentVariableIsSet(name)), old(qgetenv(name))
  {
    qputenv(name, QFile::encodeName(value));
  }
  ~ScopedEnv() { had ? qputenv(name, old) : qunsetenv(name); }

private:
  const char* name;
  bool had;
  QByteArray old;
};

// For a death test (EXPECT_EXIT): runs `body` with files limited to `bytes`,
// so that every longer write comes up short, its log going to a console sink
// that is handed to standard error once the limit is lifted. Exits with 0.
[[noreturn]] inline void RunUnderFileSizeLimit(rlim_t bytes, const std::function<void()>& body)
{
  std::ostringstream captured;
  std::streambuf* old = std::clog.rdbuf(captured.rdbuf());
  auto logger = Log::CreateConsoleLogger();
  std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit saved;
  getrlimit(RLIMIT_FSIZE, &saved);
  struct rlimit limited = saved;
  limited.rlim_cur = bytes;
  setrlimit(RLIMIT_FSIZE, &limited);
  body();
  logger.reset();
  setrlimit(RLIMIT_FSIZE, &saved);
  std::clog.rdbuf(old);
  std::cerr << captured.str() << std::flush;
  std::exit(0);
}

} // namespace FrameTest
