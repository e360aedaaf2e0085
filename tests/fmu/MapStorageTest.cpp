#include "fmu/MapStorage.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

MapInfo Map(const MapInfo::Id& id, MapInfo::Type type, const std::string& release,
            MapInfo::State state = MapInfo::Available, bool root = false)
{
  MapInfo map;
  map.id = id;
  map.type = type;
  map.state = state;
  map.release = release;
  map.root = root;
  return map;
}

class MapStorageTest : public testing::Test
{
protected:
  void SetUp() override { storage.Clear(); }
  void TearDown() override { storage.Clear(); }

  MapStorage& storage = MapStorage::Get();
};

// Two threads at once, many times; `started` tells when both run.
void Together(const std::function<void()>& first, const std::function<void()>& second)
{
  std::atomic<int> ready{0};
  const auto start = [&ready] {
    ++ready;
    while (ready < 2)
      std::this_thread::yield();
  };
  std::thread other([&] {
    start();
    second();
  });
  start();
  first();
  other.join();
}

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

TEST_F(MapStorageTest, StoresWholeRecordsAndTheSelectorsFindThemByTypeAndState)
{
  MapInfo first = Map("EUR", MapInfo::Optional, "2024.06", MapInfo::Available, true);
  first.url = "http://127.0.0.1/first.tar";
  storage.UpdateMap(first);
  storage.UpdateMap(Map("EUR", MapInfo::Mandatory, "2024.06", MapInfo::Downloading));
  EXPECT_TRUE(storage.GetMap("EUR").url.empty() && !storage.GetMap("EUR").root)
      << "the whole record is replaced";
  storage.RemoveMap("missing");
  storage.RemoveMap("EUR");
  EXPECT_TRUE(storage.GetMaps().empty());

  // An unparsable release is taken only while nothing else parses.
  storage.UpdateMap(Map("bad", MapInfo::Optional, "2021-09"));
  EXPECT_EQ(OptionalMap().id, "bad");
  for (const auto& map :
       {Map("opt-2021-03", MapInfo::Optional, "2021.03"), Map("opt-2021-09", MapInfo::Optional, "2021.09"),
        Map("man-2022-01", MapInfo::Mandatory, "2022.01"), Map("man-2021-01", MapInfo::Mandatory, "2021.01"),
        Map("inst", MapInfo::Installed, "2023.01"),
        Map("EUR", MapInfo::Optional, "1999.01", MapInfo::Available, true),
        Map("NAM", MapInfo::Optional, "1999.01", MapInfo::Available, true)})
    storage.UpdateMap(map);
  EXPECT_EQ(OptionalMap().id, "opt-2021-09");
  EXPECT_EQ(MandatoryMap().id, "man-2022-01");
  EXPECT_EQ(InstalledMap().id, "inst");
  EXPECT_EQ(RootMaps().size(), 2u);
  EXPECT_EQ(RootMaps().at("NAM").id, "NAM");
  EXPECT_FALSE(DownloadingMap().Valid() || DeletingMap().Valid() || PendingMap().Valid());

  storage.Clear();
  storage.UpdateMap(Map("downloading", MapInfo::Mandatory, "2024.06", MapInfo::Downloading));
  storage.UpdateMap(Map("deleting", MapInfo::Installed, "2024.01", MapInfo::Deleting));
  storage.UpdateMap(Map("pending", MapInfo::Optional, "2023.01", MapInfo::Pending));
  EXPECT_EQ(DownloadingMap().id, "downloading");
  EXPECT_EQ(DeletingMap().id, "deleting");
  EXPECT_EQ(PendingMap().id, "pending");
  EXPECT_EQ(InstalledMap().id, "deleting");

  storage.UpdateHeadUnit({QDate(2027, 3, 31), -5, 1LL << 40});
  EXPECT_EQ(storage.GetHeadUnit().availableMapSpace, -5) << "stored unchanged even below zero";
  storage.Clear();
  EXPECT_FALSE(storage.GetHeadUnit().subscriptionEnd.isValid());
  EXPECT_EQ(storage.GetHeadUnit().totalMapSpace, 0);
}

TEST_F(MapStorageTest, ModifyChangesOnlyAStoredRecordAndKeepsItsId)
{
  MapInfo stored = Map("EUR", MapInfo::Optional, "2024.06", MapInfo::Downloading);
  stored.size = 100;
  storage.UpdateMap(stored);
  EXPECT_FALSE(storage.ModifyMap("missing", [](MapInfo&) { ADD_FAILURE(); }));
  EXPECT_FALSE(storage.GetMap("missing").Valid()) << "nothing is added";
  EXPECT_TRUE(storage.ModifyMap("EUR", [](MapInfo& map) {
    map.id = "other";
    map.downloaded = 40;
  }));
  stored.downloaded = 40;
  EXPECT_EQ(storage.GetMap("EUR"), stored);
  EXPECT_EQ(storage.GetMap("EUR").id, "EUR");
  EXPECT_EQ(storage.GetMaps().size(), 1u);
}

// Readers see whole records while another thread writes; two threads that
// change different fields of one map and of the head unit at once lose none
// of each other's changes (a read, a change and a write back would).
TEST_F(MapStorageTest, ConcurrentReadersAndChangesOfDifferentFieldsAreSafe)
{
  constexpr int rounds = 20000;
  std::atomic<int> torn{0};
  std::atomic<bool> done{false};
  Together(
      [&] {
        for (int i = 0; i < rounds; ++i) {
          MapInfo map = Map("m", MapInfo::Optional, i % 2 ? "2021.01" : "2022.02", MapInfo::Available, true);
          map.size = i;
          storage.UpdateMap(map);
        }
        done = true;
      },
      [&] {
        while (!done) {
          const MapInfo map = MapStorage::Get().GetMap("m");
          if (map.Valid() && map.release != (map.size % 2 ? "2021.01" : "2022.02"))
            ++torn;
        }
      });
  EXPECT_EQ(torn, 0);

  storage.UpdateMap(Map("m", MapInfo::Optional, "2024.06", MapInfo::Downloading));
  storage.UpdateHeadUnit({QDate(2027, 3, 31), 0, 0});
  Together(
      [&] {
        for (int i = 0; i < rounds; ++i) {
          storage.ModifyMap("m", [](MapInfo& map) { std::this_thread::yield(), map.size += 2; });
          storage.ModifyHeadUnit(
              [](HeadUnitInfo& unit) { std::this_thread::yield(), unit.totalMapSpace += 2; });
        }
      },
      [&] {
        for (int i = 0; i < rounds; ++i) {
          storage.ModifyMap("m", [](MapInfo& map) { std::this_thread::yield(), ++map.downloaded; });
          storage.ModifyHeadUnit(
              [](HeadUnitInfo& unit) { std::this_thread::yield(), --unit.availableMapSpace; });
        }
      });
  EXPECT_EQ(storage.GetMap("m").downloaded, rounds);
  EXPECT_EQ(storage.GetMap("m").size, 2 * rounds);
  EXPECT_EQ(storage.GetHeadUnit().availableMapSpace, -rounds);
  EXPECT_EQ(storage.GetHeadUnit().totalMapSpace, 2 * rounds);
  EXPECT_EQ(storage.GetHeadUnit().subscriptionEnd, QDate(2027, 3, 31));
}
