#include "ui/widgets/Footer.h"

#include "ui_FooterWidget.h"

#include "Log.h"
#include "fmu/MapStorage.h"
#include "usb/UsbStorage.h"
#include "util/Fonts.h"
#include "util/Format.h"
#include "util/Stylesheet.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFontMetricsF>
#include <QListWidget>
#include <QWindow>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

namespace {

const QString ChunkStyle = QStringLiteral("::chunk{ background: %1; }");
// The free amount in the gauge's colour; the rest of the sentence in grey,
// closed after the sentence.
const QString FontTemplate =
    QStringLiteral("<font color=\"%1\" valign=\"center\">%2</font><font color=\"#606061\">");
const QString FooterStyle = QStringLiteral(":/styles/FooterWidget.qss");
const QString UsbListStyle = QStringLiteral(":/styles/UsbListWidget.qss");
// The native window of the main window dialog ("MainWindowDialog"): every
// press inside the main window reaches it first, on its way to the widget
// under the pointer.
const QString MainWindowName = QStringLiteral("MainWindowDialogWindow");

const QString NormalColour = QStringLiteral("#005691");
const QString WarningColour = QStringLiteral("#EA0016");

qint64 ToSigned(std::uint64_t bytes)
{
  return static_cast<qint64>(std::min<std::uint64_t>(bytes, std::numeric_limits<qint64>::max()));
}

// The share of the space in use on the bar's scale, rounded half away from
// zero. Nothing to measure (a total of 0 or less) leaves the gauge empty, and
// a free amount beyond the total cannot push the value off the scale.
int GaugeValue(qint64 free, qint64 total, int minimum, int maximum)
{
  if (total <= 0)
    return minimum;
  const double used = (static_cast<double>(total) - static_cast<double>(free)) / static_cast<double>(total);
  const double value = std::round(static_cast<double>(maximum - minimum) * used) + minimum;
  return static_cast<int>(std::clamp(value, static_cast<double>(minimum), static_cast<double>(maximum)));
}

// Paints one gauge: the bar's chunk and the free amount turn red when nothing
// is free; the label reads "<free> free of <total>" with the free amount in
// the gauge's colour and the rest in grey.
void SetSpacePanel(qint64 free, qint64 total, QProgressBar* bar, QLabel* label)
{
  const QString& colour = free == 0 ? WarningColour : NormalColour;
  bar->setStyleSheet(ChunkStyle.arg(colour));
  bar->setValue(GaugeValue(free, total, bar->minimum(), bar->maximum()));

  const QString freePart = FontTemplate.arg(colour, MemorySizeToString(free, 2).toHtmlEscaped());
  const QString sentence = QCoreApplication::translate("global", "%1 free of %2").toHtmlEscaped();
  label->setText(sentence.arg(freePart, MemorySizeToString(total, 2).toHtmlEscaped()) +
                 QStringLiteral("</font>"));
}

// `text` shortened in its middle to fit `width`. What Qt's elision returns
// can be, as a label draws it, up to a pixel wider than asked, and the
// label's clip then cuts into the last letter: the text is shortened further
// until it fits.
QString ElideMiddle(const QString& text, const QFont& font, int width)
{
  const QFontMetricsF metrics(font);
  const auto drawnWidth = [&](const QString& shown) {
    return metrics.boundingRect(QRectF(), Qt::TextSingleLine, shown).width();
  };
  QString elided = metrics.elidedText(text, Qt::ElideMiddle, width);
  for (int room = width - 1; room > 0 && drawnWidth(elided) > width; --room)
    elided = metrics.elidedText(text, Qt::ElideMiddle, room);
  return elided;
}

// A text of outside origin as a tooltip: tooltips take anything that looks
// like markup for markup, so the text goes in escaped, as rich text.
QString PlainToolTip(const QString& text)
{
  return QStringLiteral("<p style=\"white-space:pre\">%1</p>").arg(text.toHtmlEscaped());
}

// A map on its way to, off or waiting on the active stick ties the user to
// that stick.
bool MapHoldsActiveUsb()
{
  return DownloadingMap().Valid() || DeletingMap().Valid() || PendingMap().Valid();
}

} // namespace

