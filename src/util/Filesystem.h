#pragma once

#include <boost/filesystem/path.hpp>

#include <QByteArray>
#include <QString>

// True when the path names an existing file-system object. Waits 500 ms first,
// every call, so that a volume that is just being mounted or unmounted has
// settled; call it from worker threads only. A missing object gives false
// silently; a status that cannot be read gives false after one Warning.
bool PathExists(const boost::filesystem::path& path);

// What a query of a file system's free space found.
enum class FreeSpace
{
  Some,   // more than 1023 free bytes (the total free figure)
  None,   // 1023 bytes or fewer
  Unknown // the query failed: that says nothing about the space
};

// The free space of the file system holding the path. A failed query gives
// Unknown after one Warning.
FreeSpace HasFreeSpace(const boost::filesystem::path& path);

// Replaces the file at `path` with `content` in one step: the bytes go to a
// temporary file beside it, which is renamed over the target only when every
// byte was written. A reader never sees a half-written file, and a failed
// write leaves the earlier file untouched. On failure returns false and, when
// `error` is given, stores a readable reason in it.
bool WriteFileAtomically(const QString& path, const QByteArray& content, QString* error = nullptr);
