#include "platform/Platform.h"

#include "Log.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

namespace Platform {

const char* const ApplicationId = "com.arvel.lumora";

namespace {

const char* const LaunchAgentTemplate = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                        "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                                        "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                                        "<plist version=\"1.0\">\n"
                                        "<dict>\n"
                                        "\t<key>Label</key>\n"
                                        "\t<string>Lumora</string>\n"
                                        "\t<key>ProgramArguments</key>\n"
                                        "\t<array>\n"
                                        "\t<string>open</string>\n"
                                        "\t<string>%1</string>\n"
                                        "\t</array>\n"
                                        "\t<key>RunAtLoad</key>\n"
                                        "\t<%2/>\n"
                                        "</dict>\n"
                                        "</plist>";

QString EscapeXml(const QString& text)
{
  QString escaped;
  escaped.reserve(text.size());
  for (const QChar c : text) {
    switch (c.unicode()) {
    case '&':
      escaped += QLatin1String("&amp;");
      break;
    case '<':
      escaped += QLatin1String("&lt;");
      break;
    case '>':
      escaped += QLatin1String("&gt;");
      break;
    case '"':
      escaped += QLatin1String("&quot;");
      break;
    case '\'':
      escaped += QLatin1String("&apos;");
      break;
    default:
      escaped += c;
    }
  }
  return escaped;
}

// One argument of a desktop entry's Exec key: quoted when it holds a reserved
// character, with the quoting rules applied inside the quotes.
QString QuoteExecArgument(const QString& argument)
{
  static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
  bool needsQuotes = argument.isEmpty();
  for (const QChar c : argument)
    needsQuotes = needsQuotes || reserved.contains(c);
  QString quoted;
  if (needsQuotes) {
    quoted += QLatin1Char('"');
    for (const QChar c : argument) {
      if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\'))
        quoted += QLatin1Char('\\');
      quoted += c;
    }
    quoted += QLatin1Char('"');
  } else {
    quoted = argument;
  }
  // "%" starts a field code.
  quoted.replace(QLatin1Char('%'), QLatin1String("%%"));
  return quoted;
}

// The escapes of a desktop entry's string values.
QString EscapeDesktopValue(const QString& value)
{
  QString escaped;
  for (const QChar c : value) {
    switch (c.unicode()) {
    case '\\':
      escaped += QLatin1String("\\\\");
      break;
    case '\n':
      escaped += QLatin1String("\\n");
      break;
    case '\t':
      escaped += QLatin1String("\\t");
      break;
    case '\r':
      escaped += QLatin1String("\\r");
      break;
    default:
      escaped += c;
    }
  }
  return escaped;
}

// Creates `folder` and replaces `fileName` in it with `text`. The file is
// written beside its final name and renamed into place, so an earlier file
// survives any failure whole. False, with the failure logged, when it could
// not be written.
bool WriteStartupFile(const QString& folder, const QString& fileName, const QString& text)
{
  if (!QDir().mkpath(folder)) {
    LOG(Error) << "Failed to create start-up directory";
    return false;
  }
  const QString path = folder + fileName;
  LOG(Debug) << "Updating start-up file: " << path;

  QSaveFile file(path);
  // Unbuffered, so that a short write shows in the count that write() returns.
  if (!file.open(QIODevice::WriteOnly | QIODevice::Text | QIODevice::Unbuffered)) {
    LOG(Error) << "Failed to open start-up file";
    return false;
  }
  const QByteArray bytes = text.toUtf8();
  const qint64 written = file.write(bytes);
  if (written != bytes.size()) {
    LOG(Error) << "Failed to write start-up file: " << path << ", " << file.errorString();
    file.cancelWriting();
    return false;
  }
  if (!file.commit()) {
    LOG(Error) << "Failed to write start-up file: " << path << ", " << file.errorString();
    return false;
  }
  return true;
}

} // namespace

QString LaunchAgentText(const QString& bundlePath, bool enabled)
{
  return QString::fromUtf8(LaunchAgentTemplate)
      .arg(EscapeXml(bundlePath))
      .arg(enabled ? QStringLiteral("true") : QStringLiteral("false"));
}

QString BundlePath(const QString& executablePath)
{
  const int contents = executablePath.indexOf(QLatin1String("/Contents/"));
  return contents < 0 ? executablePath : executablePath.left(contents);
}

QString InstallationDirectoryOf(const QString& executableDir)
{
  // Only a last folder named "MacOS" marks the bundle layout; the name
  // elsewhere in the path (a user called MacOS, a folder MacOSX) does not.
  QString dir = executableDir;
  while (dir.size() > 1 && dir.endsWith(QLatin1Char('/')))
    dir.chop(1);
  if (dir == QLatin1String("MacOS") || dir.endsWith(QLatin1String("/MacOS")))
    return dir.left(dir.size() - 5);
  return executableDir;
}

QString AutostartEntryText(const QString& executablePath, bool enabled)
{
  return QStringLiteral("[Desktop Entry]\n"
                        "Type=Application\n"
                        "Name=Lumora\n"
                        "Exec=%1\n"
                        "X-GNOME-Autostart-enabled=%2\n")
      .arg(EscapeDesktopValue(QuoteExecArgument(executablePath)),
           enabled ? QStringLiteral("true") : QStringLiteral("false"));
}

QString LaunchAgentFolder()
{
  return QDir::homePath() + QStringLiteral("/Library/LaunchAgents/");
}

QString AutostartFolder()
{
  QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
  // Relative values are invalid and must be ignored.
  if (config.isEmpty() || !QDir::isAbsolutePath(config))
    config = QDir::homePath() + QStringLiteral("/.config");
  return config + QStringLiteral("/autostart/");
}

} // namespace Platform

