#include "ui/widgets/Footer.h"

#include "WidgetTest.h"

#include <QDialog>
#include <QFontMetricsF>
#include <QListWidget>
#include <QProgressBar>
#include <QTextDocumentFragment>
#include <QVBoxLayout>
#include <QWindow>

#include <optional>

// The footer below a page of a dialog named as the main window is, on screen.
class FooterTest : public testing::Test
{
protected:
  FooterTest()
  {
    dialog.setObjectName("MainWindowDialog");
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(page, 1);
    layout->addWidget(footer);
    footer->RetranslateUi();
    dialog.resize(800, 400);
    dialog.show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  }
  ~FooterTest() override { PutSticks(), PutMaps({}); }

  void PlugIn(const std::vector<UsbInfo>& sticks) { PutSticks(sticks), footer->UpdateState(); }
  // The list with the active stick starred, the head unit's gauge, a usable switch and an open list.
  QString Shown()
  {
    QStringList shown;
    for (int row = 0; row < list->count(); ++row)
      shown << (list->item(row) == list->currentItem() ? "*" : "") + list->item(row)->text();
    return shown.join(' ') + (Find(footer, "progressBarHu")->isVisible() ? " head-unit" : "") +
           (button->isVisible() && button->isEnabled() ? " switch" : "") + (list->isVisible() ? " open" : "");
  }

  QDialog dialog;
  QWidget* page = new QWidget(&dialog);
  Ui::Footer* footer = new Ui::Footer(&dialog);
  QListWidget* list = dialog.findChild<QListWidget*>();
  QPushButton* button = Find<QPushButton>(footer, "pushButtonUsb");
  const UsbInfo a = Stick(UsbInfo::NoMetadata, 8, "/media/a"), b = Stick(UsbInfo::NoMetadata, 7, "/media/b");
};

// The switch and the list of sticks are offered among sticks without map
// data while no map is on the active one; the head unit's gauge with map data.
// A stick's path is plain text that loses its middle, never its last letter,
// in either language; the list opens above the stick's row, a press on an
// entry closes it and its click chooses the stick; it closes when a map locks
// the switch and when the footer hides.
TEST_F(FooterTest, TheStickChoiceIsOpenAmongSticksWithoutMapDataAndClosesWhenItCannotBe)
{
  // clang-format off
  struct Case { const char* name; std::vector<UsbInfo> sticks; MapInfo::State map; QString shown; } const cases[] = {
      {"no-stick", {}, MapInfo::Unknown, ""},
      {"valid-metadata", {Stick(UsbInfo::ValidMetadata, 7, "/media/b"), a}, MapInfo::Unknown, "*/media/b head-unit"},
      {"map-on-the-stick", {b, a}, MapInfo::Pending, "/media/a */media/b"},
      {"two-without-metadata", {b, a}, MapInfo::Unknown, "/media/a */media/b switch"},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PutMaps({Map("map", MapInfo::Optional, c.map)});
    PlugIn(c.sticks);
    EXPECT_EQ(Shown(), c.shown);
    SaveScreenshot(footer, QStringLiteral("footer-%1").arg(c.name));
  }
  UsbInfo odd = b;
  odd.path = "/media/b <b>%1</b> and a folder name far too long for the column/STICK";
  PlugIn({odd, a});
  auto* path = Find<QLabel>(footer, "labelUsb");
  EXPECT_EQ(path->textFormat(), Qt::PlainText);
  EXPECT_TRUE(path->text().startsWith("/media/") && path->text().endsWith("/STICK") &&
              path->text().contains(QChar(0x2026)))
      << path->text().toStdString();
  EXPECT_TRUE(path->toolTip().contains("/media/b &lt;b&gt;%1&lt;/b&gt; and a folder"));
  // As the label draws it in either language, the path fits its column with
  // its last letter, a short one whole.
  for (const char* language : {"en", "de"}) {
    std::optional<German> german;
    if (language == std::string("de"))
      german.emplace();
    footer->RetranslateUi();
    for (const QString whole : {"/media/a", "/media/user/fffffstick", "/mnt/iiiiilllll/dddstick"}) {
      PlugIn({{7, whole.toStdString(), 32 * GiB, GiB, UsbInfo::ValidMetadata, true}});
      const QString shown = path->text();
      SaveScreenshot(footer, QStringLiteral("footer-path-%1-%2").arg(language).arg(whole.size()));
      const QRect room = path->contentsRect();
      EXPECT_LE(QFontMetricsF(path->font()).boundingRect(room, path->alignment(), shown).width(),
                room.width())
          << language << " " << shown.toStdString();
      EXPECT_TRUE(shown.endsWith(whole.right(5)) && (shown == whole) == (whole.size() < 10))
          << language << " " << shown.toStdString();
    }
  }
  PlugIn({odd, a});

  QTest::mouseClick(button, Qt::LeftButton);
  EXPECT_LT(list->geometry().bottom(), footer->y() + path->y()) << "above the stick's row";
  SaveScreenshot(&dialog, "footer-list-open");
  // A press and a release on the first entry, through the main window's native window.
  const QPoint entry = list->viewport()->mapTo(&dialog, list->visualItemRect(list->item(0)).center());
  QTest::mousePress(dialog.windowHandle(), Qt::LeftButton, {}, entry);
  EXPECT_FALSE(list->isVisible()) << "the press on an entry closes the list";
  QTest::mouseRelease(dialog.windowHandle(), Qt::LeftButton, {}, entry);
  EXPECT_EQ(list->currentItem()->text() + " " + path->text(), "/media/a /media/a")
      << "its click chooses the stick";

  QTest::mouseClick(button, Qt::LeftButton);
  PutMaps({Map("map", MapInfo::Optional, MapInfo::Downloading)});
  footer->UpdateState();
  EXPECT_FALSE(list->isVisible() || button->isChecked());
  PutMaps({});
  footer->UpdateState();
  QTest::mouseClick(button, Qt::LeftButton);
  footer->hide();
  EXPECT_FALSE(list->isVisible() || button->isChecked()) << "closed with the footer";
}

