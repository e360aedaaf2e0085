#include "fmu/MapStorage.h"

#include "LogCapture.h"

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

} // namespace

TEST(MapInfo, OrderedByReleaseMonthAloneAndAnUnparsableReleaseIsEarliest)
{
  const MapInfo newer = Map("a", MapInfo::Optional, "2020.01");
  const MapInfo older = Map("b", MapInfo::Mandatory, "2019.12", MapInfo::Pending);
  EXPECT_TRUE(newer > older && older < newer && older <= newer && newer >= older && newer != older);
  EXPECT_FALSE(newer < older || newer == older);
  const MapInfo sameMonth = Map("c", MapInfo::Installed, "2019.12");
  EXPECT_TRUE(sameMonth == older && sameMonth <= older && sameMonth >= older);
  EXPECT_FALSE(sameMonth < older || sameMonth > older || sameMonth != older);

  const MapInfo oldest = Map("o", MapInfo::Optional, "1999.01");
  for (const std::string bad :
       {"", "2019-12", "2019.13", "2019.00", "2019.1", "2019.12x", " 2019.12", "+201.12", "2019.1\xc3\xa4"}) {
    SCOPED_TRACE(bad);
    const MapInfo map = Map("x", MapInfo::Optional, bad);
    EXPECT_TRUE(map < oldest && oldest > map);
    EXPECT_TRUE(map == Map("y", MapInfo::Optional, "not a month"));
  }
}

TEST_F(MapStorageTest, UpdateReplacesTheWholeRecordAndLogsIt)
{
  MapInfo first = Map("EUR_2024_06", MapInfo::Optional, "2024.06", MapInfo::Available, true);
  first.url = "http://127.0.0.1/first.tar";
  first.name = L"\u00d6sterreich \u6771\u4eac";
  MapInfo second = Map("EUR_2024_06", MapInfo::Mandatory, "2024.06", MapInfo::Downloading);
  second.size = 42;

  LogCapture log;
  storage.UpdateMap(first);
  EXPECT_EQ(storage.GetMap("EUR_2024_06").name, first.name);
  storage.UpdateMap(second);
  storage.UpdateMap(Map("ODD", static_cast<MapInfo::Type>(7), "2024.06"));
  const MapInfo stored = storage.GetMap("EUR_2024_06");
  EXPECT_EQ(stored.type, MapInfo::Mandatory);
  EXPECT_TRUE(stored.url.empty() && stored.name.empty() && !stored.root);
  EXPECT_EQ(stored.size, 42);

  const auto messages = log.Messages();
  const std::vector<std::string> firstDump(messages.begin(), messages.begin() + 11);
  EXPECT_EQ(firstDump,
            (std::vector<std::string>{"Adding new map: EUR_2024_06", "map.id=EUR_2024_06",
                                      "map.type=Optional", "map.state=Available", "map.release=2024.06",
                                      "map.mapLineId=", "map.name=\xc3\x96sterreich \xe6\x9d\xb1\xe4\xba\xac",
                                      "map.size=0", "map.downloaded=0", "map.url=http://127.0.0.1/first.tar",
                                      "map.root=true"}));
  EXPECT_EQ(messages.at(11), "Updating map: EUR_2024_06");
  EXPECT_EQ(messages.at(13), "map.type=Mandatory");
  EXPECT_EQ(messages.at(24), "map.type=") << "an unknown type is written as nothing";
  const auto lines = log.Lines();
  EXPECT_NE(lines.at(0).find("|   Debug |             ZEV |"), std::string::npos) << lines[0];
  EXPECT_NE(lines.at(1).find(" DumpMap | "), std::string::npos) << lines[1];
}

