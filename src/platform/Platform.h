#pragma once

#include <QDateTime>
#include <QString>
#include <QtGlobal>

// Platform services of the application frame.

// Start at login. Writes the start-up file that the platform's session reads
// at login with the start flag set to `enabled`: on Linux the XDG autostart
// entry ($XDG_CONFIG_HOME/autostart/<id>.desktop, ~/.config by default), on
// macOS the launch-agent property list (~/Library/LaunchAgents/<id>.plist).
// The file is rewritten whole and never deleted. False, with the failure
// logged, when it could not be written; an earlier file then stays whole.
bool SetRunAtStartupOS(bool enabled);

// The folder that holds the application's "res" folder: the executable's
// folder, or the bundle's contents folder when the executable sits in a
// trailing "MacOS" folder (B/Contents/MacOS gives B/Contents/).
QString InstallationDirectory();

// Free bytes of the volume that holds `path`, or -1 when it cannot be queried.
qint64 GetFreeDiskSpace(const QString& path);

// Sets the creation date of the file or folder at `path`. Linux file systems
// do not let anyone set the birth time, so the modification time stands in
// for it. True when the system accepted the date.
bool SetTime(const QString& path, const QDateTime& time, bool);

// The creation date of the file or folder at `path`: its birth time where the
// file system records one, else its modification time; an invalid date when
// the path is empty or names nothing.
QDateTime GetTime(const QString& path, bool);

namespace Platform {

// Fixed reverse-domain identifier of the application; names the start-up files.
extern const char* const ApplicationId;

// The launch-agent property list that runs "open <bundlePath>" at login when
// `enabled`. XML-reserved characters of the path are escaped.
QString LaunchAgentText(const QString& bundlePath, bool enabled);

// The path handed to "open": the executable path up to its first
// "/Contents/", or the whole path when it has none.
QString BundlePath(const QString& executablePath);

// InstallationDirectory() for a given executable folder.
QString InstallationDirectoryOf(const QString& executableDir);

// The XDG autostart desktop entry that starts `executablePath` at login when `enabled`.
QString AutostartEntryText(const QString& executablePath, bool enabled);

// Where the start-up files of the two platforms live (from $HOME and
// $XDG_CONFIG_HOME).
QString LaunchAgentFolder();
QString AutostartFolder();

} // namespace Platform
