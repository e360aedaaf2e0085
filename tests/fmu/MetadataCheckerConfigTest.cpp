#include "fmu/MetadataChecker.h"

#include "fmu/MapStorage.h"

#include "DataHome.h"
#include "MapService.h"
#include "TestService.h"

#include <gtest/gtest.h>

#include <QTest>

// The default checker takes the service's address and key from config.json.
TEST(MetadataCheckerConfig, DefaultCheckerUsesTheConfiguredService)
{
  TestSupport::TestService service;
  TestSupport::MapService maps(service, "/custom/v1", "configured-key");
  TestSupport::ServedMap map;
  map.id = "EUR_2024_06";
  map.mapLineId = map.region = "EUR";
  map.release = "2024.06";
  map.name = "Europe";
  map.names["en-GB"] = "Europe";
  maps.AddMap(map);
  maps.AddRoot("EUR_ROOT", {"EUR_2024_06"});

  TestSupport::DataHome data;
  data.WriteConfig(QByteArray::fromStdString(
      "{\"Application\": {}, \"FullMapUpdate\": {\"UpdateSource\": \"" + maps.Url() +
      "\", \"UpdateKey\": \"configured-key\"}, \"MapDownload\": {\"RetryDuration\": 3}}"));

  MetadataChecker checker;
  std::vector<MetadataChecker::Result> results;
  checker.CheckRootUpdates([&](MetadataChecker::Result result) { results.push_back(result); });
  ASSERT_TRUE(QTest::qWaitFor([&] { return !results.empty(); }, 60000));
  EXPECT_EQ(results, std::vector<MetadataChecker::Result>{MetadataChecker::Ok});
  EXPECT_TRUE(MapStorage::Get().GetMap("EUR_2024_06").Valid());
  ASSERT_FALSE(maps.Requests("allroots").isEmpty());
  EXPECT_EQ(maps.Requests("allroots")[0].Query("key"), "configured-key");
  // The locale requests carry the user's language in the service's form.
  ASSERT_FALSE(maps.Requests("localedata").isEmpty());
  EXPECT_FALSE(maps.Requests("localedata")[0].Header("Accept-Language").contains('_'));
}