bool SetRunAtStartupOS(bool enabled)
{
  const QString executable = QCoreApplication::applicationFilePath();
  const QString fileName = QString::fromLatin1(Platform::ApplicationId);
#ifdef Q_OS_MACOS
  return Platform::WriteStartupFile(Platform::LaunchAgentFolder(), fileName + QStringLiteral(".plist"),
                                    Platform::LaunchAgentText(Platform::BundlePath(executable), enabled));
#else
  // Nothing but the desktop's session reads start-up files here: the XDG
  // autostart entry alone.
  return Platform::WriteStartupFile(Platform::AutostartFolder(), fileName + QStringLiteral(".desktop"),
                                    Platform::AutostartEntryText(executable, enabled));
#endif
}

QString InstallationDirectory()
{
  return Platform::InstallationDirectoryOf(QCoreApplication::applicationDirPath());
}

qint64 GetFreeDiskSpace(const QString& path)
{
  if (path.isEmpty())
    return -1;
  struct statvfs info;
  if (::statvfs(QFile::encodeName(path).constData(), &info) != 0)
    return -1;
  return static_cast<qint64>(info.f_bavail) * static_cast<qint64>(info.f_frsize);
}

bool SetTime(const QString& path, const QDateTime& time, bool)
{
  LOG(Info) << "Setting time attribute";
  if (!QFile::exists(path) || path.isEmpty() || !time.isValid())
    return false;

  // No Linux file system lets anyone set the birth time; the modification
  // time stands in for it. utimensat works on folders as well as files.
  const qint64 ms = time.toMSecsSinceEpoch();
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = static_cast<time_t>(ms / 1000 - (ms % 1000 < 0 ? 1 : 0));
  times[1].tv_nsec = static_cast<long>(((ms % 1000) + 1000) % 1000) * 1000000L;
  return ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0) == 0;
}

QDateTime GetTime(const QString& path, bool)
{
  if (!QFile::exists(path) || path.isEmpty())
    return QDateTime();
  const QFileInfo info(path);
  const QDateTime birth = info.birthTime();
  return birth.isValid() ? birth : info.lastModified();
}
