#include "DataHome.h"

#include <gtest/gtest.h>

namespace TestSupport {

DataHome::DataHome(int retryMinutes)
{
  WriteRetryDuration("\"" + QByteArray::number(retryMinutes) + "\"");
}

void DataHome::WriteConfig(const QByteArray& json) const
{
  ASSERT_TRUE(WriteFile(Path() + "/config.json", json));
}

void DataHome::WriteRetryDuration(const QByteArray& value) const
{
  WriteConfig(
      R"({"Application": "", "FullMapUpdate": {"UpdateType": "ArvelNet-Prod"}, "MapDownload": {"RetryDuration": )" +
      value + "}}");
}

} // namespace TestSupport
