#pragma once

#include <boost/filesystem/path.hpp>

#include <QByteArray>
#include <QString>

#include <optional>

// True when the path names an existing file-system object. Waits 500 ms first,
// every call, so that a volume that is just being mounted or unmounted has
// settled; call it from worker threads only. A missing object gives false
// silently; a status that cannot be read gives false after one Warning.
bool PathExists(const boost::filesystem::path& path);

// Whether the file system holding the path has more than 1023 free bytes
// (the total free figure). A failed query says nothing about the space: it
// gives no answer, after one Warning.
std::optional<bool> HasFreeSpace(const boost::filesystem::path& path);

// Replaces the file at `path` with `content` in one step: the bytes go to a
// temporary file beside it, which is renamed over the target only when every
// byte was written. A reader never sees a half-written file, and a failed
// write leaves the earlier file untouched. On failure returns false and, when
// `error` is given, stores a readable reason in it.
bool WriteFileAtomically(const QString& path, const QByteArray& content, QString* error = nullptr);
