#include "fmu/MetadataChecker.h"

#include "fmu/MapStorage.h"

#include "LogCapture.h"
#include "MapService.h"
#include "MapStick.h"
#include "Request.h"
#include "TestService.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

using TestSupport::Answer;
using TestSupport::MapService;
using TestSupport::MapStick;
using TestSupport::ServedMap;
using Result = MetadataChecker::Result;

namespace {

ServedMap Served(const std::string& id, const std::string& release, const std::string& region,
                 const std::string& german, bool mandatory = false)
{
  ServedMap map;
  map.id = id;
  map.mapLineId = region;
  map.release = release;
  map.region = region;
  map.mandatory = mandatory;
  map.name = "metadata name of " + id;
  map.names["de-DE"] = german;
  map.names["fr-FR"] = "fr " + id;
  map.checksum = "0123456789abcdef0123456789ABCDEF";
  map.size = 7340032000LL;
  return map;
}

class MetadataCheckerTest : public testing::Test
{
protected:
  void SetUp() override
  {
    Tesk::Request::SetTimeScaleForTesting(1.0);
    MapStorage::Get().Clear();
    maps.AddMap(Served("EUR_2024_06", "2024.06", "EUR", "Europa"));
    maps.AddMap(Served("NAM_2024_03", "2024.03", "NAM", "Nordamerika"));
    maps.AddRoot("EUR_ROOT", {"EUR_2024_06"});
    maps.AddRoot("NAM_ROOT", {"NAM_2024_03"});
    checker = std::make_unique<MetadataChecker>(MakeSetup());
  }

  void TearDown() override
  {
    checker.reset();
    Tesk::Request::SetTimeScaleForTesting(1.0);
    MapStorage::Get().Clear();
  }

  MetadataChecker::Setup MakeSetup()
  {
    MetadataChecker::Setup setup;
    setup.serviceUrl = maps.Url();
    setup.serviceKey = maps.Key();
    setup.metadataDir = "OrvaneNDSUpdate/meta_data";
    setup.headUnitFile = "OrvaneNDSUpdate/meta_data/GENERAL.JSON";
    setup.locale = [this] { return locale; };
    return setup;
  }

  MetadataChecker::Callback Record()
  {
    return [this](Result result) { results.push_back(result); };
  }

  // Runs the event loop until the check has reported.
  ::testing::AssertionResult WaitForResult()
  {
    if (QTest::qWaitFor([this] { return !results.empty(); }, 60000))
      return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "the check never reported";
  }

  // The stick of a vehicle with EUR_2023_06 installed and a subscription that
  // ends in a year; the service relates every EUR and NAM map to it.
  UsbInfo RelatedSetUp()
  {
    installed = Served("EUR_2023_06", "2023.06", "EUR", "Europa 2023");
    subscriptionEnd = QDate::currentDate().addYears(1);
    stick.WriteMetadata(installed);
    stick.WriteHeadUnit(subscriptionEnd.toString(Qt::ISODate).toStdString(), 8589934592LL, 34359738368LL);

    const std::string endMonth = subscriptionEnd.toString("yyyy.MM").toStdString();
    const std::string afterEnd = subscriptionEnd.addMonths(1).toString("yyyy.MM").toStdString();
    maps.AddMap(installed);
    maps.AddMap(Served("EUR_2022_12", "2022.12", "EUR", "Europa alt"));
    maps.AddMap(Served("EUR_2024_12", "2024.12", "EUR", "\xc3\x96sterreich & Europa", true));
    maps.AddMap(Served("NAM_2024_06", "2024.06", "NAM", "Nordamerika"));
    maps.AddMap(Served("EUR_END", endMonth, "EUR", "Europa Ende"));
    maps.AddMap(Served("EUR_LATER", afterEnd, "EUR", "Europa sp\xc3\xa4ter"));
    maps.AddMap(Served("EUR_BAD_RELEASE", "2024-07", "EUR", "Europa kaputt"));
    maps.SetRelated("EUR_2023_06", {"EUR_2022_12", "EUR_2023_06", "EUR_2024_06", "EUR_2024_12", "NAM_2024_06",
                                    "EUR_END", "EUR_LATER", "EUR_BAD_RELEASE"});

    UsbInfo usb;
    usb.id = 7;
    usb.path = stick.Path();
    usb.state = UsbInfo::ValidMetadata;
    usb.active = true;
    return usb;
  }

  TestSupport::TestService service;
  MapService maps{service};
  MapStick stick;
  ServedMap installed;
  QDate subscriptionEnd;
  QString locale = "de_DE";
  std::vector<Result> results;
  std::unique_ptr<MetadataChecker> checker;
};

} // namespace

