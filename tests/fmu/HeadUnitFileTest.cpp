#include "fmu/HeadUnitFile.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <fstream>

namespace {

std::string Json(const std::string& date, const std::string& available, const std::string& used)
{
  return "{\"subscription_end_date\": " + date + ", \"available_map_space\": " + available +
         ", \"used_map_space\": " + used + "}";
}

std::string ErrorOf(const std::string& json)
{
  try {
    HeadUnitFile::Parse(json);
  } catch (const HeadUnitFile::Error& error) {
    return error.what();
  } catch (const std::exception& error) {
    return std::string("WRONG EXCEPTION TYPE: ") + error.what();
  }
  return "no error";
}

} // namespace

TEST(HeadUnitFile, ReadsDateAndSpacesAsNumbersOrStrings)
{
  const HeadUnitInfo numbers = HeadUnitFile::Parse(Json("\"2027-03-31\"", "8589934592", "34359738368"));
  EXPECT_EQ(numbers.subscriptionEnd, QDate(2027, 3, 31));
  EXPECT_EQ(numbers.availableMapSpace, 8589934592LL);
  EXPECT_EQ(numbers.totalMapSpace, 8589934592LL + 34359738368LL);

  const HeadUnitInfo strings = HeadUnitFile::Parse(Json("\"2027-03-31\"", "\"100\"", "\" 50 \""));
  EXPECT_EQ(strings.availableMapSpace, 100);
  EXPECT_EQ(strings.totalMapSpace, 150);
}

TEST(HeadUnitFile, EmptyOrMissingDateMeansNoSubscription)
{
  EXPECT_FALSE(HeadUnitFile::Parse(Json("\"\"", "1", "2")).subscriptionEnd.isValid());
  const HeadUnitInfo missing = HeadUnitFile::Parse("{\"available_map_space\": 1, \"used_map_space\": 2}");
  EXPECT_FALSE(missing.subscriptionEnd.isValid());
  EXPECT_EQ(missing.totalMapSpace, 3);
}

TEST(HeadUnitFile, MalformedContentIsAnError)
{
  const struct
  {
    const char* what;
    std::string json;
    const char* error;
  } cases[] = {
      {"not JSON", "subscription", "not JSON"},
      {"cut short", "{\"available_map_space\": 1", "not JSON"},
      {"empty", "", "not JSON"},
      {"date with slashes", Json("\"2027/03/31\"", "1", "2"), "not a date"},
      {"impossible date", Json("\"2027-02-30\"", "1", "2"), "not a date"},
      {"date and time", Json("\"2027-03-31T00:00\"", "1", "2"), "not a date"},
      {"date as number", Json("20270331", "1", "2"), "not a date"},
      {"date as object", Json("{\"y\": 2027}", "1", "2"), "not a date"},
      {"no available space", "{\"used_map_space\": 2}", "\"available_map_space\" is missing"},
      {"no used space", "{\"available_map_space\": 2}", "\"used_map_space\" is missing"},
      {"negative space", Json("\"\"", "-1", "2"), "not a byte count"},
      {"fraction", Json("\"\"", "1.5", "2"), "not a byte count"},
      {"exponent", Json("\"\"", "1e9", "2"), "not a byte count"},
      {"words", Json("\"\"", "\"lots\"", "2"), "not a byte count"},
      {"empty string", Json("\"\"", "\"\"", "2"), "not a byte count"},
      {"null", Json("\"\"", "null", "2"), "not a byte count"},
      {"array", Json("\"\"", "[1]", "2"), "not a byte count"},
      {"beyond 64 bits", Json("\"\"", "9223372036854775808", "2"), "too large"},
      {"sum beyond 64 bits", Json("\"\"", "9223372036854775807", "1"), "too large"},
      {"deep nesting", std::string(10000, '[') + std::string(10000, ']'), "nested deeper"},
      {"huge", "{\"pad\": \"" + std::string(HeadUnitFile::MaxSize, 'x') + "\"}", "larger than"},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.what);
    const std::string error = ErrorOf(test.json);
    EXPECT_NE(error.find(test.error), std::string::npos) << error;
  }
}

TEST(HeadUnitFile, ReadsAFileAndReportsOneThatIsMissing)
{
  QTemporaryDir dir;
  const std::string path = dir.path().toStdString() + "/GENERAL.JSON";
  EXPECT_THROW(HeadUnitFile::Read(path), HeadUnitFile::Error);
  std::ofstream(path) << Json("\"2030-01-01\"", "10", "20");
  EXPECT_EQ(HeadUnitFile::Read(path).subscriptionEnd, QDate(2030, 1, 1));
  EXPECT_THROW(HeadUnitFile::Read(dir.path().toStdString()), HeadUnitFile::Error);
}
