#include "ui/widgets/TableRow.h"

#include "WidgetTest.h"

#include <QFrame>

// Each kind of map shows its picture (none for a region that names no picture
// or would break out of the style), its description and its button; the
// service's texts are plain text, as they are; "Download map" emits the row's
// own copy of the map, and nothing else emits it.
TEST(TableRowTest, EachKindOfMapShowsItsPictureDescriptionAndButtonAndTheServicesTextsAsTheyAre)
{
  const QString version = "Version 2023.%2   |   ", download = " Download map";
  // The picture (from the frame's style), the description and the usable button.
  // clang-format off
  for (const auto& [kind, region, state, size, shown] : std::vector<std::tuple<const char*, std::string, MapInfo::State, qint64, QString>>{
           {"optional", "EUR", MapInfo::Available, 3 * GiB / 2, "ic_map_optional_EUR.png " + version + "1.50 GB" + download},
           {"root", "NAM", MapInfo::Available, 0, "ic_map_root_NAM.png " + version + "0.00 B" + download},
           {"pending", "EUR", MapInfo::Pending, 0, "ic_map_pending_EUR.png Map update downloading completed Cancel map update"},
           {"downloading", "EUR", MapInfo::Downloading, -5, "ic_map_optional_EUR.png " + version + "0.00 B"},
           {"odd-region", "EUR);background:url(/etc/x", MapInfo::Available, 0, " " + version + "0.00 B" + download}}) {
    // clang-format on
    SCOPED_TRACE(kind);
    MapInfo map = Map(kind, MapInfo::Optional, state, region);
    map.name = L"Europe <b>%1</b> & more";
    map.release = "2023.%2";
    map.size = size;
    Ui::TableRow row(map);
    map.id = "changed";
    row.resize(700, 65);
    QString seen =
        Find<QFrame>(&row, "frameMapIcon")->styleSheet().section("url(:/icons/", 1).section(')', 0, 0);
    for (auto* child : row.findChildren<QWidget*>(QRegularExpression("^(labelDescription|pushButton.*)$")))
      if (!child->isHidden() && child->isEnabled())
        seen += " " + child->property("text").toString();
    EXPECT_EQ(seen, shown);
    auto* title = Find<QLabel>(&row, "labelMapTitle");
    EXPECT_TRUE(title->text() == "Europe <b>%1</b> & more" && title->textFormat() == Qt::PlainText &&
                Find<QLabel>(&row, "labelDescription")->textFormat() == Qt::PlainText);
    SaveScreenshot(&row, QStringLiteral("maprow-%1").arg(kind));
    QSignalSpy reset(&row, &Ui::TableRow::ResetMapButtonClicked);
    QTest::mouseClick(Find<QPushButton>(&row, "pushButtonMapAction"), Qt::LeftButton);
    EXPECT_EQ(reset.count() ? reset.at(0).at(0).value<MapInfo>().id : "",
              shown.endsWith(download) ? kind : "");
  }
}
