#include "fmu/MetadataChecker.h"

#include "fmu/MapStorage.h"

#include "DataHome.h"
#include "LogCapture.h"
#include "MapStick.h"
#include "TimeScale.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>

using namespace TestSupport;
using Result = MetadataChecker::Result;
using Results = std::vector<Result>;

namespace {

const std::string Meta = "OrvaneNDSUpdate/meta_data/";

std::string Date(const QDate& date, const char* format = "yyyy-MM-dd")
{
  return date.toString(format).toStdString();
}

// A stored map in one line: id, type, state, root flag, name, line, region,
// release, checksum, size, downloaded, and the address's file name.
std::string Stored(const MapInfo::Id& id)
{
  const MapInfo map = MapStorage::Get().GetMap(id);
  std::ostringstream text;
  text << map.id << " " << map.type << " " << map.state << (map.root ? " root " : " ")
       << QString::fromStdWString(map.name).toStdString() << " " << map.mapLineId << " " << map.region << " "
       << map.release << " " << map.checksum << " " << map.size << " " << map.downloaded << " "
       << map.url.substr(map.url.rfind('/') + 1);
  return text.str();
}

const std::string Figures = " 0123456789abcdef0123456789abcdef 7340032000 0 ";

class MetadataCheckerTest : public testing::Test
{
protected:
  void SetUp() override
  {
    MapStorage::Get().Clear();
    maps.AddMap(MakeServedMap("EUR_2024_06", "2024.06", "EUR", "Europa"));
    maps.AddMap(MakeServedMap("NAM_2024_03", "2024.03", "NAM", "Nordamerika"));
    maps.AddRoot("EUR_ROOT", {"EUR_2024_06"});
    maps.AddRoot("NAM_ROOT", {"NAM_2024_03"});
    checker = std::make_unique<MetadataChecker>(
        MetadataChecker::Setup{maps.Url(), maps.Key(), "OrvaneNDSUpdate/meta_data", Meta + "GENERAL.JSON",
                               [this] { return locale; }});
  }
  void TearDown() override
  {
    checker.reset();
    MapStorage::Get().Clear();
  }

  static MetadataChecker::Callback Record(Results& into)
  {
    return [&into](Result result) { into.push_back(result); };
  }
  // Runs a check to its end: the results it reported (from the event loop).
  Results Check(const UsbInfo* usb = nullptr)
  {
    Results results;
    usb ? checker->CheckRelatedUpdates(*usb, Record(results)) : checker->CheckRootUpdates(Record(results));
    EXPECT_TRUE(results.empty()) << "reported before the event loop ran";
    WaitFor([&] { return !results.empty(); }, 60000);
    QCoreApplication::processEvents();
    return results;
  }
  // Lets the service see every connection closed and the loop deliver what
  // is left, so that a late report would show.
  void Settle()
  {
    ASSERT_TRUE(WaitFor([&] { return service.OpenConnections() == 0; }));
    QCoreApplication::processEvents();
  }

  // The stick of a vehicle with EUR_2023_06 installed and a subscription that
  // ends in a year; the service relates every EUR and NAM map to it.
  UsbInfo RelatedSetUp(MapStick* on = nullptr)
  {
    on = on ? on : &stick;
    const ServedMap installed = MakeServedMap("EUR_2023_06", "2023.06", "EUR", "Europa 2023");
    const QDate subscriptionEnd = QDate::currentDate().addYears(1);
    on->WriteMetadata(installed);
    on->WriteHeadUnit(Date(subscriptionEnd), 8589934592LL, 34359738368LL);
    maps.AddMap(installed);
    maps.AddMap(MakeServedMap("EUR_2022_12", "2022.12", "EUR", "Europa alt"));
    maps.AddMap(MakeServedMap("EUR_SAME", "2023.06", "EUR", "Europa gleich"));
    maps.AddMap(MakeServedMap("EUR_2024_12", "2024.12", "EUR", "\xc3\x96sterreich & Europa", true));
    maps.AddMap(MakeServedMap("NAM_2024_06", "2024.06", "NAM", "Nordamerika"));
    maps.AddMap(MakeServedMap("EUR_END", Date(subscriptionEnd, "yyyy.MM"), "EUR", "Europa Ende"));
    maps.AddMap(MakeServedMap("EUR_LATER", Date(subscriptionEnd.addMonths(1), "yyyy.MM"), "EUR",
                              "Europa sp\xc3\xa4ter"));
    maps.AddMap(MakeServedMap("EUR_BAD_RELEASE", "2024-07", "EUR", "Europa kaputt"));
    maps.SetRelated("EUR_2023_06", {"EUR_2022_12", "EUR_SAME", "EUR_2023_06", "EUR_2024_06", "EUR_2024_12",
                                    "NAM_2024_06", "EUR_END", "EUR_LATER", "EUR_BAD_RELEASE"});
    return {7, on->Path(), 0, 0, UsbInfo::ValidMetadata, true};
  }