TEST_F(MetadataCheckerTest, RootCheckStoresTheNewestMapOfEveryRoot)
{
  MapInfo stale;
  stale.id = "STALE";
  stale.state = MapInfo::Pending;
  MapStorage::Get().UpdateMap(stale);

  LogCapture log;
  checker->CheckRootUpdates(Record());
  EXPECT_TRUE(results.empty()) << "a root check reports from the event loop";
  ASSERT_TRUE(WaitForResult());
  EXPECT_EQ(results, std::vector<Result>{MetadataChecker::Ok});

  const auto stored = MapStorage::Get().GetMaps();
  ASSERT_EQ(stored.size(), 2u);
  const MapInfo europe = stored.at("EUR_2024_06");
  EXPECT_EQ(europe.type, MapInfo::Optional);
  EXPECT_EQ(europe.state, MapInfo::Available);
  EXPECT_TRUE(europe.root);
  EXPECT_EQ(europe.name, L"Europa");
  EXPECT_EQ(europe.mapLineId, "EUR");
  EXPECT_EQ(europe.release, "2024.06");
  EXPECT_EQ(europe.region, "EUR");
  EXPECT_EQ(europe.url, service.Url("/archives/EUR_2024_06.tar").toStdString());
  EXPECT_EQ(europe.checksum, "0123456789abcdef0123456789abcdef");
  EXPECT_EQ(europe.size, 7340032000LL);
  EXPECT_EQ(europe.downloaded, 0);
  EXPECT_EQ(stored.at("NAM_2024_03").name, L"Nordamerika");
  EXPECT_TRUE(stored.at("NAM_2024_03").root);
  EXPECT_EQ(RootMaps().size(), 2u);

  // Every request carries the key, the locale requests the user's language.
  for (const auto& request : service.Requests())
    EXPECT_EQ(request.Query("key"), "test-key") << request.requestLine.constData();
  ASSERT_EQ(maps.Requests("localedata").size(), 2);
  for (const auto& request : maps.Requests("localedata"))
    EXPECT_EQ(request.Header("Accept-Language"), "de-DE");
  EXPECT_EQ(maps.Requests("allroots").size(), 1);
  EXPECT_FALSE(maps.Requests("allroots")[0].query.hasQueryItem("id"));

  EXPECT_TRUE(log.Contains("Checking root updates"));
  EXPECT_TRUE(log.Contains("Removing all maps"));
  EXPECT_TRUE(log.Contains("Sending AllRoots request"));
  EXPECT_TRUE(log.Contains("Sending AllNewest request for map: EUR_ROOT"));
  EXPECT_TRUE(log.Contains("Sending Metadata request for map: NAM_2024_03"));
  EXPECT_TRUE(log.Contains("Sending DownloadInfo request for map: EUR_2024_06"));
  EXPECT_TRUE(log.Contains("Sending LocaleData request for map: EUR_2024_06"));
}

TEST_F(MetadataCheckerTest, RootCheckWithoutRootsIsOkWithoutMaps)
{
  maps.Override("allroots", "", {Answer::Ok(MapService::PackageListXml({}))});
  checker->CheckRootUpdates(Record());
  ASSERT_TRUE(WaitForResult());
  EXPECT_EQ(results, std::vector<Result>{MetadataChecker::Ok});
  EXPECT_TRUE(MapStorage::Get().GetMaps().empty());
}

TEST_F(MetadataCheckerTest, RootCheckTakesAGroupLikeAPackage)
{
  ServedMap group = Served("EUR_2024_06", "2024.06", "EUR", "Europa Gruppe");
  group.group = true;
  maps.AddMap(group);
  checker->CheckRootUpdates(Record());
  ASSERT_TRUE(WaitForResult());
  EXPECT_EQ(results, std::vector<Result>{MetadataChecker::Ok});
  EXPECT_EQ(MapStorage::Get().GetMap("EUR_2024_06").name, L"Europa Gruppe");
}

