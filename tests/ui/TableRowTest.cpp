#include "ui/widgets/TableRow.h"

#include "WidgetTest.h"

#include <QFrame>

static MapInfo Row(MapInfo::Type type, MapInfo::State state, bool root = false,
                   const std::string& region = "EUR")
{
  MapInfo map = Map("id-1", type, state, region);
  map.name = L"Europe <b>%1</b> & more";
  map.root = root;
  map.release = "2023.%2";
  map.size = 3 * GiB / 2;
  return map;
}

TEST(TableRowTest, EachKindOfMapShowsItsPictureDescriptionAndButtonAndTheServicesTextsAsTheyAre)
{
  const QString version = "Version 2023.%2   |   1.50 GB, Download map";
  MapInfo negative = Row(MapInfo::Optional, MapInfo::Available);
  negative.size = -5;
  // clang-format off
  const std::vector<std::tuple<const char*, MapInfo, QString>> cases = { // the picture, the description, the usable button
      {"optional", Row(MapInfo::Optional, MapInfo::Available), "ic_map_optional_EUR.png " + version},
      {"mandatory", Row(MapInfo::Mandatory, MapInfo::Available), " " + version},
      {"root", Row(MapInfo::Mandatory, MapInfo::Available, true, "NAM"), "ic_map_root_NAM.png " + version},
      {"pending", Row(MapInfo::Optional, MapInfo::Pending, true), "ic_map_pending_EUR.png Map update downloading completed, Cancel map update"},
      {"downloading", Row(MapInfo::Installed, MapInfo::Downloading), "ic_map_uptodate_EUR.png Version 2023.%2   |   1.50 GB"},
      {"negative-size", negative, "ic_map_optional_EUR.png Version 2023.%2   |   0.00 B, Download map"},
      {"odd-region", Row(MapInfo::Optional, MapInfo::Available, false, "EUR);background:url(/etc/x"), " " + version},
      {"region-without-picture", Row(MapInfo::Optional, MapInfo::Available, true, "NAR"), " " + version},
  };
  // clang-format on
  for (const auto& [name, map, shown] : cases) {
    SCOPED_TRACE(name);
    Ui::TableRow row(map);
    row.resize(700, 65);
    const QString style = Find<QFrame>(&row, "frameMapIcon")->styleSheet();
    QString seen = style.section("url(:/icons/", 1).section(')', 0, 0) + " " +
                   Find<QLabel>(&row, "labelDescription")->text();
    for (const char* button : {"pushButtonMapAction", "pushButtonDiscard"})
      if (auto* b = Find<QPushButton>(&row, button); !b->isHidden() && b->isEnabled())
        seen += ", " + b->text();
    EXPECT_EQ(seen, shown);
    auto* title = Find<QLabel>(&row, "labelMapTitle");
    EXPECT_EQ(title->text(), "Europe <b>%1</b> & more");
    EXPECT_TRUE(title->textFormat() == Qt::PlainText &&
                Find<QLabel>(&row, "labelDescription")->textFormat() == Qt::PlainText);
    SaveScreenshot(&row, QStringLiteral("maprow-%1").arg(name));
  }
}

TEST(TableRowTest, ButtonsEmitTheRowsOwnCopyAndAHiddenOneNothing)
{
  MapInfo map = Row(MapInfo::Optional, MapInfo::Available);
  Ui::TableRow row(map), pending(Row(MapInfo::Optional, MapInfo::Pending));
  map.id = "changed";
  QSignalSpy reset(&row, &Ui::TableRow::ResetMapButtonClicked),
      none(&pending, &Ui::TableRow::ResetMapButtonClicked),
      discard(&pending, &Ui::TableRow::DiscardMapButtonClicked);
  for (auto* button :
       {Find<QPushButton>(&row, "pushButtonMapAction"), Find<QPushButton>(&pending, "pushButtonDiscard"),
        Find<QPushButton>(&pending, "pushButtonMapAction")})
    QTest::mouseClick(button, Qt::LeftButton);
  ASSERT_EQ(reset.count(), 1);
  EXPECT_EQ(reset.at(0).at(0).value<MapInfo>().id, "id-1");
  EXPECT_EQ(discard.count() * 10 + none.count(), 10);
}