TEST_F(MapStorageTest, RemoveAndClear)
{
  storage.UpdateMap(Map("kept", MapInfo::Optional, "2024.06"));
  storage.UpdateMap(Map("root", MapInfo::Optional, "2024.06", MapInfo::Available, true));
  storage.UpdateHeadUnit({QDate(2027, 3, 31), -5, 1LL << 40});
  const HeadUnitInfo headUnit = storage.GetHeadUnit();
  EXPECT_EQ(headUnit.subscriptionEnd, QDate(2027, 3, 31));
  EXPECT_EQ(headUnit.availableMapSpace, -5) << "stored unchanged even below zero";
  EXPECT_EQ(headUnit.totalMapSpace, 1LL << 40);

  LogCapture log;
  storage.RemoveMap("missing");
  EXPECT_TRUE(storage.GetMap("kept").Valid());
  storage.RemoveMap("kept");
  EXPECT_FALSE(storage.GetMap("kept").Valid());
  EXPECT_EQ(storage.GetMaps().size(), 1u);
  storage.Clear();
  EXPECT_EQ(log.Messages(),
            (std::vector<std::string>{"Removing map: missing", "Removing map: kept", "Removing all maps"}));
  EXPECT_TRUE(storage.GetMaps().empty());
  EXPECT_TRUE(RootMaps().empty());
  EXPECT_FALSE(storage.GetHeadUnit().subscriptionEnd.isValid());
  EXPECT_EQ(storage.GetHeadUnit().availableMapSpace, 0);
  EXPECT_EQ(storage.GetHeadUnit().totalMapSpace, 0);
}

TEST_F(MapStorageTest, Selectors)
{
  EXPECT_FALSE(OptionalMap().Valid());
  // An unparsable release is taken only while nothing else parses.
  storage.UpdateMap(Map("bad", MapInfo::Optional, "2021-09"));
  EXPECT_EQ(OptionalMap().id, "bad");
  for (const auto& map :
       {Map("opt-2021-03", MapInfo::Optional, "2021.03"), Map("opt-2021-09", MapInfo::Optional, "2021.09"),
        Map("opt-2020-12", MapInfo::Optional, "2020.12"), Map("man-2022-01", MapInfo::Mandatory, "2022.01"),
        Map("man-2021-01", MapInfo::Mandatory, "2021.01"), Map("inst", MapInfo::Installed, "2023.01"),
        Map("EUR", MapInfo::Optional, "1999.01", MapInfo::Available, true),
        Map("NAM", MapInfo::Optional, "1999.01", MapInfo::Available, true)})
    storage.UpdateMap(map);
  EXPECT_EQ(OptionalMap().id, "opt-2021-09");
  EXPECT_EQ(MandatoryMap().id, "man-2022-01");
  EXPECT_EQ(InstalledMap().id, "inst");
  const auto roots = RootMaps();
  ASSERT_EQ(roots.size(), 2u);
  EXPECT_EQ(roots.at("EUR").id, "EUR");
  EXPECT_EQ(roots.at("NAM").id, "NAM");
  EXPECT_FALSE(DownloadingMap().Valid() || DeletingMap().Valid() || PendingMap().Valid());

  // The state selectors look at the state, the type selectors at the type.
  storage.Clear();
  storage.UpdateMap(Map("downloading", MapInfo::Mandatory, "2024.06", MapInfo::Downloading));
  storage.UpdateMap(Map("deleting", MapInfo::Installed, "2024.01", MapInfo::Deleting));
  storage.UpdateMap(Map("pending", MapInfo::Optional, "2023.01", MapInfo::Pending));
  storage.UpdateMap(Map("available", MapInfo::Optional, "2022.01"));
  EXPECT_EQ(DownloadingMap().id, "downloading");
  EXPECT_EQ(DeletingMap().id, "deleting");
  EXPECT_EQ(PendingMap().id, "pending");
  EXPECT_EQ(InstalledMap().id, "deleting");
  EXPECT_EQ(MandatoryMap().id, "downloading");
  EXPECT_EQ(OptionalMap().id, "pending");
}

// Readers on one thread while another writes: every answer is a whole record
// as it was stored, never a half-written one.
TEST_F(MapStorageTest, ConcurrentReadersSeeWholeRecords)
{
  std::atomic<bool> done{false};
  std::atomic<int> torn{0};
  std::thread reader([&] {
    while (!done) {
      const MapInfo map = MapStorage::Get().GetMap("m");
      if (map.Valid() && map.release != (map.size % 2 ? "2021.01" : "2022.02"))
        ++torn;
      for (const auto& entry : RootMaps())
        if (entry.second.id != entry.first)
          ++torn;
    }
  });
  for (int i = 0; i < 20000; ++i) {
    MapInfo map = Map("m", MapInfo::Optional, i % 2 ? "2021.01" : "2022.02", MapInfo::Available, true);
    map.size = i;
    storage.UpdateMap(map);
    if (i % 100 == 0)
      storage.Clear();
  }
  done = true;
  reader.join();
  EXPECT_EQ(torn, 0);
}

