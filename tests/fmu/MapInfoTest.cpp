#include "fmu/MapInfo.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

MapInfo WithRelease(const std::string& release, const MapInfo::Id& id = "map")
{
  MapInfo map;
  map.id = id;
  map.release = release;
  map.state = MapInfo::Available;
  return map;
}

template <typename T>
std::string Printed(T value)
{
  std::ostringstream out;
  out << value;
  return out.str();
}

} // namespace

TEST(MapInfo, DefaultAndClearedRecordsStandForNoMap)
{
  MapInfo map = WithRelease("2024.06", "EUR_2024_06");
  map.downloaded = 5;
  ASSERT_TRUE(map.Valid());
  map.Clear();
  EXPECT_FALSE(map.Valid());
  EXPECT_TRUE(map.id.empty());
  EXPECT_EQ(map.downloaded, 0);
  EXPECT_FALSE(MapInfo().Valid());
}

TEST(MapInfo, EnumerationsPrintTheirNamesAndNothingElse)
{
  EXPECT_EQ(Printed(MapInfo::Installed), "Installed");
  EXPECT_EQ(Printed(MapInfo::Optional), "Optional");
  EXPECT_EQ(Printed(MapInfo::Mandatory), "Mandatory");
  EXPECT_EQ(Printed(MapInfo::Unknown), "Unknown");
  EXPECT_EQ(Printed(MapInfo::Available), "Available");
  EXPECT_EQ(Printed(MapInfo::Deleting), "Deleting");
  EXPECT_EQ(Printed(MapInfo::Downloading), "Downloading");
  EXPECT_EQ(Printed(MapInfo::Pending), "Pending");

  std::ostringstream out;
  out << static_cast<MapInfo::State>(5) << static_cast<MapInfo::Type>(3) << "|";
  EXPECT_TRUE(out.good());
  EXPECT_EQ(out.str(), "|");
}

TEST(MapInfo, OrderedByReleaseMonthAlone)
{
  const MapInfo newer = WithRelease("2020.01", "a");
  const MapInfo older = WithRelease("2019.12", "b");
  EXPECT_TRUE(newer > older);
  EXPECT_TRUE(older < newer);
  EXPECT_TRUE(older <= newer);
  EXPECT_TRUE(newer >= older);
  EXPECT_FALSE(newer < older);
  EXPECT_FALSE(newer == older);
  EXPECT_TRUE(newer != older);

  MapInfo sameMonth = WithRelease("2019.12", "c");
  sameMonth.name = L"Other";
  sameMonth.state = MapInfo::Pending;
  sameMonth.type = MapInfo::Mandatory;
  EXPECT_TRUE(sameMonth == older);
  EXPECT_FALSE(sameMonth != older);
  EXPECT_FALSE(sameMonth < older);
  EXPECT_FALSE(sameMonth > older);
  EXPECT_TRUE(sameMonth <= older);
  EXPECT_TRUE(sameMonth >= older);
}

TEST(MapInfo, ReleaseThatDoesNotParseIsEarliest)
{
  const MapInfo oldest = WithRelease("1999.01");
  for (const std::string bad :
       {"", "2019-12", "2019.13", "2019.00", "2019.1", "2019.12x", " 2019.12", "+201.12", "2019.1\xc3\xa4"}) {
    SCOPED_TRACE(bad);
    const MapInfo map = WithRelease(bad);
    EXPECT_TRUE(map < oldest);
    EXPECT_TRUE(oldest > map);
    EXPECT_TRUE(map == WithRelease("not a month"));
    EXPECT_TRUE(map <= WithRelease(""));
    EXPECT_TRUE(map >= WithRelease(""));
  }
}