  TestService service;
  MapService maps{service};
  MapStick stick;
  QString locale = "de_DE";
  std::unique_ptr<MetadataChecker> checker;
};

} // namespace

TEST_F(MetadataCheckerTest, RootCheckStoresTheNewestMapOfEveryRootInTheUsersLanguage)
{
  ServedMap group = MakeServedMap("NAM_2024_03", "2024.03", "NAM", "Nordamerika");
  group.group = true; // a group is taken like a package
  maps.AddMap(group);
  // Two requests of one kind complete in the other order than they were
  // sent, and each reply is handled for its own map.
  maps.Override("metadata", "EUR_2024_06",
                {Answer::Ok(MapService::MetadataXml(MakeServedMap("EUR_2024_06", "2024.06", "EUR", "Europa")))
                     .HoldAfter(0)});

  Results results;
  checker->CheckRootUpdates(Record(results));
  EXPECT_TRUE(results.empty()) << "a root check reports from the event loop";
  ASSERT_TRUE(WaitFor([&] { return MapStorage::Get().GetMap("NAM_2024_03").size > 0; }));
  EXPECT_FALSE(MapStorage::Get().GetMap("EUR_2024_06").Valid());
  service.ReleaseHeld();
  ASSERT_TRUE(WaitFor([&] { return !results.empty(); }));
  EXPECT_EQ(results, Results{MetadataChecker::Ok});
  EXPECT_EQ(MapStorage::Get().GetMaps().size(), 2u);
  EXPECT_EQ(Stored("EUR_2024_06"),
            "EUR_2024_06 Optional Available root Europa EUR EUR 2024.06" + Figures + "EUR_2024_06.tar");
  EXPECT_EQ(Stored("NAM_2024_03"),
            "NAM_2024_03 Optional Available root Nordamerika NAM NAM 2024.03" + Figures + "NAM_2024_03.tar");

  // A new language renames the stored maps, changes nothing else, and
  // reports the check's result once more when the last name has arrived.
  locale = "fr_FR";
  checker->UpdateLocale();
  ASSERT_TRUE(WaitFor([&] { return results.size() == 2; }));
  EXPECT_EQ(MapStorage::Get().GetMap("NAM_2024_03").name, L"fr NAM_2024_03");
  EXPECT_EQ(MapStorage::Get().GetMap("EUR_2024_06").name, L"fr EUR_2024_06");
  EXPECT_EQ(results, (Results{MetadataChecker::Ok, MetadataChecker::Ok}));

  // No roots at all is a check without maps.
  maps.Override("allroots", "", {Answer::Ok(MapService::PackageListXml({}))});
  EXPECT_EQ(Check(), Results{MetadataChecker::Ok});
  EXPECT_TRUE(MapStorage::Get().GetMaps().empty());
}