TEST_F(MetadataCheckerTest, RelatedCheckOffersNewerMapsOfTheRegionWithinTheSubscription)
{
  const UsbInfo usb = RelatedSetUp();
  LogCapture log;
  checker->CheckRelatedUpdates(usb, Record());
  EXPECT_TRUE(results.empty());
  ASSERT_TRUE(WaitForResult());
  EXPECT_EQ(results, std::vector<Result>{MetadataChecker::Ok});

  const HeadUnitInfo headUnit = MapStorage::Get().GetHeadUnit();
  EXPECT_EQ(headUnit.subscriptionEnd, subscriptionEnd);
  EXPECT_EQ(headUnit.availableMapSpace, 8589934592LL);
  EXPECT_EQ(headUnit.totalMapSpace, 8589934592LL + 34359738368LL);

  const auto stored = MapStorage::Get().GetMaps();
  std::vector<std::string> ids;
  for (const auto& entry : stored)
    ids.push_back(entry.first);
  std::sort(ids.begin(), ids.end());
  EXPECT_EQ(ids, (std::vector<std::string>{"EUR_2023_06", "EUR_2024_06", "EUR_2024_12", "EUR_END"}));

  const MapInfo current = InstalledMap();
  EXPECT_EQ(current.id, "EUR_2023_06");
  EXPECT_EQ(current.type, MapInfo::Installed);
  EXPECT_EQ(current.state, MapInfo::Available);
  EXPECT_FALSE(current.root);
  EXPECT_EQ(current.name, L"Europa 2023");
  EXPECT_EQ(current.url, service.Url("/archives/EUR_2023_06.tar").toStdString());
  EXPECT_EQ(current.size, 7340032000LL);

  const MapInfo mandatory = stored.at("EUR_2024_12");
  EXPECT_EQ(mandatory.type, MapInfo::Mandatory);
  EXPECT_EQ(mandatory.name, L"\u00d6sterreich & Europa");
  EXPECT_EQ(mandatory.checksum, "0123456789abcdef0123456789abcdef");
  EXPECT_FALSE(mandatory.root);
  EXPECT_EQ(stored.at("EUR_2024_06").type, MapInfo::Optional);
  EXPECT_EQ(stored.at("EUR_END").type, MapInfo::Optional);
  EXPECT_EQ(MandatoryMap().id, "EUR_2024_12");
  EXPECT_EQ(OptionalMap().id, "EUR_END");

  // The installed map's metadata comes from the stick, not from the service.
  for (const auto& request : maps.Requests("metadata"))
    EXPECT_NE(request.Query("id"), "EUR_2023_06");
  EXPECT_EQ(maps.Requests("allrelated").size(), 1);
  EXPECT_EQ(maps.Requests("allrelated")[0].Query("id"), "EUR_2023_06");
  EXPECT_TRUE(log.Contains("Removing map: NAM_2024_06"));
  EXPECT_TRUE(log.Contains("Removing map: EUR_2022_12"));
  EXPECT_TRUE(log.Contains("Removing map: EUR_LATER"));
  EXPECT_TRUE(log.Contains("Removing map: EUR_BAD_RELEASE"));
}

TEST_F(MetadataCheckerTest, RelatedCheckWithAnExpiredSubscription)
{
  UsbInfo usb = RelatedSetUp();
  stick.WriteHeadUnit(QDate::currentDate().addDays(-1).toString(Qt::ISODate).toStdString(), 1, 2);
  checker->CheckRelatedUpdates(usb, Record());
  ASSERT_TRUE(WaitForResult());
  EXPECT_EQ(results, std::vector<Result>{MetadataChecker::SubscriptionExpired});
  // Only what was released before the end is offered; the installed map stays.
  const auto stored = MapStorage::Get().GetMaps();
  EXPECT_EQ(stored.size(), 3u);
  EXPECT_EQ(InstalledMap().id, "EUR_2023_06");
  EXPECT_TRUE(MapStorage::Get().GetMap("EUR_2024_12").Valid());
  EXPECT_FALSE(MapStorage::Get().GetMap("EUR_END").Valid());
  EXPECT_EQ(MapStorage::Get().GetHeadUnit().totalMapSpace, 3);
}

TEST_F(MetadataCheckerTest, RelatedCheckEndingToday)
{
  UsbInfo usb = RelatedSetUp();
  stick.WriteHeadUnit(QDate::currentDate().toString(Qt::ISODate).toStdString(), 1, 2);
  checker->CheckRelatedUpdates(usb, Record());
  ASSERT_TRUE(WaitForResult());
  EXPECT_EQ(results, std::vector<Result>{MetadataChecker::Ok});
}

TEST_F(MetadataCheckerTest, RelatedListWithoutUpdatesIsOkWithTheInstalledMap)
{
  UsbInfo usb = RelatedSetUp();
  maps.SetRelated("EUR_2023_06", {});
  checker->CheckRelatedUpdates(usb, Record());
  ASSERT_TRUE(WaitForResult());
  EXPECT_EQ(results, std::vector<Result>{MetadataChecker::Ok});
  EXPECT_EQ(MapStorage::Get().GetMaps().size(), 1u);
  EXPECT_EQ(InstalledMap().name, L"Europa 2023");
}