namespace Ui {

Footer::Footer(QWidget* parent) : QWidget(parent), ui(new Ui_FooterWidget), usbList(new QListWidget(parent))
{
  ui->setupUi(this);
  LoadStylesheet(FooterStyle, this);

  ui->labelHu->setFont(Fonts::Get(Fonts::Medium, 12));
  ui->labelHuSpace->setFont(Fonts::Get(Fonts::Medium, 12));
  ui->labelUsb->setFont(Fonts::Get(Fonts::Medium, 12));
  ui->labelUsbSpace->setFont(Fonts::Get(Fonts::Medium, 12));
  // The stick's path is the stick's own text; the space texts carry the
  // colours of the figures.
  ui->labelUsb->setTextFormat(Qt::PlainText);
  ui->labelHuSpace->setTextFormat(Qt::RichText);
  ui->labelUsbSpace->setTextFormat(Qt::RichText);

  usbList->setSortingEnabled(true);
  usbList->setFocusPolicy(Qt::NoFocus);
  usbList->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  usbList->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  usbList->setFont(Fonts::Get(Fonts::Regular, 12));
  usbList->setTextElideMode(Qt::ElideMiddle);
  LoadStylesheet(UsbListStyle, usbList);
  usbList->hide();

  ui->pushButtonUsb->setChecked(false);
  connect(ui->pushButtonUsb, &QPushButton::clicked, this, &Footer::ToggleUsbList);
  connect(usbList, &QListWidget::itemClicked, this, &Footer::OnUsbListItemClicked);
  connect(&refreshTimer, &QTimer::timeout, this, &Footer::UpdateSpaceInfo);

  // A press on the footer's background ends here instead of travelling on to
  // the main window, where it would count as a press elsewhere.
  setAttribute(Qt::WA_NoMousePropagation);
  QCoreApplication::instance()->installEventFilter(this);
}

Footer::~Footer()
{
  QCoreApplication::instance()->removeEventFilter(this);
  // Without a parent of its own the list is a window that nobody else owns.
  if (usbList && !usbList->parent())
    delete usbList;
  delete ui;
}

void Footer::UpdateState()
{
  LOG(Debug) << "Updating state";
  usbList->clear();
  SetVisibleUsbPanel(false);
  SetVisibleHeadUnitPanel(false);

  UsbStorage& usbs = UsbStorage::Get();
  const UsbInfo active = usbs.GetActiveUsb();
  if (!active.Valid()) {
    CloseUsbList();
    return;
  }

  SetVisibleUsbPanel(true);
  usbPath = QString::fromStdString(active.path);
  ShowUsbPath();

  auto addEntry = [this](const UsbInfo& usb) {
    auto* item = new QListWidgetItem(QString::fromStdString(usb.path));
    item->setToolTip(PlainToolTip(item->text()));
    item->setData(Qt::UserRole, QVariant::fromValue<quint64>(usb.id));
    usbList->addItem(item);
    return item;
  };
  if (active.state == UsbInfo::NoMetadata) {
    UsbStorage::Usbs choices = usbs.GetUsbs(UsbInfo::NoMetadata);
    // The active stick is always listed, also when its record changed
    // between the two reads.
    choices.emplace(active.id, active);
    for (const auto& choice : choices) {
      QListWidgetItem* item = addEntry(choice.second);
      if (choice.first == active.id)
        usbList->setCurrentItem(item);
    }
  } else {
    usbList->setCurrentItem(addEntry(active));
    SetVisibleHeadUnitPanel(true);
  }

  UpdateSpaceInfo();

  const bool choice = usbList->count() > 1 && !MapHoldsActiveUsb();
  ui->pushButtonUsb->setEnabled(choice);
  if (!choice)
    CloseUsbList();
  else if (isVisible()) {
    // Closed and opened again, an open list takes the size and place of its
    // new entries; a closed one stays closed.
    ToggleUsbList();
    ToggleUsbList();
  }
}

void Footer::RetranslateUi()
{
  ui->labelHu->setText(QCoreApplication::translate("global", "Navigation System"));
  ui->labelHu->adjustSize();
  // The stick's path gets the caption's width, however long it is.
  ui->labelUsb->setMinimumWidth(ui->labelHu->width());
  ui->labelUsb->setMaximumWidth(ui->labelHu->width());
  ShowUsbPath();
}

void Footer::ShowUsbPath()
{
  QLabel* label = ui->labelUsb;
  label->ensurePolished();
  // The column keeps the caption's width: a longer path loses its middle,
  // and the whole of it is the tooltip.
  const QMargins margins = label->contentsMargins();
  const int width = (label->maximumWidth() < QWIDGETSIZE_MAX ? label->maximumWidth() : label->width()) -
                    margins.left() - margins.right();
  label->setText(ElideMiddle(usbPath, label->font(), width));
  label->setToolTip(usbPath.isEmpty() ? QString() : PlainToolTip(usbPath));
}

void Footer::ToggleUsbList(bool)
{
  LOG(Debug) << "Toggling usb list";
  if (!usbList->isHidden()) {
    CloseUsbList();
    return;
  }

  usbList->ensurePolished();
  const int width = ui->labelUsb->x() + ui->labelUsb->width() - 16;
  const int height = usbList->count() * usbList->sizeHintForRow(0) + 1;
  usbList->resize(width, height);
  // Upwards from a line one grid spacing above the stick's caption, over the
  // head-unit row and the page above the footer.
  const QPoint origin = usbList->parentWidget() ? pos() : mapToGlobal(QPoint(0, 0));
  usbList->move(origin.x(), origin.y() + ui->labelUsb->y() - height - ui->gLayoutFooter->verticalSpacing());
  usbList->show();
  usbList->raise();
  ui->pushButtonUsb->setChecked(true);
}

void Footer::UpdateSpaceInfo()
{
  refreshTimer.start(1000);
  const UsbInfo active = UsbStorage::Get().GetActiveUsb();
  if (!active.Valid())
    return;

  if (active.state == UsbInfo::InvalidMetadata || active.state == UsbInfo::ValidMetadata) {
    const HeadUnitInfo headUnit = MapStorage::Get().GetHeadUnit();
    const qint64 free = std::max<qint64>(headUnit.availableMapSpace, 0);
    const qint64 total = std::max<qint64>(headUnit.totalMapSpace, 0);
    LOG(Debug) << "Setting head unit free space: " << free << ", total space: " << total;
    SetSpacePanel(free, total, ui->progressBarHu, ui->labelHuSpace);
  }

  LOG(Debug) << "Setting usb free space: " << active.available << ", total space: " << active.capacity;
  SetSpacePanel(ToSigned(active.available), ToSigned(active.capacity), ui->progressBarUsb, ui->labelUsbSpace);
}

void Footer::SetVisibleUsbPanel(bool visible)
{
  LOG(Debug) << (visible ? "Showing" : "Hiding") << " memory drive panel";
  for (QWidget* widget : {static_cast<QWidget*>(ui->pushButtonUsb), static_cast<QWidget*>(ui->labelUsbIcon),
                          static_cast<QWidget*>(ui->labelUsb), static_cast<QWidget*>(ui->progressBarUsb),
                          static_cast<QWidget*>(ui->labelUsbSpace)})
    widget->setVisible(visible);
}

void Footer::SetVisibleHeadUnitPanel(bool visible)
{
  LOG(Debug) << (visible ? "Showing" : "Hiding") << " navigation panel";
  for (QWidget* widget : {static_cast<QWidget*>(ui->labelHuIcon), static_cast<QWidget*>(ui->labelHu),
                          static_cast<QWidget*>(ui->progressBarHu), static_cast<QWidget*>(ui->labelHuSpace)})
    widget->setVisible(visible);
}

bool Footer::eventFilter(QObject* watched, QEvent* event)
{
  // Cheap tests first: this filter sees every event of the application.
  if (watched != this && event->type() == QEvent::MouseButtonPress && watched != ui->pushButtonUsb) {
    const bool mainWindow = watched->objectName() == MainWindowName ||
                            (watched->isWindowType() && watched == window()->windowHandle());
    if (!mainWindow) {
      LOG(Debug) << "Hiding usb list";
      CloseUsbList();
    }
  }
  return QWidget::eventFilter(watched, event);
}

void Footer::hideEvent(QHideEvent* event)
{
  CloseUsbList();
  QWidget::hideEvent(event);
}

void Footer::OnUsbListItemClicked(QListWidgetItem* item)
{
  if (!item)
    return;
  const UsbInfo::Id id = item->data(Qt::UserRole).value<quint64>();
  // A stick that left meanwhile, or a switch that a map on the active stick
  // forbids now, changes nothing.
  if (MapHoldsActiveUsb() || !UsbStorage::Get().ActivateUsb(id))
    return;
  UpdateState();
}

void Footer::CloseUsbList()
{
  if (usbList)
    usbList->hide();
  ui->pushButtonUsb->setChecked(false);
}

} // namespace Ui
