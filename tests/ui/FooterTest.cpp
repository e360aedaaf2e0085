#include "ui/widgets/Footer.h"

#include "WidgetTest.h"

#include <QDialog>
#include <QListWidget>
#include <QProgressBar>
#include <QTextDocument>
#include <QVBoxLayout>
#include <QWindow>

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
  // A press or a release on the main window, delivered through its native window.
  void Mouse(bool press, QWidget* target, QPoint at)
  {
    if (press)
      QTest::mousePress(dialog.windowHandle(), Qt::LeftButton, {}, target->mapTo(&dialog, at));
    else
      QTest::mouseRelease(dialog.windowHandle(), Qt::LeftButton, {}, target->mapTo(&dialog, at));
  }

  QDialog dialog;
  QWidget* page = new QWidget(&dialog);
  Ui::Footer* footer = new Ui::Footer(&dialog);
  QListWidget* list = dialog.findChild<QListWidget*>();
  QPushButton* button = Find<QPushButton>(footer, "pushButtonUsb");
  const UsbInfo a = Stick(UsbInfo::NoMetadata, 8, "/media/a"), b = Stick(UsbInfo::NoMetadata, 7, "/media/b");
};

TEST_F(FooterTest, TheStickChoiceIsOpenAmongSticksWithoutMapDataAndNoMapOnTheActiveOne)
{
  // clang-format off
  struct Case { const char* name; std::vector<UsbInfo> sticks; MapInfo::State map; QString shown; } const cases[] = {
      {"no-stick", {}, MapInfo::Unknown, ""},
      {"two-without-metadata", {b, a}, MapInfo::Unknown, "/media/a */media/b switch"},
      {"valid-metadata", {Stick(UsbInfo::ValidMetadata, 7, "/media/b"), a}, MapInfo::Unknown, "*/media/b head-unit"},
      {"map-on-the-stick", {b, a}, MapInfo::Pending, "/media/a */media/b"},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PutMaps({Map("map", MapInfo::Optional, c.map)});
    PlugIn(c.sticks);
    EXPECT_EQ(Shown(), c.shown);
    SaveScreenshot(footer, QStringLiteral("footer-%1").arg(c.name));
  }
}

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
    for (const char* gauge : {"Hu", "Usb"}) {
      auto* bar = Find<QProgressBar>(footer, qPrintable(QStringLiteral("progressBar%1").arg(gauge)));
      const QString html =
          Find<QLabel>(footer, qPrintable(QStringLiteral("label%1Space").arg(gauge)))->text();
      QTextDocument label;
      label.setHtml(html);
      EXPECT_EQ(bar->value(), c.value) << gauge;
      EXPECT_TRUE(bar->styleSheet().contains(c.colour) && html.contains(c.colour)) << gauge;
      EXPECT_EQ(label.toPlainText(), c.text) << gauge;
    }
  }
  // Negative head-unit figures read as 0; the gauges refresh by themselves.
  MapStorage::Get().UpdateHeadUnit({QDate(), -5, -1});
  UsbStorage::Get().UpdateUsbSpace(7, 16 * GiB, 8 * GiB);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Find<QProgressBar>(footer, "progressBarUsb")->value() == 50; }));
  EXPECT_TRUE(Find<QLabel>(footer, "labelHuSpace")
                  ->text()
                  .contains(">0.00 B</font><font color=\"#606061\"> free of 0.00 B<"));
}

TEST_F(FooterTest, ALongPathLosesItsMiddleAndTheListChoosesAStickAndClosesWhenItCannot)
{
  UsbInfo odd = b;
  odd.path = "/media/b <b>%1</b> and a folder name far too long for the column/STICK";
  PlugIn({odd, a, Stick(UsbInfo::NoMetadata, 9, "/media/c")});
  auto* path = Find<QLabel>(footer, "labelUsb");
  EXPECT_EQ(path->textFormat(), Qt::PlainText);
  EXPECT_TRUE(path->text().startsWith("/media/") && path->text().endsWith("/STICK") &&
              path->text().contains(QChar(0x2026)))
      << path->text().toStdString();
  EXPECT_LE(path->fontMetrics().horizontalAdvance(path->text()), path->contentsRect().width());
  EXPECT_TRUE(path->toolTip().contains("/media/b &lt;b&gt;%1&lt;/b&gt; and a folder"));
  EXPECT_EQ(path->width(), Find(footer, "labelHu")->width()) << "the path takes the caption's width";

  QTest::mouseClick(button, Qt::LeftButton);
  EXPECT_LT(list->geometry().bottom(), footer->y() + path->y()) << "above the stick's row";
  SaveScreenshot(&dialog, "footer-list-open");
  UsbStorage::Get().RemoveUsb(9);
  footer->UpdateState();
  EXPECT_EQ(list->height(), 38 * 2 + 1) << "an open list stays open and fits its entries";
  const QPoint entry = list->visualItemRect(list->item(0)).center();
  Mouse(true, list->viewport(), entry);
  EXPECT_FALSE(list->isVisible()) << "the press on an entry closes the list";
  Mouse(false, list->viewport(), entry);
  EXPECT_EQ(list->currentItem()->text() + " " + path->text(), "/media/a /media/a")
      << "its click chooses the stick";

  // The list closes when it empties, when a map locks the switch and when the footer hides.
  for (const std::string closing : {"empty", "locked", "hidden"}) {
    SCOPED_TRACE(closing);
    PutMaps({});
    PlugIn({a, b});
    footer->show();
    QTest::mouseClick(button, Qt::LeftButton);
    ASSERT_TRUE(list->isVisible());
    PutSticks(closing == "empty" ? std::vector<UsbInfo>{} : std::vector<UsbInfo>{a, b});
    PutMaps({Map("map", MapInfo::Optional, closing == "locked" ? MapInfo::Downloading : MapInfo::Available)});
    if (closing == "hidden")
      footer->hide();
    footer->UpdateState();
    EXPECT_FALSE(list->isVisible() || button->isChecked());
  }
}

TEST_F(FooterTest, PressesElsewhereCloseTheListButNotOnTheFooterOrItsSwitch)
{
  QWidget other;
  other.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&other));
  PlugIn({a, b});
  // clang-format off
  struct Case { QWidget* target; QPoint at; bool closes; } const cases[] = {
      {footer, {footer->width() / 2, footer->height() - 3}, false},
      {button, {5, 5}, false},
      {Find(footer, "labelUsbSpace"), {5, 5}, true},
      {page, {100, 100}, true},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.target->objectName().toStdString());
    if (!list->isVisible())
      QTest::mouseClick(button, Qt::LeftButton);
    Mouse(true, c.target, c.at);
    EXPECT_EQ(list->isVisible(), !c.closes);
    Mouse(false, c.target, c.at);
  }
  QTest::mouseClick(button, Qt::LeftButton);
  QTest::mouseClick(other.windowHandle(), Qt::LeftButton, {}, QPoint(5, 5));
  EXPECT_FALSE(list->isVisible()) << "a press in another window closes it";
}