TEST_F(MetadataCheckerTest, RelatedCheckOffersNewerMapsOfTheRegionWithinTheSubscription)
{
  const UsbInfo usb = RelatedSetUp();
  EXPECT_EQ(Check(&usb), Results{MetadataChecker::Ok});
  // Other regions, older, equal and unreadable releases and those after the
  // subscription's end are left out; the installed map is kept.
  EXPECT_EQ(MapStorage::Get().GetMaps().size(), 4u);
  EXPECT_EQ(Stored("EUR_2023_06"),
            "EUR_2023_06 Installed Available Europa 2023 EUR EUR 2023.06" + Figures + "EUR_2023_06.tar");
  EXPECT_EQ(Stored("EUR_2024_12"),
            "EUR_2024_12 Mandatory Available \xc3\x96sterreich & Europa EUR EUR 2024.12" + Figures +
                "EUR_2024_12.tar");
  EXPECT_EQ(Stored("EUR_2024_06"),
            "EUR_2024_06 Optional Available Europa EUR EUR 2024.06" + Figures + "EUR_2024_06.tar");
  EXPECT_EQ(OptionalMap().id, "EUR_END");

  // Duplicate ids are asked for once.
  maps.SetRelated("EUR_2023_06", {"EUR_2024_06", "EUR_2024_06", "EUR_2023_06"});
  const int asked = maps.Requests("metadata").size();
  EXPECT_EQ(Check(&usb), Results{MetadataChecker::Ok});
  EXPECT_EQ(maps.Requests("metadata").size(), asked + 1);
  EXPECT_EQ(MapStorage::Get().GetMaps().size(), 2u);

  // A subscription that ends today has not expired.
  stick.WriteHeadUnit(Date(QDate::currentDate()), 1, 2);
  maps.SetRelated("EUR_2023_06", {});
  EXPECT_EQ(Check(&usb), Results{MetadataChecker::Ok});
  EXPECT_EQ(MapStorage::Get().GetMaps().size(), 1u)
      << "a list without updates leaves the installed map alone";
  EXPECT_EQ(InstalledMap().name, L"Europa 2023");

  // Expired: only what was released before the end is offered.
  RelatedSetUp();
  stick.WriteHeadUnit(Date(QDate::currentDate().addDays(-1)), 1, 2);
  EXPECT_EQ(Check(&usb), Results{MetadataChecker::SubscriptionExpired});
  EXPECT_EQ(MapStorage::Get().GetMaps().size(), 3u);
  EXPECT_EQ(MandatoryMap().id, "EUR_2024_12");
  EXPECT_FALSE(MapStorage::Get().GetMap("EUR_END").Valid());

  // No subscription: reported at once, with the head unit stored.
  stick.WriteHeadUnit("", 5, 6);
  const int requests = service.RequestCount();
  Results results;
  checker->CheckRelatedUpdates(usb, Record(results));
  EXPECT_EQ(results, Results{MetadataChecker::NoSubscription});
  EXPECT_EQ(service.RequestCount(), requests);
  EXPECT_FALSE(MapStorage::Get().GetHeadUnit().subscriptionEnd.isValid());
  EXPECT_EQ(MapStorage::Get().GetHeadUnit().totalMapSpace, 11);
}

