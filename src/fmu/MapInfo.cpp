#include "fmu/MapInfo.h"

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
  switch (type) {
  case MapInfo::Installed:
    return os << "Installed";
  case MapInfo::Optional:
    return os << "Optional";
  case MapInfo::Mandatory:
    return os << "Mandatory";
  }
  return os;
}

std::ostream& operator<<(std::ostream& os, MapInfo::State state)
{
  switch (state) {
  case MapInfo::Unknown:
    return os << "Unknown";
  case MapInfo::Available:
    return os << "Available";
  case MapInfo::Deleting:
    return os << "Deleting";
  case MapInfo::Downloading:
    return os << "Downloading";
  case MapInfo::Pending:
    return os << "Pending";
  }
  return os;
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
