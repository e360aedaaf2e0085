#pragma once

// What the widget tests share: the configuration and the built-in fonts for
// the whole executable (in the home of its own that the shared test main
// gives it), the stores put into a known state, an interface that records
// the user's requests, children found by their object names, clicks a user
// could make, and German while a guard lives.

#include "LogCapture.h"
#include "RecordingUi.h"
#include "Screenshot.h"
#include "Widgets.h"
#include "cfg/Config.h"
#include "fmu/MapStorage.h"
#include "usb/UsbStorage.h"
#include "util/Fonts.h"

#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTranslator>

namespace WidgetTest {

// The configuration and the fonts are process-wide: the fonts are loaded
// before the first window (which would otherwise settle on a fallback font).
struct Environment : testing::Environment
{
  void SetUp() override
  {
    Config::get();
    Fonts::Load();
  }
};
inline testing::Environment* const environment = testing::AddGlobalTestEnvironment(new Environment);

constexpr qint64 GiB = 1024ll * 1024 * 1024;

inline UsbInfo Stick(UsbInfo::State state, UsbInfo::Id id = 7, const std::string& path = "/media/user/STICK")
{
  return {id, path, 32 * GiB, 20 * GiB, state, false};
}

// Leaves exactly these sticks in the store, the first one active.
inline void PutSticks(std::vector<UsbInfo> sticks = {})
{
  for (auto state : {UsbInfo::InvalidMetadata, UsbInfo::NoMetadata, UsbInfo::ValidMetadata})
    for (const auto& stick : UsbStorage::Get().GetUsbs(state))
      UsbStorage::Get().RemoveUsb(stick.first);
  for (std::size_t i = 0; i < sticks.size(); ++i)
    sticks[i].active = i == 0, UsbStorage::Get().UpdateUsb(sticks[i]);
}

// A map of 2 GiB named "Map <id>", half of it on the stick; "root..." ids are root maps.
inline MapInfo Map(const std::string& id, MapInfo::Type type, MapInfo::State state,
                   const std::string& region = "EUR")
{
  return {type, state,     id,      L"Map " + std::wstring(id.begin(), id.end()),
          "",   "2024.03", region,  "",
          "",   GiB,       2 * GiB, id.rfind("root", 0) == 0};
}

// Leaves exactly these maps in the store, with a head unit.
inline void PutMaps(const std::vector<MapInfo>& maps)
{
  MapStorage::Get().Clear();
  MapStorage::Get().UpdateHeadUnit({QDate(2026, 5, 31), 6 * GiB, 16 * GiB});
  for (const MapInfo& map : maps)
    MapStorage::Get().UpdateMap(map);
}

// The German translation, installed while it lives.
struct German : QTranslator
{
  German()
  {
    QCoreApplication::installTranslator(load(Config::get().translationFile("de_DE")) ? this : nullptr);
  }
  ~German() override { QCoreApplication::removeTranslator(this); }
};

} // namespace WidgetTest

using namespace WidgetTest;

// Failures show texts as they read.
inline void PrintTo(const QString& text, std::ostream* os)
{
  *os << '"' << text.toStdString() << '"';
}
