#pragma once

#include "fmu/MapInfo.h"

#include <QString>
#include <QWidget>

class Ui_MapRowWidget;

namespace Ui {

// One map in the main window's map list: a picture for the map's kind and
// region, the map's name, a line of description and the one action the map
// allows. An available map offers "Download map"; a map whose download has
// completed offers "Cancel map update". The row shows the copy of the map it
// was built with and never changes; a changed map or a new language is shown
// by building a new row. Main thread only.
class TableRow : public QWidget
{
  Q_OBJECT

public:
  TableRow(const MapInfo& mapInfo, QWidget* parent = nullptr);
  ~TableRow() override;

  // The resource path of the map's picture, or an empty string when the map
  // gets none (a mandatory map that is not a root map, a region that is not
  // a plain name, or one without a picture).
  static QString IconPath(const MapInfo& mapInfo);

signals:
  // "Download map" was clicked; carries the row's copy of the map.
  void ResetMapButtonClicked(const MapInfo& mapInfo);
  // "Cancel map update" was clicked.
  void DiscardMapButtonClicked();

private:
  void SetIcon(const QString& path);

  Ui_MapRowWidget* ui;
  const MapInfo mapInfo;
};

} // namespace Ui