TEST_F(MetadataCheckerTest, DuplicateIdsAreRequestedOnceWithAWarning)
{
  UsbInfo usb = RelatedSetUp();
  maps.SetRelated("EUR_2023_06", {"EUR_2024_06", "EUR_2024_06", "EUR_2023_06"});
  LogCapture log;
  checker->CheckRelatedUpdates(usb, Record());
  ASSERT_TRUE(WaitForResult());
  EXPECT_EQ(results, std::vector<Result>{MetadataChecker::Ok});
  EXPECT_EQ(maps.Requests("metadata").size(), 1);
  EXPECT_EQ(MapStorage::Get().GetMaps().size(), 2u);
  EXPECT_EQ(log.Count("Metadata request is already in progress"), 1);
  const auto lines = log.Lines();
  const auto warning = std::find_if(lines.begin(), lines.end(), [](const std::string& line) {
    return line.find("Metadata request is already in progress") != std::string::npos;
  });
  ASSERT_NE(warning, lines.end());
  EXPECT_NE(warning->find("| Warning |"), std::string::npos) << *warning;
}

TEST_F(MetadataCheckerTest, StickInInvalidStateIsReportedAtOnceAndChangesNothing)
{
  MapInfo kept;
  kept.id = "KEPT";
  kept.state = MapInfo::Available;
  MapStorage::Get().UpdateMap(kept);
  UsbInfo usb = RelatedSetUp();
  usb.state = UsbInfo::InvalidMetadata;
  checker->CheckRelatedUpdates(usb, Record());
  EXPECT_EQ(results, std::vector<Result>{MetadataChecker::InvalidMetadata});
  EXPECT_TRUE(MapStorage::Get().GetMap("KEPT").Valid());
  EXPECT_EQ(service.RequestCount(), 0);
}

struct StickCase
{
  const char* name;
  std::function<void(MapStick&)> spoil;
  Result expected;
};

void PrintTo(const StickCase& test, std::ostream* os)
{
  *os << test.name;
}

class MetadataCheckerStickTest : public MetadataCheckerTest, public testing::WithParamInterface<StickCase>
{
};

