#pragma once

#include "Files.h"

#include <QTemporaryDir>

namespace TestSupport {

// Points the application's data folder at a temporary folder while it lives
// ($XDG_DATA_HOME, restored afterwards) and writes a config.json there whose
// map download retry window is `retryMinutes`.
class DataHome
{
public:
  explicit DataHome(int retryMinutes = 1);

  // The application's data folder, where config.json lies.
  QString Path() const { return dir.path() + "/Arvel/Lumora"; }
  // Replaces config.json with `json`.
  void WriteConfig(const QByteArray& json) const;
  // Replaces config.json with one whose "RetryDuration" is `value`, a JSON
  // value as written ("\"3\"", 5, "\"abc\"").
  void WriteRetryDuration(const QByteArray& value) const;

private:
  QTemporaryDir dir;
  ScopedEnv home{"XDG_DATA_HOME", dir.path()};
};

} // namespace TestSupport
