#include "ui/widgets/TableRow.h"

#include "Screenshot.h"

#include <gtest/gtest.h>

#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

namespace {

constexpr qint64 GiB = 1024ll * 1024 * 1024;

MapInfo Map(MapInfo::Type type, MapInfo::State state, bool root = false, const std::string& region = "EUR")
{
  MapInfo map;
  map.id = "id-1";
  map.name = L"Europe <b>%1</b> & more";
  map.type = type;
  map.state = state;
  map.root = root;
  map.region = region;
  map.release = "2023.%2";
  map.size = 3 * GiB / 2;
  return map;
}

// What a user sees on a row: the picture's path (taken from the frame's
// style), the name, the description and the one button on show ("-" none).
QStringList Shown(Ui::TableRow& row)
{
  const QString style = row.findChild<QFrame*>("frameMapIcon")->styleSheet();
  const int from = style.indexOf("url(") + 4;
  const QString icon = style.isEmpty() ? "-" : style.mid(from, style.indexOf(')', from) - from);
  QString button = "-";
  for (const char* name : {"pushButtonMapAction", "pushButtonDiscard"}) {
    auto* b = row.findChild<QPushButton*>(name);
    if (!b->isHidden() && b->isEnabled())
      button = b->text();
  }
  return {icon, row.findChild<QLabel*>("labelMapTitle")->text(),
          row.findChild<QLabel*>("labelDescription")->text(), button};
}

TEST(TableRowTest, EachKindOfMapShowsItsPictureTextsAndButton)
{
  const QString name = "Europe <b>%1</b> & more", version = "Version 2023.%2   |   1.50 GB";
  struct Case
  {
    const char* name;
    MapInfo map;
    QStringList shown; // icon, title, description, button
  };
  MapInfo negative = Map(MapInfo::Optional, MapInfo::Available);
  negative.size = -5;
  const QString optionalIcon = ":/icons/ic_map_optional_EUR.png", download = "Download map";
  // clang-format off
  const std::vector<Case> cases = {
      {"optional", Map(MapInfo::Optional, MapInfo::Available), {optionalIcon, name, version, download}},
      {"mandatory", Map(MapInfo::Mandatory, MapInfo::Available), {"-", name, version, download}},
      {"root", Map(MapInfo::Mandatory, MapInfo::Available, true, "NAM"),
       {":/icons/ic_map_root_NAM.png", name, version, download}},
      {"uptodate", Map(MapInfo::Installed, MapInfo::Available),
       {":/icons/ic_map_uptodate_EUR.png", name, version, download}},
      {"pending", Map(MapInfo::Optional, MapInfo::Pending, true),
       {":/icons/ic_map_pending_EUR.png", name, "Map update downloading completed", "Cancel map update"}},
      {"downloading", Map(MapInfo::Optional, MapInfo::Downloading), {optionalIcon, name, version, "-"}},
      {"deleting", Map(MapInfo::Installed, MapInfo::Deleting), {":/icons/ic_map_uptodate_EUR.png", name, version, "-"}},
      {"invalid", MapInfo(), {"-", "", "Version    |   0.00 B", "-"}},
      {"negative-size", negative, {optionalIcon, name, "Version 2023.%2   |   0.00 B", download}},
      {"odd-region", Map(MapInfo::Optional, MapInfo::Available, false, "EUR);background:url(/etc/x"),
       {"-", name, version, download}},
      {"empty-region", Map(MapInfo::Optional, MapInfo::Available, false, ""), {"-", name, version, download}},
      {"region-without-picture", Map(MapInfo::Optional, MapInfo::Available, true, "NAR"),
       {"-", name, version, download}},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Ui::TableRow row(c.map);
    row.resize(700, 65);
    EXPECT_EQ(Shown(row), c.shown);
    EXPECT_EQ(row.findChild<QLabel*>("labelButtonSeparator")->isHidden(), c.map.state != MapInfo::Pending);
    EXPECT_EQ(row.findChild<QLabel*>("labelMapTitle")->textFormat(), Qt::PlainText);
    EXPECT_EQ(row.findChild<QLabel*>("labelDescription")->textFormat(), Qt::PlainText);
    EXPECT_EQ(row.height(), 65);
    SaveScreenshot(&row, QStringLiteral("maprow-%1").arg(c.name));
  }
}

TEST(TableRowTest, ButtonsEmitTheRowsOwnCopy)
{
  MapInfo map = Map(MapInfo::Optional, MapInfo::Available);
  Ui::TableRow row(map), pending(Map(MapInfo::Optional, MapInfo::Pending));
  map.id = "changed";
  QSignalSpy reset(&row, &Ui::TableRow::ResetMapButtonClicked),
      discard(&pending, &Ui::TableRow::DiscardMapButtonClicked),
      none(&pending, &Ui::TableRow::ResetMapButtonClicked);
  for (auto* button : {row.findChild<QPushButton*>("pushButtonMapAction"),
                       pending.findChild<QPushButton*>("pushButtonDiscard"),
                       pending.findChild<QPushButton*>("pushButtonMapAction")})
    QTest::mouseClick(button, Qt::LeftButton);
  ASSERT_EQ(reset.count(), 1);
  EXPECT_EQ(reset.at(0).at(0).value<MapInfo>().id, "id-1");
  EXPECT_EQ(discard.count(), 1);
  EXPECT_EQ(none.count(), 0) << "a hidden button emits nothing";
}

} // namespace