// What is wrong on the stick is reported before the call returns, and nothing
// is asked of the service.
TEST_P(MetadataCheckerStickTest, StickFailureIsReportedAtOnce)
{
  UsbInfo usb = RelatedSetUp();
  GetParam().spoil(stick);
  checker->CheckRelatedUpdates(usb, Record());
  EXPECT_EQ(results, std::vector<Result>{GetParam().expected});
  EXPECT_EQ(service.RequestCount(), 0);
  EXPECT_FALSE(InstalledMap().Valid());
  // A later event loop turn brings nothing more.
  QCoreApplication::processEvents();
  EXPECT_EQ(results.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Stick, MetadataCheckerStickTest,
    testing::Values(
        StickCase{"Pulled", [](MapStick& stick) { stick.Remove(); }, MetadataChecker::UsbRemoved},
        StickCase{
            "NoMetadataFolder",
            [](MapStick& stick) { QDir(QString::fromStdString(stick.MetadataFolder())).removeRecursively(); },
            MetadataChecker::NoMetadata},
        StickCase{"NoMetadataFile",
                  [](MapStick& stick) {
                    QFile::remove(QString::fromStdString(stick.MetadataFolder() + "/EUR_2023_06.xml"));
                  },
                  MetadataChecker::NoMetadata},
        StickCase{"MetadataFileOfAnotherName",
                  [](MapStick& stick) {
                    QFile::rename(QString::fromStdString(stick.MetadataFolder() + "/EUR_2023_06.xml"),
                                  QString::fromStdString(stick.MetadataFolder() + "/other.xml"));
                  },
                  MetadataChecker::NoMetadata},
        StickCase{"MalformedMetadata",
                  [](MapStick& stick) {
                    stick.Write("OrvaneNDSUpdate/meta_data/EUR_2023_06.xml",
                                "<tns:package><tns:id>EUR_2023_06");
                  },
                  MetadataChecker::InvalidMetadata},
        StickCase{"MetadataWithoutRegion",
                  [](MapStick& stick) {
                    stick.Write("OrvaneNDSUpdate/meta_data/EUR_2023_06.xml",
                                "<tns:package><tns:id>EUR_2023_06</tns:id><tns:mapLineId>EUR</tns:mapLineId>"
                                "<tns:release>2023.06</tns:release></tns:package>");
                  },
                  MetadataChecker::InvalidMetadata},
        StickCase{"NoHeadUnitFile",
                  [](MapStick& stick) {
                    QFile::remove(QString::fromStdString(stick.MetadataFolder() + "/GENERAL.JSON"));
                  },
                  MetadataChecker::InvalidMetadata},
        StickCase{"HeadUnitFileNotJson",
                  [](MapStick& stick) {
                    stick.Write("OrvaneNDSUpdate/meta_data/GENERAL.JSON", "subscription: soon");
                  },
                  MetadataChecker::InvalidMetadata},
        StickCase{"MalformedDate", [](MapStick& stick) { stick.WriteHeadUnit("31.03.2027", 1, 2); },
                  MetadataChecker::InvalidMetadata},
        StickCase{"SizeNotANumber",
                  [](MapStick& stick) {
                    stick.Write(
                        "OrvaneNDSUpdate/meta_data/GENERAL.JSON",
                        "{\"subscription_end_date\": \"2030-01-01\", \"available_map_space\": \"lots\", "
                        "\"used_map_space\": 1}");
                  },
                  MetadataChecker::InvalidMetadata},
        StickCase{"NoSubscription", [](MapStick& stick) { stick.WriteHeadUnit("", 1, 2); },
                  MetadataChecker::NoSubscription}),
    [](const testing::TestParamInfo<StickCase>& info) { return std::string(info.param.name); });

TEST_F(MetadataCheckerTest, NoSubscriptionStoresTheHeadUnit)
{
  UsbInfo usb = RelatedSetUp();
  stick.WriteHeadUnit("", 5, 6);
  checker->CheckRelatedUpdates(usb, Record());
  EXPECT_EQ(results, std::vector<Result>{MetadataChecker::NoSubscription});
  const HeadUnitInfo headUnit = MapStorage::Get().GetHeadUnit();
  EXPECT_FALSE(headUnit.subscriptionEnd.isValid());
  EXPECT_EQ(headUnit.availableMapSpace, 5);
  EXPECT_EQ(headUnit.totalMapSpace, 11);
}

TEST_F(MetadataCheckerTest, InstalledMetadataIsTheFileNamedAfterItsMap)
{
  UsbInfo usb = RelatedSetUp();
  // Files that sort earlier: one that names another map, one that is broken.
  stick.WriteMetadata(Served("AAA", "2020.01", "EUR", "x"));
  stick.Write("OrvaneNDSUpdate/meta_data/AAB.xml",
              MapService::MetadataXml(Served("ZZZ", "2020.01", "EUR", "x")).toStdString());
  stick.Write("OrvaneNDSUpdate/meta_data/._EUR_2023_06.XML", "\x00\x05\x16\x07");
  maps.SetRelated("EUR_2023_06", {});
  maps.SetRelated("AAA", {});
  maps.AddMap(Served("AAA", "2020.01", "EUR", "x"));
  checker->CheckRelatedUpdates(usb, Record());
  ASSERT_TRUE(WaitForResult());
  EXPECT_EQ(results, std::vector<Result>{MetadataChecker::Ok});
  // AAA.xml holds AAA and comes first in name order.
  EXPECT_EQ(InstalledMap().id, "AAA");
}

struct ServiceFault
{
  const char* name;
  QString operation;
  std::string id;
  QList<Answer> answers;
  Result expected;
};

void PrintTo(const ServiceFault& test, std::ostream* os)
{
  *os << test.name;
}

class MetadataCheckerFaultTest : public MetadataCheckerTest, public testing::WithParamInterface<ServiceFault>
{
};

// Each fault of the service ends the check with one result, whatever is
// still outstanding.
TEST_P(MetadataCheckerFaultTest, ServiceFaultEndsTheCheck)
{
  // Failed transfers are retried within a window; shorten it.
  Tesk::Request::SetTimeScaleForTesting(0.2);
  const UsbInfo usb = RelatedSetUp();
  const ServiceFault& fault = GetParam();
  maps.Override(fault.operation, fault.id, fault.answers);
  if (fault.operation == "allroots" || fault.operation == "allnewest")
    checker->CheckRootUpdates(Record());
  else
    checker->CheckRelatedUpdates(usb, Record());
  ASSERT_TRUE(WaitForResult());
  EXPECT_EQ(results, std::vector<Result>{fault.expected});
  QCoreApplication::processEvents();
  EXPECT_EQ(results.size(), 1u);
}

namespace {

QByteArray Xml(const std::string& text)
{
  return QByteArray::fromStdString(text);
}

const std::string DownloadHead = "<tns:downloadInfo><tns:url>http://127.0.0.1/a.tar</tns:url><tns:checksum>"
                                 "9e107d9d372bb6826bd81d3542a419d6</tns:checksum><tns:size>";

} // namespace

INSTANTIATE_TEST_SUITE_P(
    Service, MetadataCheckerFaultTest,
    testing::Values(
        ServiceFault{"RootsServerError", "allroots", "", {Answer::Status(500)}, MetadataChecker::ServerError},
        ServiceFault{
            "RootsUnauthorized", "allroots", "", {Answer::Status(401)}, MetadataChecker::ServerError},
        ServiceFault{"RootsNotWellFormed",
                     "allroots",
                     "",
                     {Answer::Ok("<tns:packageList><tns:packageId>")},
                     MetadataChecker::ServerError},
        ServiceFault{"RootsDropped", "allroots", "", {Answer::Drop()}, MetadataChecker::NoConnection},
        ServiceFault{
            "NewestNotFound", "allnewest", "NAM_ROOT", {Answer::Status(404)}, MetadataChecker::ServerError},
        ServiceFault{
            "RelatedDropped", "allrelated", "EUR_2023_06", {Answer::Drop()}, MetadataChecker::NoConnection},
        ServiceFault{"RelatedNotAList",
                     "allrelated",
                     "EUR_2023_06",
                     {Answer::Ok("<tns:package/>")},
                     MetadataChecker::ServerError},
        ServiceFault{"MetadataWithoutRelease",
                     "metadata",
                     "EUR_2024_06",
                     {Answer::Ok("<tns:package><tns:id>EUR_2024_06</tns:id><tns:mapLineId>EUR</tns:mapLineId>"
                                 "<tns:region>EUR</tns:region></tns:package>")},
                     MetadataChecker::ServerError},
        ServiceFault{"MetadataOfAnotherMap",
                     "metadata",
                     "EUR_2024_06",
                     {Answer::Ok(MapService::MetadataXml(Served("EUR_2024_12", "2024.12", "EUR", "x")))},
                     MetadataChecker::ServerError},
        ServiceFault{"SizeNotANumber",
                     "downloadinfo",
                     "EUR_2024_12",
                     {Answer::Ok(Xml(DownloadHead + "7 GB</tns:size></tns:downloadInfo>"))},
                     MetadataChecker::ServerError},
        ServiceFault{"SizeOverflowing",
                     "downloadinfo",
                     "EUR_2023_06",
                     {Answer::Ok(Xml(DownloadHead + "99999999999999999999</tns:size></tns:downloadInfo>"))},
                     MetadataChecker::ServerError},
        ServiceFault{"HugeName",
                     "localedata",
                     "EUR_2024_06",
                     {Answer::Ok(Xml("<tns:localeData><tns:name>" + std::string(5 * 1024 * 1024, 'x') +
                                     "</tns:name></tns:localeData>"))},
                     MetadataChecker::ServerError},
        ServiceFault{
            "NameMissing", "localedata", "EUR_2023_06", {Answer::Status(404)}, MetadataChecker::ServerError},
        ServiceFault{"NameCutOff",
                     "localedata",
                     "EUR_END",
                     {Answer::Ok(MapService::LocaleDataXml("de-DE", "x")).CloseAfter(20)},
                     MetadataChecker::NoConnection}),
    [](const testing::TestParamInfo<ServiceFault>& info) { return std::string(info.param.name); });

TEST_F(MetadataCheckerTest, AbortDropsEveryRequestAndReportsNothing)
{
  maps.Override("allnewest", "EUR_ROOT", {Answer::Silent()});
  checker->CheckRootUpdates(Record());
  ASSERT_TRUE(QTest::qWaitFor([&] { return maps.Requests("allnewest").size() == 2; }, 20000));
  ASSERT_TRUE(
      QTest::qWaitFor([&] { return MapStorage::Get().GetMap("NAM_2024_03").name == L"Nordamerika"; }, 20000));

  LogCapture log;
  checker->Abort();
  EXPECT_TRUE(log.Contains("Aborting all requests"));
  // The held request's connection is given up.
  ASSERT_TRUE(QTest::qWaitFor([&] { return service.OpenConnections() == 0; }, 20000));
  QCoreApplication::processEvents();
  EXPECT_TRUE(results.empty());

  // The checker is ready for the next check.
  maps.Override("allnewest", "EUR_ROOT", {Answer::Ok(MapService::PackageListXml({"EUR_2024_06"}))});
  std::vector<Result> second;
  checker->CheckRootUpdates([&](Result result) { second.push_back(result); });
  ASSERT_TRUE(QTest::qWaitFor([&] { return !second.empty(); }, 60000));
  EXPECT_EQ(second, std::vector<Result>{MetadataChecker::Ok});
  EXPECT_TRUE(results.empty());
  EXPECT_EQ(MapStorage::Get().GetMaps().size(), 2u);
}

// A check that starts while another runs takes its place: the earlier check's
// replies, even those already on their way, change nothing and report nothing.
TEST_F(MetadataCheckerTest, NewCheckMakesLateRepliesHarmless)
{
  maps.AddMap(Served("OLD_MAP", "2024.01", "EUR", "Alt"));
  maps.Override("allnewest", "EUR_ROOT",
                {Answer::Ok(MapService::PackageListXml({"OLD_MAP"})).HoldAfter(40),
                 Answer::Ok(MapService::PackageListXml({"EUR_2024_06"}))});
  checker->CheckRootUpdates(Record());
  ASSERT_TRUE(QTest::qWaitFor([&] { return maps.Requests("allnewest").size() == 2; }, 20000));

  std::vector<Result> second;
  LogCapture log;
  checker->CheckRootUpdates([&](Result result) { second.push_back(result); });
  ASSERT_TRUE(QTest::qWaitFor([&] { return !second.empty(); }, 60000));
  EXPECT_EQ(second, std::vector<Result>{MetadataChecker::Ok});
  // The second check asked afresh instead of waiting for the first one's request.
  EXPECT_EQ(log.Count("Sending AllNewest request for map: EUR_ROOT"), 1);
  EXPECT_EQ(log.Count("AllNewest request is already in progress"), 0);

  service.ReleaseHeld();
  ASSERT_TRUE(QTest::qWaitFor([&] { return service.OpenConnections() == 0; }, 20000));
  QCoreApplication::processEvents();
  EXPECT_TRUE(results.empty());
  EXPECT_EQ(second.size(), 1u);
  EXPECT_FALSE(MapStorage::Get().GetMap("OLD_MAP").Valid());
  for (const auto& request : maps.Requests("metadata"))
    EXPECT_NE(request.Query("id"), "OLD_MAP");
  EXPECT_EQ(MapStorage::Get().GetMaps().size(), 2u);
}

// A related check after a root check: the root check's replies no longer count.
TEST_F(MetadataCheckerTest, RelatedCheckReplacesARunningRootCheck)
{
  const UsbInfo usb = RelatedSetUp();
  maps.Override("downloadinfo", "NAM_2024_03", {Answer::Silent()});
  checker->CheckRootUpdates(Record());
  ASSERT_TRUE(QTest::qWaitFor([&] { return maps.Requests("downloadinfo").size() == 2; }, 20000));
  std::vector<Result> related;
  checker->CheckRelatedUpdates(usb, [&](Result result) { related.push_back(result); });
  ASSERT_TRUE(QTest::qWaitFor([&] { return !related.empty(); }, 60000));
  EXPECT_EQ(related, std::vector<Result>{MetadataChecker::Ok});
  EXPECT_TRUE(results.empty());
  EXPECT_TRUE(RootMaps().empty());
  EXPECT_EQ(InstalledMap().id, "EUR_2023_06");
}

class MetadataCheckerOrderTest : public MetadataCheckerTest, public testing::WithParamInterface<bool>
{
};

// Two requests of one kind, for two maps, complete in either order, and each
// reply is handled for its own map.
TEST_P(MetadataCheckerOrderTest, RepliesOfOneKindInEitherOrder)
{
  const bool europeFirst = GetParam();
  const std::string late = europeFirst ? "NAM_2024_03" : "EUR_2024_06";
  const std::string early = europeFirst ? "EUR_2024_06" : "NAM_2024_03";
  const ServedMap lateMap = late == "EUR_2024_06" ? Served("EUR_2024_06", "2024.06", "EUR", "Europa")
                                                  : Served("NAM_2024_03", "2024.03", "NAM", "Nordamerika");
  maps.Override("metadata", late, {Answer::Ok(MapService::MetadataXml(lateMap)).HoldAfter(0)});

  checker->CheckRootUpdates(Record());
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        const MapInfo map = MapStorage::Get().GetMap(early);
        return map.size > 0 && map.name.substr(0, 4) != L"meta";
      },
      20000));
  EXPECT_FALSE(MapStorage::Get().GetMap(late).Valid());
  EXPECT_TRUE(results.empty());

  service.ReleaseHeld();
  ASSERT_TRUE(WaitForResult());
  EXPECT_EQ(results, std::vector<Result>{MetadataChecker::Ok});
  const MapInfo europe = MapStorage::Get().GetMap("EUR_2024_06");
  const MapInfo america = MapStorage::Get().GetMap("NAM_2024_03");
  EXPECT_EQ(europe.region, "EUR");
  EXPECT_EQ(europe.name, L"Europa");
  EXPECT_EQ(europe.url, service.Url("/archives/EUR_2024_06.tar").toStdString());
  EXPECT_EQ(america.region, "NAM");
  EXPECT_EQ(america.name, L"Nordamerika");
  EXPECT_EQ(america.url, service.Url("/archives/NAM_2024_03.tar").toStdString());
}