// The gauges show the share in use, also with nothing free or no total, and
// nothing free in red; negative head-unit figures read as 0; the gauges
// refresh by themselves.
TEST_F(FooterTest, GaugesShowTheShareInUseAndNothingFreeInRed)
{
  // clang-format off
  struct Case { qint64 free, total; int value; const char* colour; QString text; } const cases[] = {
      {3 * GiB / 2, 16 * GiB, 91, "#005691", "1.50 GB free of 16.00 GB"},
      {0, 16 * GiB, 100, "#EA0016", "0.00 B free of 16.00 GB"},
      {0, 0, 0, "#EA0016", "0.00 B free of 0.00 B"},
      {2 * GiB, GiB, 0, "#005691", "2.00 GB free of 1.00 GB"},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text.toStdString());
    for (auto* bar : footer->findChildren<QProgressBar*>())
      bar->setValue(50);
    MapStorage::Get().UpdateHeadUnit({QDate(), c.free, c.total});
    PlugIn({{7, "/media/b", std::uint64_t(c.total), std::uint64_t(c.free), UsbInfo::ValidMetadata, true}});
    for (const QString gauge : {"Hu", "Usb"}) {
      const QString html = Find<QLabel>(footer, qPrintable("label" + gauge + "Space"))->text();
      auto* bar = Find<QProgressBar>(footer, qPrintable("progressBar" + gauge));
      EXPECT_TRUE(bar->styleSheet().contains(c.colour) && html.contains(c.colour)) << gauge.toStdString();
      EXPECT_EQ(QString::number(bar->value()) + " " + QTextDocumentFragment::fromHtml(html).toPlainText(),
                QString::number(c.value) + " " + c.text);
    }
  }
  MapStorage::Get().UpdateHeadUnit({QDate(), -5, -1});
  UsbStorage::Get().UpdateUsbSpace(7, 16 * GiB, 8 * GiB);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Find<QProgressBar>(footer, "progressBarUsb")->value() == 50; }));
  EXPECT_EQ(QTextDocumentFragment::fromHtml(Find<QLabel>(footer, "labelHuSpace")->text()).toPlainText(),
            "0.00 B free of 0.00 B");
}
