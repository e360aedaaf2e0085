#include "fmu/HeadUnitFile.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

namespace {

std::string Json(const std::string& date, const std::string& available, const std::string& used)
{
  return "{\"subscription_end_date\": " + date + ", \"available_map_space\": " + available +
         ", \"used_map_space\": " + used + "}";
}

} // namespace

TEST(HeadUnitFile, ReadsDateAndSpacesAsNumbersOrStrings)
{
  const HeadUnitInfo numbers = HeadUnitFile::Parse(Json("\"2027-03-31\"", "8589934592", "34359738368"));
  EXPECT_EQ(numbers.subscriptionEnd, QDate(2027, 3, 31));
  EXPECT_EQ(numbers.availableMapSpace, 8589934592LL);
  EXPECT_EQ(numbers.totalMapSpace, 8589934592LL + 34359738368LL);
  const HeadUnitInfo strings = HeadUnitFile::Parse(Json("\"\"", "\"100\"", "\" 50 \""));
  EXPECT_FALSE(strings.subscriptionEnd.isValid()) << "an empty date means no subscription";
  EXPECT_EQ(strings.totalMapSpace, 150);
  EXPECT_FALSE(
      HeadUnitFile::Parse("{\"available_map_space\": 1, \"used_map_space\": 2}").subscriptionEnd.isValid());

  QTemporaryDir dir;
  EXPECT_THROW(HeadUnitFile::Read(dir.path().toStdString()), HeadUnitFile::Error) << "a folder";
}

TEST(HeadUnitFile, MalformedContentIsAnError)
{
  const std::pair<std::string, const char*> cases[] = {
      {"{\"available_map_space\": 1", "not JSON"},
      {Json("\"2027-02-30\"", "1", "2"), "not a date"},
      {Json("\"2027-03-31T00:00\"", "1", "2"), "not a date"},
      {Json("20270331", "1", "2"), "not a date"},
      {Json("{\"y\": 2027}", "1", "2"), "not a date"},
      {"{\"used_map_space\": 2}", "\"available_map_space\" is missing"},
      {"{\"available_map_space\": 2}", "\"used_map_space\" is missing"},
      {Json("\"\"", "-1", "2"), "not a byte count"},
      {Json("\"\"", "1.5", "2"), "not a byte count"},
      {Json("\"\"", "\"lots\"", "2"), "not a byte count"},
      {Json("\"\"", "null", "2"), "not a byte count"},
      {Json("\"\"", "[1]", "2"), "not a byte count"},
      {Json("\"\"", "9223372036854775807", "1"), "too large"},
      {std::string(10000, '[') + std::string(10000, ']'), "nested deeper"},
      {"{\"pad\": \"" + std::string(HeadUnitFile::MaxSize, 'x') + "\"}", "larger than"},
  };
  for (const auto& [json, error] : cases) {
    SCOPED_TRACE(json.substr(0, 60));
    try {
      HeadUnitFile::Parse(json);
      ADD_FAILURE() << "no error";
    } catch (const HeadUnitFile::Error& failure) {
      EXPECT_NE(std::string(failure.what()).find(error), std::string::npos) << failure.what();
    }
  }
}