INSTANTIATE_TEST_SUITE_P(Order, MetadataCheckerOrderTest, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& info) {
                           return std::string(info.param ? "EuropeFirst" : "AmericaFirst");
                         });

TEST_F(MetadataCheckerTest, UpdateLocaleRenamesTheStoredMaps)
{
  checker->CheckRootUpdates(Record());
  ASSERT_TRUE(WaitForResult());
  ASSERT_EQ(MapStorage::Get().GetMap("EUR_2024_06").name, L"Europa");

  locale = "fr_FR";
  LogCapture log;
  checker->UpdateLocale();
  EXPECT_TRUE(log.Contains("Updating map names"));
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        return MapStorage::Get().GetMap("EUR_2024_06").name == L"fr EUR_2024_06" &&
               MapStorage::Get().GetMap("NAM_2024_03").name == L"fr NAM_2024_03";
      },
      20000));
  const auto requests = maps.Requests("localedata");
  ASSERT_EQ(requests.size(), 4);
  EXPECT_EQ(requests[3].Header("Accept-Language"), "fr-FR");
  EXPECT_EQ(results.size(), 1u);
  // Everything else about the maps stays.
  EXPECT_EQ(MapStorage::Get().GetMap("EUR_2024_06").size, 7340032000LL);
}

TEST_F(MetadataCheckerTest, EmptyCallbackIsRefused)
{
  EXPECT_THROW(
      {
        try {
          checker->CheckRootUpdates(nullptr);
        } catch (const std::logic_error& error) {
          EXPECT_STREQ(error.what(), "Failed to check root updates: callback is empty");
          throw;
        }
      },
      std::logic_error);
  EXPECT_THROW(
      {
        try {
          checker->CheckRelatedUpdates(UsbInfo(), nullptr);
        } catch (const std::logic_error& error) {
          EXPECT_STREQ(error.what(), "Failed to check related updates: callback is empty");
          throw;
        }
      },
      std::logic_error);
  EXPECT_EQ(service.RequestCount(), 0);
}

