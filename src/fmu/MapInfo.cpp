#include "fmu/MapInfo.h"

#include "EnumNames.h"

#include <QDate>
#include <QString>

#include <ostream>

namespace {

// The first day of the release month, or an invalid date when the text is not
// exactly four digits, a dot and two digits naming a month.
QDate ParseReleaseMonth(const std::string& release)
{
  static const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
  if (release.size() != 7 || release[4] != '.')
    return QDate();
  for (std::size_t i : {0u, 1u, 2u, 3u, 5u, 6u})
    if (!isDigit(release[i]))
      return QDate();
  return QDate::fromString(QString::fromUtf8(release.data(), static_cast<int>(release.size())), "yyyy.MM");
}

// -1, 0 or 1 as a's release month is earlier than, the same as or later than b's.
int CompareReleases(const MapInfo& a, const MapInfo& b)
{
  const QDate left = a.ReleaseMonth();
  const QDate right = b.ReleaseMonth();
  if (!left.isValid() || !right.isValid())
    return (left.isValid() ? 1 : 0) - (right.isValid() ? 1 : 0);
  return left < right ? -1 : (right < left ? 1 : 0);
}

const EnumName<MapInfo::Type> TypeNames[] = {ENUM_NAME(MapInfo, Installed), ENUM_NAME(MapInfo, Optional),
                                             ENUM_NAME(MapInfo, Mandatory)};
const EnumName<MapInfo::State> StateNames[] = {ENUM_NAME(MapInfo, Unknown), ENUM_NAME(MapInfo, Available),
                                               ENUM_NAME(MapInfo, Deleting), ENUM_NAME(MapInfo, Downloading),
                                               ENUM_NAME(MapInfo, Pending)};

} // namespace

QDate MapInfo::ReleaseMonth() const
{
  return ParseReleaseMonth(release);
}

void MapInfo::RegisterMetaTypes()
{
  qRegisterMetaType<MapInfo::Id>("MapInfo::Id");
  qRegisterMetaType<MapInfo>("MapInfo");
}

std::ostream& operator<<(std::ostream& os, MapInfo::Type type)
{
  return WriteName(os, type, TypeNames);
}

std::ostream& operator<<(std::ostream& os, MapInfo::State state)
{
  return WriteName(os, state, StateNames);
}

bool operator==(const MapInfo& a, const MapInfo& b)
{
  return CompareReleases(a, b) == 0;
}

bool operator!=(const MapInfo& a, const MapInfo& b)
{
  return !(a == b);
}

bool operator<(const MapInfo& a, const MapInfo& b)
{
  return CompareReleases(a, b) < 0;
}

bool operator<=(const MapInfo& a, const MapInfo& b)
{
  return CompareReleases(a, b) <= 0;
}

bool operator>(const MapInfo& a, const MapInfo& b)
{
  return CompareReleases(a, b) > 0;
}

bool operator>=(const MapInfo& a, const MapInfo& b)
{
  return CompareReleases(a, b) >= 0;
}
