#include "DataHome.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

namespace TestSupport {

DataHome::DataHome(int retryMinutes)
{
  hadPrevious = qEnvironmentVariableIsSet("XDG_DATA_HOME");
  previous = qgetenv("XDG_DATA_HOME");
  qputenv("XDG_DATA_HOME", dir.path().toUtf8());
  QDir().mkpath(Path());
  WriteRetryDuration("\"" + QByteArray::number(retryMinutes) + "\"");
}

DataHome::~DataHome()
{
  if (hadPrevious)
    qputenv("XDG_DATA_HOME", previous);
  else
    qunsetenv("XDG_DATA_HOME");
}

void DataHome::WriteConfig(const QByteArray& json) const
{
  QFile file(Path() + "/config.json");
  ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << file.errorString().toStdString();
  ASSERT_EQ(file.write(json), json.size());
}

void DataHome::WriteRetryDuration(const QByteArray& value) const
{
  WriteConfig(
      R"({"Application": "", "FullMapUpdate": {"UpdateType": "ArvelNet-Prod"}, "MapDownload": {"RetryDuration": )" +
      value + "}}");
}

} // namespace TestSupport