TEST_F(MetadataCheckerTest, DestroyingTheCheckerWithRequestsOutstandingReportsNothing)
{
  maps.Override("metadata", "EUR_2024_06", {Answer::Silent()});
  checker->CheckRootUpdates(Record());
  ASSERT_TRUE(QTest::qWaitFor([&] { return maps.Requests("metadata").size() == 2; }, 20000));
  checker.reset();
  ASSERT_TRUE(QTest::qWaitFor([&] { return service.OpenConnections() == 0; }, 20000));
  QCoreApplication::processEvents();
  EXPECT_TRUE(results.empty());
}

// The checker is built on one thread and runs on another, as the update
// manager builds it on the main thread and runs it on its worker. Here the
// building thread is gone before the check starts: nothing of the checker's
// network access may belong to it.
TEST_F(MetadataCheckerTest, RunsOnTheThreadThatUsesIt)
{
  checker.reset();
  std::thread([&] { checker = std::make_unique<MetadataChecker>(MakeSetup()); }).join();

  QThread worker;
  worker.start();
  QObject context;
  context.moveToThread(&worker);

  std::atomic<int> result{-1};
  std::atomic<QThread*> reportedOn{nullptr};
  QMetaObject::invokeMethod(&context, [&] {
    checker->CheckRootUpdates([&](Result value) {
      reportedOn = QThread::currentThread();
      result = value;
    });
  });
  ASSERT_TRUE(QTest::qWaitFor([&] { return result != -1; }, 60000));
  EXPECT_EQ(result, MetadataChecker::Ok);
  EXPECT_EQ(reportedOn, &worker);
  EXPECT_EQ(MapStorage::Get().GetMap("EUR_2024_06").name, L"Europa");

  // Destroyed where its requests live.
  QMetaObject::invokeMethod(
      &context, [&] { checker.reset(); }, Qt::BlockingQueuedConnection);
  worker.quit();
  worker.wait();
}
