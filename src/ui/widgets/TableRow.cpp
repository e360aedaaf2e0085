#include "ui/widgets/TableRow.h"

#include "ui_MapRowWidget.h"

#include "util/Fonts.h"
#include "util/Format.h"
#include "util/Stylesheet.h"

#include <QCoreApplication>
#include <QFile>
#include <QRegularExpression>

#include <algorithm>

namespace {

const QString StyleSheet = QStringLiteral(":/styles/MapRowWidget.qss");
const QString PendingIcon = QStringLiteral(":/icons/ic_map_pending_%1.png");
const QString OptionalIcon = QStringLiteral(":/icons/ic_map_optional_%1.png");
const QString RootIcon = QStringLiteral(":/icons/ic_map_root_%1.png");
const QString UpToDateIcon = QStringLiteral(":/icons/ic_map_uptodate_%1.png");
const QString IconStyle =
    QStringLiteral("QFrame#frameMapIcon\n{\n    background: url(%1);    "
                   "background-repeat: no-repeat;\n    background-position: center;\n}");

// The region comes from the service and ends up inside a resource path and a
// style sheet: only a plain name may get there.
bool IsPlainName(const QString& region)
{
  static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_-]+$"));
  return plain.match(region).hasMatch();
}

} // namespace

namespace Ui {

TableRow::TableRow(const MapInfo& map, QWidget* parent)
    : QWidget(parent), ui(new Ui_MapRowWidget), mapInfo(map)
{
  ui->setupUi(this);

  ui->pushButtonMapAction->setFont(Fonts::Get(Fonts::Medium, 14));
  ui->labelMapTitle->setFont(Fonts::Get(Fonts::Regular, 18));
  ui->labelDescription->setFont(Fonts::Get(Fonts::Regular, 12));
  ui->pushButtonDiscard->setFont(Fonts::Get(Fonts::Regular, 12));
  ui->labelButtonSeparator->setFont(Fonts::Get(Fonts::Regular, 14));

  LoadStylesheet(StyleSheet, this);

  connect(ui->pushButtonMapAction, &QPushButton::clicked, this,
          [this] { emit ResetMapButtonClicked(mapInfo); });
  connect(ui->pushButtonDiscard, &QPushButton::clicked, this, [this] { emit DiscardMapButtonClicked(); });

  // Name and release come from the service: shown as they are, never as markup.
  ui->labelMapTitle->setTextFormat(Qt::PlainText);
  ui->labelDescription->setTextFormat(Qt::PlainText);
  ui->labelMapTitle->setAlignment(Qt::AlignLeft | Qt::AlignAbsolute | Qt::AlignVCenter);
  ui->labelMapTitle->setText(QString::fromStdWString(mapInfo.name));

  const bool pending = mapInfo.state == MapInfo::Pending;
  if (pending) {
    ui->labelDescription->setText(QCoreApplication::translate("global", "Map update downloading completed"));
    ui->pushButtonDiscard->setText(QCoreApplication::translate("global", "Cancel map update"));
  } else {
    // One substitution, so that a release holding "%2" stays as it is.
    ui->labelDescription->setText(QCoreApplication::translate("global", "Version %1   |   %2")
                                      .arg(QString::fromStdString(mapInfo.release),
                                           MemorySizeToString(std::max<qint64>(mapInfo.size, 0), 2)));
    ui->pushButtonMapAction->setText(QCoreApplication::translate("global", "Download map"));
  }
  ui->labelButtonSeparator->setVisible(pending);
  SetIcon(IconPath(mapInfo));

  const bool available = mapInfo.state == MapInfo::Available;
  ui->pushButtonMapAction->setVisible(available);
  ui->pushButtonMapAction->setEnabled(available);
  ui->pushButtonDiscard->setVisible(pending);
  ui->pushButtonDiscard->setEnabled(pending);
}

TableRow::~TableRow()
{
  delete ui;
}

QString TableRow::IconPath(const MapInfo& map)
{
  const QString region = QString::fromStdString(map.region);
  if (!IsPlainName(region))
    return {};
  QString path;
  if (map.state == MapInfo::Pending)
    path = PendingIcon.arg(region);
  else if (map.root)
    path = RootIcon.arg(region);
  else if (map.type == MapInfo::Installed)
    path = UpToDateIcon.arg(region);
  else if (map.type == MapInfo::Optional)
    path = OptionalIcon.arg(region);
  // A region the application has no picture of gets none, instead of a
  // style that fails to load its picture at every repaint.
  return !path.isEmpty() && QFile::exists(path) ? path : QString();
}

void TableRow::SetIcon(const QString& path)
{
  ui->frameMapIcon->setStyleSheet(path.isEmpty() ? QString() : IconStyle.arg(path));
}

} // namespace Ui