// What is wrong on the stick is reported before the call returns, and nothing
// is asked of the service.
TEST_F(MetadataCheckerTest, StickFailureIsReportedAtOnce)
{
  using Spoil = std::function<void(MapStick&, UsbInfo&)>;
  const auto put = [](const std::string& file, const std::string& content) -> Spoil {
    return [=](MapStick& stick, UsbInfo&) { stick.Write(Meta + file, content); };
  };
  const auto drop = [](const std::string& file) -> Spoil {
    return [=](MapStick& stick, UsbInfo&) {
      const QString path = QString::fromStdString(stick.Path() + "/" + Meta + file);
      file.empty() ? QDir(path).removeRecursively() : QFile::remove(path);
    };
  };
  const struct
  {
    const char* name;
    Spoil spoil;
    Result expected;
  } cases[] = {
      {"marked invalid", [](MapStick&, UsbInfo& usb) { usb.state = UsbInfo::InvalidMetadata; },
       MetadataChecker::InvalidMetadata},
      {"pulled",
       [](MapStick& stick, UsbInfo&) { QDir(QString::fromStdString(stick.Path())).removeRecursively(); },
       MetadataChecker::UsbRemoved},
      {"no metadata folder", drop(""), MetadataChecker::NoMetadata},
      {"metadata file of another name",
       [](MapStick& stick, UsbInfo&) {
         QDir(QString::fromStdString(stick.MetadataFolder())).rename("EUR_2023_06.xml", "other.xml");
       },
       MetadataChecker::NoMetadata},
      {"metadata with a mismatched end tag",
       put("EUR_2023_06.xml", "<tns:package><tns:id>EUR_2023_06</tns:id></tns:pakage>"),
       MetadataChecker::InvalidMetadata},
      {"metadata without region",
       put("EUR_2023_06.xml", "<tns:package><tns:id>EUR_2023_06</tns:id><tns:mapLineId>EUR</tns:mapLineId>"
                              "<tns:release>2023.06</tns:release></tns:package>"),
       MetadataChecker::InvalidMetadata},
      {"no head-unit file", drop("GENERAL.JSON"), MetadataChecker::InvalidMetadata},
      {"malformed date", [](MapStick& stick, UsbInfo&) { stick.WriteHeadUnit("31.03.2027", 1, 2); },
       MetadataChecker::InvalidMetadata},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    MapInfo kept;
    kept.id = "KEPT";
    kept.state = MapInfo::Available;
    MapStorage::Get().UpdateMap(kept);
    MapStick fresh;
    UsbInfo usb = RelatedSetUp(&fresh);
    test.spoil(fresh, usb);
    Results results;
    checker->CheckRelatedUpdates(usb, Record(results));
    EXPECT_EQ(results, Results{test.expected});
    EXPECT_EQ(service.RequestCount(), 0);
    EXPECT_FALSE(InstalledMap().Valid());
    EXPECT_EQ(MapStorage::Get().GetMap("KEPT").Valid(), usb.state == UsbInfo::InvalidMetadata)
        << "only a stick marked invalid changes nothing";
    QCoreApplication::processEvents();
    EXPECT_EQ(results.size(), 1u) << "a later event loop turn brings nothing more";
  }

  // The installed map is the first file, by name, that holds the map it is
  // named after; a broken one before it is passed over.
  const UsbInfo usb = RelatedSetUp();
  stick.WriteMetadata(MakeServedMap("AAA", "2020.01", "EUR", "x"));
  stick.Write(Meta + "._EUR_2023_06.XML", "\x00\x05\x16\x07");
  maps.SetRelated("AAA", {});
  maps.AddMap(MakeServedMap("AAA", "2020.01", "EUR", "x"));
  EXPECT_EQ(Check(&usb), Results{MetadataChecker::Ok});
  EXPECT_EQ(InstalledMap().id, "AAA");
}

// Each fault of the service ends the check with one result, whatever is
// still outstanding.
TEST_F(MetadataCheckerTest, EachServiceFaultEndsTheCheck)
{
  TimeScale shorter(0.2); // failed transfers are retried within a window
  const UsbInfo usb = RelatedSetUp();
  const Result serverError = MetadataChecker::ServerError;
  const struct
  {
    const char* operation;
    std::string id;
    Answer answer;
    Result expected;
  } faults[] = {
      {"allroots", "", Answer::Status(500), serverError},
      {"allroots", "", Answer::Drop(), MetadataChecker::NoConnection},
      {"allnewest", "NAM_ROOT", Answer::Status(404), serverError},
      {"allrelated", "EUR_2023_06", Answer::Ok("<tns:package/>"), serverError},
      // The metadata of another map.
      {"metadata", "EUR_2024_06",
       Answer::Ok(MapService::MetadataXml(MakeServedMap("EUR_2024_12", "2024.12", "EUR", "x"))), serverError},
      {"downloadinfo", "EUR_2024_12",
       Answer::Ok(MapService::DownloadInfoXml("http://127.0.0.1/a.tar", "9e107d9d372bb6826bd81d3542a419d6", 1)
                      .replace("<tns:size>1<", "<tns:size>7 GB<")),
       serverError},
      {"localedata", "EUR_2024_06",
       Answer::Ok("<tns:localeData><tns:name>" + QByteArray(5 * 1024 * 1024, 'x') +
                  "</tns:name></tns:localeData>"),
       serverError},
      {"localedata", "EUR_2023_06", Answer::Status(404), serverError},
      // A name cut off in the middle of its reply.
      {"localedata", "EUR_END", Answer::Ok(MapService::LocaleDataXml("de-DE", "x")).CloseAfter(20),
       MetadataChecker::NoConnection},
  };
  for (const auto& fault : faults) {
    SCOPED_TRACE(fault.operation + (" " + fault.id));
    maps.Override(fault.operation, fault.id, {fault.answer});
    const bool root =
        fault.operation == std::string("allroots") || fault.operation == std::string("allnewest");
    EXPECT_EQ(Check(root ? nullptr : &usb), Results{fault.expected});
    maps.Override(fault.operation, fault.id, {});
  }
}

