#include "fmu/HeadUnitFile.h"

#include <boost/property_tree/json_parser.hpp>

#include <QString>

#include <cstdint>
#include <fstream>
#include <limits>
#include <sstream>

namespace pt = boost::property_tree;

namespace {

constexpr int MaxNesting = 16;

// True when arrays and objects nest deeper than `limit`; the JSON parser
// recurses once per level.
bool NestsDeeperThan(const std::string& json, int limit)
{
  int depth = 0;
  bool inString = false;
  bool escaped = false;
  for (const char c : json) {
    if (inString) {
      if (escaped)
        escaped = false;
      else if (c == '\\')
        escaped = true;
      else if (c == '"')
        inString = false;
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > limit)
        return true;
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return false;
}

std::string Trimmed(const std::string& text)
{
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos)
    return std::string();
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

// A byte count: decimal digits that fit a signed 64-bit integer.
std::int64_t ByteCount(const pt::ptree& tree, const char* key)
{
  const auto value = tree.get_child_optional(pt::ptree::path_type(key, '\0'));
  if (!value)
    throw HeadUnitFile::Error(std::string("\"") + key + "\" is missing");
  const std::string text = Trimmed(value->data());
  if (!value->empty() || text.empty())
    throw HeadUnitFile::Error(std::string("\"") + key + "\" is not a byte count");
  std::int64_t count = 0;
  for (const char c : text) {
    if (c < '0' || c > '9')
      throw HeadUnitFile::Error(std::string("\"") + key + "\" is not a byte count: " + text.substr(0, 64));
    const int digit = c - '0';
    if (count > (std::numeric_limits<std::int64_t>::max() - digit) / 10)
      throw HeadUnitFile::Error(std::string("\"") + key + "\" is too large: " + text.substr(0, 64));
    count = count * 10 + digit;
  }
  return count;
}

QDate SubscriptionEnd(const pt::ptree& tree)
{
  const auto value = tree.get_child_optional(pt::ptree::path_type("subscription_end_date", '\0'));
  if (!value)
    return QDate();
  if (!value->empty())
    throw HeadUnitFile::Error("\"subscription_end_date\" is not a date");
  const std::string text = value->data();
  if (text.empty())
    return QDate();
  bool digits = text.size() == 10 && text[4] == '-' && text[7] == '-';
  for (std::size_t i = 0; digits && i < text.size(); ++i)
    if (i != 4 && i != 7)
      digits = text[i] >= '0' && text[i] <= '9';
  const QDate date = digits ? QDate::fromString(QString::fromLatin1(text.c_str()), "yyyy-MM-dd") : QDate();
  if (!date.isValid())
    throw HeadUnitFile::Error("\"subscription_end_date\" is not a date: " + text.substr(0, 64));
  return date;
}

} // namespace

HeadUnitInfo HeadUnitFile::Read(const boost::filesystem::path& file)
{
  std::ifstream in(file.string(), std::ios::binary);
  if (!in)
    throw Error("cannot open " + file.string());
  std::string json;
  char buffer[4096];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
    json.append(buffer, static_cast<std::size_t>(in.gcount()));
    if (json.size() > MaxSize)
      throw Error(file.string() + " is larger than " + std::to_string(MaxSize) + " bytes");
  }
  if (in.bad())
    throw Error("cannot read " + file.string());
  return Parse(json);
}

HeadUnitInfo HeadUnitFile::Parse(const std::string& json)
{
  if (json.size() > MaxSize)
    throw Error("larger than " + std::to_string(MaxSize) + " bytes");
  if (NestsDeeperThan(json, MaxNesting))
    throw Error("nested deeper than " + std::to_string(MaxNesting) + " levels");
  pt::ptree tree;
  try {
    std::istringstream in(json);
    pt::read_json(in, tree);
  } catch (const pt::json_parser_error& error) {
    throw Error("not JSON: " + error.message() + " at line " + std::to_string(error.line()));
  } catch (const std::exception& error) {
    throw Error(std::string("not JSON: ") + error.what());
  }

  HeadUnitInfo headUnit;
  headUnit.subscriptionEnd = SubscriptionEnd(tree);
  headUnit.availableMapSpace = ByteCount(tree, "available_map_space");
  const std::int64_t used = ByteCount(tree, "used_map_space");
  if (used > std::numeric_limits<std::int64_t>::max() - headUnit.availableMapSpace)
    throw Error("the map space is too large");
  headUnit.totalMapSpace = headUnit.availableMapSpace + used;
  return headUnit;
}
