#include "Files.h"

#include "Logger.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <csignal>
#include <cstdlib>
#include <iostream>
#include <sstream>

namespace TestSupport {

bool WriteFile(const QString& path, const QByteArray& content)
{
  QDir().mkpath(QFileInfo(path).absolutePath());
  QSaveFile file(path);
  return file.open(QIODevice::WriteOnly) && file.write(content) == content.size() && file.commit();
}

QByteArray ReadFile(const QString& path)
{
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray Md5Hex(const QByteArray& data)
{
  return QCryptographicHash::hash(data, QCryptographicHash::Md5).toHex();
}

std::string OpenBelow(const QString& folder)
{
  const QString root = QFileInfo(folder).canonicalFilePath();
  QStringList open;
  QDir fds("/proc/self/fd");
  for (const QString& fd : fds.entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System)) {
    const QString target = QFile::symLinkTarget(fds.filePath(fd));
    if (target == root || target.startsWith(root + "/"))
      open << target;
  }
  return open.join(", ").toStdString();
}

std::map<std::string, std::string> Listing(const QString& root)
{
  std::map<std::string, std::string> entries;
  const QDir base(root);
  for (QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                       QDirIterator::Subdirectories);
       it.hasNext();) {
    const QFileInfo info(it.next());
    std::string& kind = entries[base.relativeFilePath(info.filePath()).toStdString()];
    if (info.isSymLink())
      kind = "symlink";
    else if (info.isDir())
      kind = "dir";
    else if (info.isFile())
      kind = "file:" + Md5Hex(ReadFile(info.filePath())).toStdString();
    else
      kind = "other";
  }
  return entries;
}

ScopedEnv::ScopedEnv(const char* name, const QString& value)
    : name(name), had(qEnvironmentVariableIsSet(name)), old(qgetenv(name))
{
  value.isNull() ? qunsetenv(name) : qputenv(name, QFile::encodeName(value));
}

void RunUnderFileSizeLimit(rlim_t bytes, const std::function<void()>& body)
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

} // namespace TestSupport