// A check that starts while another runs takes its place, and an aborted or
// destroyed checker drops what is outstanding: replies of the earlier check,
// even those already on their way, change nothing and report nothing.
TEST_F(MetadataCheckerTest, LateRepliesOfAReplacedAbortedOrDestroyedCheckAreHarmless)
{
  EXPECT_THROW(checker->CheckRootUpdates(nullptr), std::logic_error);
  EXPECT_THROW(checker->CheckRelatedUpdates(UsbInfo(), nullptr), std::logic_error);
  const UsbInfo usb = RelatedSetUp();
  const ServedMap old = MakeServedMap("OLD_MAP", "2024.01", "EUR", "Alt");
  maps.AddMap(old);
  maps.Override("metadata", "OLD_MAP", {Answer::Ok(MapService::MetadataXml(old)).HoldAfter(40)});
  Results first;
  // Starts a root check whose newest map of EUR_ROOT is OLD_MAP, whose
  // metadata comes late; asked again, the service names the current map.
  const auto startHeld = [&] {
    maps.Override("allnewest", "EUR_ROOT", {Answer::Ok(MapService::PackageListXml({"OLD_MAP"}))});
    const int asked = maps.Requests("metadata").size();
    checker->CheckRootUpdates(Record(first));
    ASSERT_TRUE(WaitFor([&] { return maps.Requests("metadata").size() >= asked + 2; }));
    maps.Override("allnewest", "EUR_ROOT", {});
  };
  startHeld();
  EXPECT_EQ(Check(), Results{MetadataChecker::Ok});
  EXPECT_EQ(MapStorage::Get().GetMaps().size(), 2u);

  // A related check replaces a running root check the same way.
  startHeld();
  EXPECT_EQ(Check(&usb), Results{MetadataChecker::Ok});
  EXPECT_TRUE(RootMaps().empty());
  service.ReleaseHeld();
  Settle();
  EXPECT_FALSE(MapStorage::Get().GetMap("OLD_MAP").Valid());

  // An aborted, or destroyed, checker stores nothing of a reply on its way.
  maps.SetRelated("EUR_2023_06", {"OLD_MAP"});
  for (const bool destroy : {false, true}) {
    const int asked = maps.Requests("metadata").size();
    checker->CheckRelatedUpdates(usb, Record(first));
    ASSERT_TRUE(WaitFor([&] { return maps.Requests("metadata").size() >= asked + 1; }));
    destroy ? checker.reset() : checker->Abort();
    service.ReleaseHeld();
    Settle();
    EXPECT_FALSE(MapStorage::Get().GetMap("OLD_MAP").Valid());
  }
  EXPECT_TRUE(first.empty());
}

