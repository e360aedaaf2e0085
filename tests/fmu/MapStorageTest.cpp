#include "fmu/MapStorage.h"

#include "LogCapture.h"

#include <gtest/gtest.h>

#include <QMetaType>
#include <QObject>
#include <QTest>

#include <atomic>
#include <thread>

namespace {

MapInfo Map(const MapInfo::Id& id, MapInfo::Type type, const std::string& release,
            MapInfo::State state = MapInfo::Available)
{
  MapInfo map;
  map.id = id;
  map.type = type;
  map.state = state;
  map.release = release;
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

TEST_F(MapStorageTest, OneStoreForTheWholeProcess)
{
  MapStorage* fromThread = nullptr;
  std::thread([&] { fromThread = &MapStorage::Get(); }).join();
  EXPECT_EQ(fromThread, &MapStorage::Get());
}

TEST_F(MapStorageTest, LookupOfAMissingIdGivesAnInvalidOptionalRecord)
{
  const MapInfo map = storage.GetMap("missing");
  EXPECT_FALSE(map.Valid());
  EXPECT_EQ(map.type, MapInfo::Optional);
}

TEST_F(MapStorageTest, UpdateReplacesTheWholeRecordAndLogsIt)
{
  MapInfo first = Map("EUR_2024_06", MapInfo::Optional, "2024.06");
  first.url = "http://127.0.0.1/first.tar";
  first.name = L"Europa";
  first.root = true;
  MapInfo second = Map("EUR_2024_06", MapInfo::Mandatory, "2024.06", MapInfo::Downloading);
  second.size = 42;
  second.downloaded = 7;

  LogCapture log;
  storage.UpdateMap(first);
  storage.UpdateMap(second);
  const auto messages = log.Messages();

  const MapInfo stored = storage.GetMap("EUR_2024_06");
  EXPECT_EQ(storage.GetMaps().size(), 1u);
  EXPECT_EQ(stored.type, MapInfo::Mandatory);
  EXPECT_EQ(stored.state, MapInfo::Downloading);
  EXPECT_TRUE(stored.url.empty());
  EXPECT_TRUE(stored.name.empty());
  EXPECT_FALSE(stored.root);
  EXPECT_EQ(stored.size, 42);

  const std::vector<std::string> expected = {
      "Adding new map: EUR_2024_06",
      "map.id=EUR_2024_06",
      "map.type=Optional",
      "map.state=Available",
      "map.release=2024.06",
      "map.mapLineId=",
      "map.name=Europa",
      "map.size=0",
      "map.downloaded=0",
      "map.url=http://127.0.0.1/first.tar",
      "map.root=true",
      "Updating map: EUR_2024_06",
      "map.id=EUR_2024_06",
      "map.type=Mandatory",
      "map.state=Downloading",
      "map.release=2024.06",
      "map.mapLineId=",
      "map.name=",
      "map.size=42",
      "map.downloaded=7",
      "map.url=",
      "map.root=false",
  };
  EXPECT_EQ(messages, expected);
  const auto lines = log.Lines();
  ASSERT_EQ(lines.size(), expected.size());
  EXPECT_NE(lines[0].find("|   Debug |             ZEV |"), std::string::npos) << lines[0];
  EXPECT_NE(lines[0].find(" UpdateMap | "), std::string::npos) << lines[0];
  EXPECT_NE(lines[1].find(" DumpMap | "), std::string::npos) << lines[1];
}

TEST_F(MapStorageTest, DumpWritesNamesAsUtf8AndUnknownTypesAsNothing)
{
  MapInfo map = Map("AUT", static_cast<MapInfo::Type>(7), "2024.06");
  map.name = L"\u00d6sterreich \u6771\u4eac";
  LogCapture log;
  storage.UpdateMap(map);
  EXPECT_TRUE(log.Contains("map.type="));
  EXPECT_TRUE(log.Contains("map.name=\xc3\x96sterreich \xe6\x9d\xb1\xe4\xba\xac"));
  EXPECT_EQ(storage.GetMap("AUT").name, map.name);
}

TEST_F(MapStorageTest, RemoveOfAMissingIdChangesNothing)
{
  storage.UpdateMap(Map("kept", MapInfo::Optional, "2024.06"));
  LogCapture log;
  storage.RemoveMap("missing");
  EXPECT_EQ(log.Messages(), std::vector<std::string>{"Removing map: missing"});
  EXPECT_TRUE(storage.GetMap("kept").Valid());
  storage.RemoveMap("kept");
  EXPECT_FALSE(storage.GetMap("kept").Valid());
  EXPECT_TRUE(storage.GetMaps().empty());
}

TEST_F(MapStorageTest, ClearForgetsMapsAndHeadUnit)
{
  storage.UpdateMap(Map("a", MapInfo::Optional, "2024.06"));
  MapInfo root = Map("b", MapInfo::Optional, "2024.06");
  root.root = true;
  storage.UpdateMap(root);
  storage.UpdateHeadUnit({QDate(2027, 3, 31), 100, 200});

  LogCapture log;
  storage.Clear();
  EXPECT_EQ(log.Messages(), std::vector<std::string>{"Removing all maps"});
  EXPECT_TRUE(storage.GetMaps().empty());
  const HeadUnitInfo headUnit = storage.GetHeadUnit();
  EXPECT_FALSE(headUnit.subscriptionEnd.isValid());
  EXPECT_EQ(headUnit.availableMapSpace, 0);
  EXPECT_EQ(headUnit.totalMapSpace, 0);
  EXPECT_FALSE(OptionalMap().Valid());
  EXPECT_TRUE(RootMaps().empty());
}

TEST_F(MapStorageTest, HeadUnitIsStoredUnchangedEvenBelowZero)
{
  storage.UpdateHeadUnit({QDate(2027, 3, 31), -5, 1LL << 40});
  const HeadUnitInfo headUnit = storage.GetHeadUnit();
  EXPECT_EQ(headUnit.subscriptionEnd, QDate(2027, 3, 31));
  EXPECT_EQ(headUnit.availableMapSpace, -5);
  EXPECT_EQ(headUnit.totalMapSpace, 1LL << 40);
}

TEST_F(MapStorageTest, NewestOptionalAndMandatoryByReleaseMonth)
{
  storage.UpdateMap(Map("opt-2021-03", MapInfo::Optional, "2021.03"));
  storage.UpdateMap(Map("opt-2021-09", MapInfo::Optional, "2021.09"));
  storage.UpdateMap(Map("opt-2020-12", MapInfo::Optional, "2020.12"));
  storage.UpdateMap(Map("man-2022-01", MapInfo::Mandatory, "2022.01"));
  storage.UpdateMap(Map("inst-2023-01", MapInfo::Installed, "2023.01"));
  EXPECT_EQ(OptionalMap().id, "opt-2021-09");
  EXPECT_EQ(MandatoryMap().id, "man-2022-01");
}

TEST_F(MapStorageTest, UnparsableReleaseWinsOnlyWhenNothingElseParses)
{
  storage.UpdateMap(Map("bad", MapInfo::Optional, "2021-09"));
  EXPECT_EQ(OptionalMap().id, "bad");
  EXPECT_FALSE(MandatoryMap().Valid());
  storage.UpdateMap(Map("good", MapInfo::Optional, "1999.01"));
  // Whatever the walk's order, the parsable release wins.
  EXPECT_EQ(OptionalMap().id, "good");
}

TEST_F(MapStorageTest, StateSelectorsLookAtTheStateAndTypeSelectorsAtTheType)
{
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

  storage.RemoveMap("downloading");
  storage.RemoveMap("deleting");
  storage.RemoveMap("pending");
  EXPECT_FALSE(DownloadingMap().Valid());
  EXPECT_FALSE(DeletingMap().Valid());
  EXPECT_FALSE(PendingMap().Valid());
  EXPECT_FALSE(InstalledMap().Valid());
  EXPECT_FALSE(MandatoryMap().Valid());
}

TEST_F(MapStorageTest, RootMapsAreTheRootRecordsUnderTheirIds)
{
  for (const char* id : {"EUR", "NAM"}) {
    MapInfo map = Map(id, MapInfo::Optional, "2024.06");
    map.root = true;
    storage.UpdateMap(map);
  }
  storage.UpdateMap(Map("related", MapInfo::Optional, "2024.06"));
  const auto roots = RootMaps();
  ASSERT_EQ(roots.size(), 2u);
  EXPECT_EQ(roots.at("EUR").id, "EUR");
  EXPECT_EQ(roots.at("NAM").id, "NAM");
}

// Readers on one thread while another writes: every answer is a whole record
// as it was stored, never a half-written one.
TEST_F(MapStorageTest, ConcurrentReadersSeeWholeRecords)
{
  std::atomic<bool> done{false};
  std::atomic<int> torn{0};
  std::thread reader([&] {
    while (!done) {
      const MapInfo map = storage.GetMap("m");
      if (map.Valid() && map.release != (map.size % 2 ? "2021.01" : "2022.02"))
        ++torn;
      for (const auto& entry : RootMaps())
        if (entry.second.id != entry.first)
          ++torn;
    }
  });
  for (int i = 0; i < 20000; ++i) {
    MapInfo map = Map("m", MapInfo::Optional, i % 2 ? "2021.01" : "2022.02");
    map.size = i;
    map.root = true;
    storage.UpdateMap(map);
    if (i % 100 == 0)
      storage.Clear();
  }
  done = true;
  reader.join();
  EXPECT_EQ(torn, 0);
}

namespace {
class IdReceiver : public QObject
{
  Q_OBJECT
public slots:
  void Receive(const MapInfo::Id& id) { received = id; }

public:
  MapInfo::Id received;
};
} // namespace

TEST(MapInfoMetaType, IdTravelsInQueuedInvocationsByName)
{
  MapInfo::RegisterMetaTypes();
  ASSERT_NE(QMetaType::type("MapInfo::Id"), QMetaType::UnknownType);
  ASSERT_NE(QMetaType::type("MapInfo"), QMetaType::UnknownType);
  IdReceiver receiver;
  const MapInfo::Id id = "EUR_2024_06";
  ASSERT_TRUE(QMetaObject::invokeMethod(&receiver, "Receive", Qt::QueuedConnection, Q_ARG(MapInfo::Id, id)));
  EXPECT_TRUE(receiver.received.empty());
  EXPECT_TRUE(QTest::qWaitFor([&] { return receiver.received == id; }, 5000));
}

#include "MapStorageTest.moc"
