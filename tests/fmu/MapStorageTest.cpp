#include "fmu/MapStorage.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

MapInfo Map(const MapInfo::Id& id, MapInfo::Type type, const std::string& release,
            MapInfo::State state = MapInfo::Available, bool root = false)
{
  return {type, state, id, L"", "", release, "", "", "", 0, 0, root};
}

class MapStorageTest : public testing::Test
{
protected:
  void SetUp() override { storage.Clear(); }
  void TearDown() override { storage.Clear(); }

  MapStorage& storage = MapStorage::Get();
};

} // namespace

TEST(MapInfo, OrderedByReleaseMonthAloneAndAnUnparsableReleaseIsEarliest)
{
  const MapInfo newer = Map("a", MapInfo::Optional, "2020.01");
  const MapInfo older = Map("b", MapInfo::Mandatory, "2019.12", MapInfo::Pending);
  EXPECT_TRUE(newer > older && older < newer && older <= newer && newer >= older && newer != older);
  EXPECT_TRUE(Map("c", MapInfo::Installed, "2019.12") == older);
  const MapInfo oldest = Map("o", MapInfo::Optional, "1999.01");
  for (const std::string bad :
       {"", "2019-12", "2019.13", "2019.00", "2019.1", "2019.12x", " 2019.12", "+201.12"}) {
    SCOPED_TRACE(bad);
    const MapInfo map = Map("x", MapInfo::Optional, bad);
    EXPECT_TRUE(map < oldest && oldest > map);
    EXPECT_TRUE(map == Map("y", MapInfo::Optional, "not a month"));
  }
}

// The newest map of a type is offered; an unparsable release is taken only
// while nothing else parses. Modify changes only a stored record, and not its id.
TEST_F(MapStorageTest, SelectorsOfferTheNewestMapAndModifyChangesOnlyAStoredRecord)
{
  storage.UpdateMap(Map("bad", MapInfo::Optional, "2021-09"));
  EXPECT_EQ(OptionalMap().id, "bad");
  for (const auto& map :
       {Map("opt-2021-03", MapInfo::Optional, "2021.03"), Map("opt-2021-09", MapInfo::Optional, "2021.09"),
        Map("man-2022-01", MapInfo::Mandatory, "2022.01"), Map("man-2021-01", MapInfo::Mandatory, "2021.01"),
        Map("EUR", MapInfo::Optional, "1999.01", MapInfo::Available, true)})
    storage.UpdateMap(map);
  EXPECT_EQ(OptionalMap().id, "opt-2021-09");
  EXPECT_EQ(MandatoryMap().id, "man-2022-01");
  EXPECT_EQ(RootMaps().size(), 1u);

  storage.UpdateMap(Map("EUR", MapInfo::Optional, "2024.06", MapInfo::Downloading));
  EXPECT_FALSE(storage.ModifyMap("missing", [](MapInfo&) { ADD_FAILURE(); }));
  EXPECT_FALSE(storage.GetMap("missing").Valid()) << "nothing is added";
  EXPECT_TRUE(storage.ModifyMap("EUR", [](MapInfo& map) {
    map.id = "other";
    map.downloaded = 40;
  }));
  EXPECT_EQ(storage.GetMap("EUR").downloaded, 40);
  EXPECT_EQ(storage.GetMap("EUR").id, "EUR");
  EXPECT_FALSE(storage.GetMap("other").Valid());
}

// Readers see whole records while another thread writes; two threads that
// change different fields of one map and of the head unit at once lose none
// of each other's changes (a read, a change and a write back would).
TEST_F(MapStorageTest, ConcurrentReadersAndChangesOfDifferentFieldsAreSafe)
{
  constexpr int rounds = 20000;
  storage.UpdateMap(Map("m", MapInfo::Optional, "2024.06", MapInfo::Downloading));
  storage.UpdateHeadUnit({QDate(2027, 3, 31), 0, 0});
  std::thread writer([&] {
    for (int i = 0; i < rounds; ++i) {
      MapInfo whole = Map("w", MapInfo::Optional, i % 2 ? "2021.01" : "2022.02");
      whole.size = i;
      storage.UpdateMap(whole);
      storage.ModifyMap("m", [](MapInfo& map) { std::this_thread::yield(), map.size += 2; });
      storage.ModifyHeadUnit([](HeadUnitInfo& unit) { std::this_thread::yield(), unit.totalMapSpace += 2; });
    }
  });
  int torn = 0;
  for (int i = 0; i < rounds; ++i) {
    const MapInfo whole = storage.GetMap("w");
    torn += whole.Valid() && whole.release != (whole.size % 2 ? "2021.01" : "2022.02");
    storage.ModifyMap("m", [](MapInfo& map) { std::this_thread::yield(), ++map.downloaded; });
    storage.ModifyHeadUnit([](HeadUnitInfo& unit) { std::this_thread::yield(), --unit.availableMapSpace; });
  }
  writer.join();
  EXPECT_EQ(torn, 0);
  EXPECT_EQ(storage.GetMap("m").downloaded, rounds);
  EXPECT_EQ(storage.GetMap("m").size, 2 * rounds);
  EXPECT_EQ(storage.GetHeadUnit().availableMapSpace, -rounds);
  EXPECT_EQ(storage.GetHeadUnit().totalMapSpace, 2 * rounds);
  EXPECT_EQ(storage.GetHeadUnit().subscriptionEnd, QDate(2027, 3, 31));
}