// Names fetched in a new language report the last check's result again, by
// the rule of a check's end, once, and only after a check that came to its
// end; a running check takes them in and reports once.
TEST_F(MetadataCheckerTest, NamesFetchedAgainReportTheLastCompleteCheckOnceMore)
{
  TimeScale shorter(0.02); // failed transfers are retried within a window
  const UsbInfo usb = RelatedSetUp();
  const auto rename = [&](const char* language) {
    locale = language;
    checker->UpdateLocale();
    Settle();
  };
  const auto name = [](const MapInfo::Id& id) { return MapStorage::Get().GetMap(id).name; };

  // Expired: SubscriptionExpired again, through the related check's callback.
  stick.WriteHeadUnit(Date(QDate::currentDate().addDays(-1)), 1, 2);
  Results expired;
  checker->CheckRelatedUpdates(usb, Record(expired));
  ASSERT_TRUE(WaitFor([&] { return !expired.empty(); }));
  rename("fr_FR");
  ASSERT_TRUE(WaitFor([&] { return expired.size() == 2; }));
  EXPECT_EQ(expired, Results(2, MetadataChecker::SubscriptionExpired));
  EXPECT_EQ(name("EUR_2024_12"), L"fr EUR_2024_12");

  // Every name failing: the names stay, and nothing is reported once the last
  // of them has failed (after its retries).
  for (const auto& entry : MapStorage::Get().GetMaps())
    maps.Override("localedata", entry.first, {Answer::Status(500)});
  {
    LogCapture log;
    rename("de_DE");
    ASSERT_TRUE(WaitFor([&] {
      return log.Matching("LocaleData request failed for map: ").size() >= MapStorage::Get().GetMaps().size();
    }));
    Settle();
  }
  EXPECT_EQ(expired.size(), 2u);
  EXPECT_EQ(name("EUR_2024_12"), L"fr EUR_2024_12");
  for (const auto& entry : MapStorage::Get().GetMaps())
    maps.Override("localedata", entry.first, {});

  // After a check that failed (the installed map is stored), and after one
  // that stored no map, nothing either.
  maps.Override("allrelated", "EUR_2023_06", {Answer::Status(500)});
  Results failed;
  checker->CheckRelatedUpdates(usb, Record(failed));
  ASSERT_TRUE(WaitFor([&] { return !failed.empty(); }));
  rename("de_DE");
  maps.Override("allroots", "", {Answer::Ok(MapService::PackageListXml({}))});
  Results empty;
  checker->CheckRootUpdates(Record(empty));
  ASSERT_TRUE(WaitFor([&] { return !empty.empty(); }));
  rename("fr_FR");
  EXPECT_EQ(failed, Results{MetadataChecker::ServerError});
  EXPECT_EQ(empty, Results{MetadataChecker::Ok});

  // During a check: a name asked for in the former language is asked for
  // anew, and the check reports once.
  maps.Override("allroots", "", {});
  maps.Override("localedata", "EUR_2024_06",
                {Answer::Ok(MapService::LocaleDataXml("de-DE", "Europa alt")).HoldAfter(0)});
  locale = "de_DE";
  const int asked = maps.Requests("localedata").size();
  Results running;
  checker->CheckRootUpdates(Record(running));
  ASSERT_TRUE(WaitFor([&] { return maps.Requests("localedata").size() == asked + 2; }));
  maps.Override("localedata", "EUR_2024_06", {});
  locale = "fr_FR";
  checker->UpdateLocale();
  EXPECT_TRUE(WaitFor([&] { return !running.empty(); }));
  service.ReleaseHeld();
  Settle();
  EXPECT_EQ(running, Results{MetadataChecker::Ok});
  EXPECT_EQ(name("EUR_2024_06"), L"fr EUR_2024_06");
  EXPECT_EQ(name("NAM_2024_03"), L"fr NAM_2024_03");
}

// The default checker takes the service's address and key from config.json
// and the language from the settings.
TEST_F(MetadataCheckerTest, DefaultCheckerUsesTheConfiguredServiceAndLanguage)
{
  DataHome data;
  data.WriteConfig(QByteArray::fromStdString(
      "{\"Application\": {}, \"FullMapUpdate\": {\"UpdateSource\": \"" + maps.Url() +
      "\", \"UpdateKey\": \"" + maps.Key() + "\"}, \"MapDownload\": {\"RetryDuration\": 3}}"));
  checker = std::make_unique<MetadataChecker>();
  EXPECT_EQ(Check(), Results{MetadataChecker::Ok});
  EXPECT_EQ(MapStorage::Get().GetMap("EUR_2024_06").name, L"en EUR_2024_06");
}
