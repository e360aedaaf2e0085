#pragma once

#include <QDate>
#include <QMetaType>

#include <cstdint>

// The vehicle's map subscription and map memory, read from the stick's
// head-unit file. A plain value, copied whole.
struct HeadUnitInfo
{
  QDate subscriptionEnd;              // invalid while no subscription end is known
  std::int64_t availableMapSpace = 0; // free bytes; may fall below 0 while a download runs
  std::int64_t totalMapSpace = 0;     // available plus used bytes
};

Q_DECLARE_METATYPE(HeadUnitInfo)