TEST_F(MapStorageTest, ModifyChangesTheStoredRecordAndLogsItAsAnUpdate)
{
  MapInfo stored = Map("EUR", MapInfo::Optional, "2024.06", MapInfo::Downloading);
  stored.size = 100;
  storage.UpdateMap(stored);

  LogCapture log;
  int calls = 0;
  EXPECT_FALSE(storage.ModifyMap("missing", [&](MapInfo&) { ++calls; }));
  EXPECT_EQ(calls, 0);
  EXPECT_FALSE(storage.GetMap("missing").Valid()) << "nothing is added";
  EXPECT_TRUE(storage.ModifyMap("EUR", [](MapInfo& map) {
    map.id = "other";
    map.downloaded = 40;
  }));
  stored.downloaded = 40;
  const MapInfo after = storage.GetMap("EUR");
  EXPECT_EQ(after.id, "EUR") << "the id stays";
  EXPECT_EQ(after.state, MapInfo::Downloading);
  EXPECT_EQ(after.downloaded, 40);
  EXPECT_EQ(after.size, 100);
  EXPECT_EQ(storage.GetMaps().size(), 1u);
  const auto messages = log.Messages();
  ASSERT_EQ(messages.size(), 11u);
  EXPECT_EQ(messages.at(0), "Updating map: EUR");
  EXPECT_EQ(messages.at(8), "map.downloaded=40");

  storage.UpdateHeadUnit({QDate(2027, 3, 31), 500, 1000});
  storage.ModifyHeadUnit([](HeadUnitInfo& headUnit) { headUnit.availableMapSpace -= 600; });
  const HeadUnitInfo headUnit = storage.GetHeadUnit();
  EXPECT_EQ(headUnit.subscriptionEnd, QDate(2027, 3, 31));
  EXPECT_EQ(headUnit.availableMapSpace, -100);
  EXPECT_EQ(headUnit.totalMapSpace, 1000);
}

// Two threads change different fields of one map and of the head-unit record
// at once, many times. A change made as a read, a change and a write back
// would lose some of the other thread's changes.
TEST_F(MapStorageTest, ConcurrentChangesOfDifferentFieldsAreNeverLost)
{
  constexpr int rounds = 20000;
  storage.UpdateMap(Map("m", MapInfo::Optional, "2024.06", MapInfo::Downloading));
  storage.UpdateHeadUnit({QDate(2027, 3, 31), 0, 0});

  std::atomic<int> ready{0};
  const auto startTogether = [&ready] {
    ++ready;
    while (ready < 2)
      std::this_thread::yield();
  };
  std::thread other([&] {
    startTogether();
    for (int i = 0; i < rounds; ++i) {
      MapStorage::Get().ModifyMap("m", [](MapInfo& map) {
        std::this_thread::yield(); // the other thread may run in the middle of the change
        ++map.downloaded;
      });
      MapStorage::Get().ModifyHeadUnit([](HeadUnitInfo& headUnit) {
        std::this_thread::yield();
        --headUnit.availableMapSpace;
      });
    }
  });
  startTogether();
  for (int i = 0; i < rounds; ++i) {
    storage.ModifyMap("m", [](MapInfo& map) {
      std::this_thread::yield();
      map.size += 2;
    });
    storage.ModifyHeadUnit([](HeadUnitInfo& headUnit) {
      std::this_thread::yield();
      headUnit.totalMapSpace += 2;
    });
  }
  other.join();

  const MapInfo map = storage.GetMap("m");
  EXPECT_EQ(map.downloaded, rounds);
  EXPECT_EQ(map.size, 2 * rounds);
  const HeadUnitInfo headUnit = storage.GetHeadUnit();
  EXPECT_EQ(headUnit.availableMapSpace, -rounds);
  EXPECT_EQ(headUnit.totalMapSpace, 2 * rounds);
  EXPECT_EQ(headUnit.subscriptionEnd, QDate(2027, 3, 31));
}
