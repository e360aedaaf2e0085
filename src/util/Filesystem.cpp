#include "util/Filesystem.h"

#include "Log.h"

#include <boost/filesystem/operations.hpp>

#include <QSaveFile>

#include <chrono>
#include <thread>

namespace fs = boost::filesystem;

bool PathExists(const fs::path& path)
{
  // A freshly mounted or removed volume needs a moment before its status is final.
  std::this_thread::sleep_for(std::chrono::milliseconds(500));

  boost::system::error_code ec;
  const fs::file_status status = fs::status(path, ec);
  // The error-code form reports a missing object through the error code as
  // well; that is an answer, not a failure.
  if (status.type() == fs::file_not_found)
    return false;
  if (ec) {
    LOG(Warning) << "Failed to check if path: " << path << " exists"
                 << ", " << ec.message();
    return false;
  }
  return status.type() != fs::status_error;
}

FreeSpace HasFreeSpace(const fs::path& path)
{
  boost::system::error_code ec;
  const fs::space_info info = fs::space(path, ec);
  if (ec) {
    LOG(Warning) << "Failed to get space info of path: " << path << ", " << ec.message();
    return FreeSpace::Unknown;
  }
  return info.free > 1023 ? FreeSpace::Some : FreeSpace::None;
}

bool WriteFileAtomically(const QString& path, const QByteArray& content, QString* error)
{
  QSaveFile file(path);
  // Unbuffered, so that write() reports a short write: a buffered QSaveFile
  // can commit a truncated file when the system accepts only part of the data.
  if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
    if (error)
      *error = QStringLiteral("cannot open %1: %2").arg(path, file.errorString());
    return false;
  }
  const qint64 written = file.write(content);
  if (written != content.size()) {
    if (error)
      *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
    file.cancelWriting();
    return false;
  }
  if (!file.commit()) {
    if (error)
      *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
    return false;
  }
  return true;
}
