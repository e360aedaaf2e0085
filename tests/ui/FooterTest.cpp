#include "ui/widgets/Footer.h"

#include "Screenshot.h"
#include "fmu/MapStorage.h"
#include "usb/UsbStorage.h"

#include <gtest/gtest.h>

#include <QDialog>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTranslator>
#include <QVBoxLayout>
#include <QWindow>

namespace {

constexpr qint64 GiB = 1024ll * 1024 * 1024;
const UsbInfo a{8, "/media/a", 16 * GiB, 3 * GiB / 2, UsbInfo::NoMetadata, false};
const UsbInfo b{7, "/media/b", 16 * GiB, 3 * GiB / 2, UsbInfo::NoMetadata, false};

// The footer below a page of a dialog named as the main window is, on screen.
class FooterTest : public testing::Test
{
protected:
  FooterTest()
  {
    dialog.setObjectName("MainWindowDialog");
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(page = new QWidget(&dialog), 1);
    layout->addWidget(footer = new Ui::Footer(&dialog));
    footer->RetranslateUi();
    dialog.resize(800, 400);
    dialog.show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    list = dialog.findChild<QListWidget*>();
    button = footer->findChild<QPushButton*>("pushButtonUsb");
  }

  ~FooterTest() override
  {
    QCoreApplication::removeTranslator(&german);
    for (auto state : {UsbInfo::InvalidMetadata, UsbInfo::NoMetadata, UsbInfo::ValidMetadata})
      for (const auto& usb : UsbStorage::Get().GetUsbs(state))
        UsbStorage::Get().RemoveUsb(usb.first);
    MapStorage::Get().Clear();
  }

  // Stores the sticks, the first one active, and refreshes the footer.
  void PlugIn(std::vector<UsbInfo> sticks)
  {
    sticks.front().active = true;
    for (const UsbInfo& stick : sticks)
      UsbStorage::Get().UpdateUsb(stick);
    footer->UpdateState();
  }

  template <typename T = QLabel>
  T* Find(const QString& name)
  {
    return footer->findChild<T*>(name);
  }

  // A press or release on the main window, delivered through its native window.
  void Mouse(bool press, QWidget* target, QPoint at)
  {
    const QPoint pos = target->mapTo(&dialog, at);
    if (press)
      QTest::mousePress(dialog.windowHandle(), Qt::LeftButton, {}, pos);
    else
      QTest::mouseRelease(dialog.windowHandle(), Qt::LeftButton, {}, pos);
  }

  QDialog dialog;
  QWidget* page;
  Ui::Footer* footer;
  QListWidget* list;
  QPushButton* button;
  QTranslator german;
};

TEST_F(FooterTest, PanelsListAndSwitchFollowTheSticksAndTheMaps)
{
  UsbInfo valid = b, invalid = b;
  valid.state = UsbInfo::ValidMetadata;
  invalid.state = UsbInfo::InvalidMetadata;
  struct Case
  {
    const char* name;
    std::vector<UsbInfo> sticks; // the first one is active
    MapInfo::State map;          // the state of the one stored map
    bool headUnitPanel;
    int entries;
    bool switchEnabled;
  };
  for (const Case& c : std::vector<Case>{{"no-stick", {}, MapInfo::Unknown, false, 0, false},
                                         {"single-without-metadata", {b}, MapInfo::Unknown, false, 1, false},
                                         {"two-without-metadata", {b, a}, MapInfo::Unknown, false, 2, true},
                                         {"valid-metadata", {valid, a}, MapInfo::Unknown, true, 1, false},
                                         {"invalid-metadata", {invalid}, MapInfo::Unknown, true, 1, false},
                                         {"downloading", {b, a}, MapInfo::Downloading, false, 2, false},
                                         {"deleting", {b, a}, MapInfo::Deleting, false, 2, false},
                                         {"pending", {b, a}, MapInfo::Pending, false, 2, false}}) {
    SCOPED_TRACE(c.name);
    MapInfo map;
    map.state = c.map;
    if (map.Valid())
      MapStorage::Get().UpdateMap(map);
    if (c.sticks.empty())
      footer->UpdateState();
    else
      PlugIn(c.sticks);

    EXPECT_EQ(Find("labelUsb")->isVisible(), !c.sticks.empty());
    EXPECT_EQ(button->isVisible(), !c.sticks.empty());
    EXPECT_EQ(Find<QProgressBar>("progressBarHu")->isVisible(), c.headUnitPanel);
    EXPECT_EQ(Find("labelHu")->isVisible(), c.headUnitPanel);
    ASSERT_EQ(list->count(), c.entries);
    if (c.entries == 2) {
      EXPECT_EQ(list->item(0)->text() + list->item(1)->text(), "/media/a/media/b") << "in order of the paths";
    }
    if (c.entries) {
      EXPECT_EQ(Find("labelUsb")->text(), "/media/b");
      EXPECT_EQ(list->currentItem()->text(), "/media/b") << "the active stick is selected";
      EXPECT_EQ(button->isEnabled(), c.switchEnabled);
    }
    if (c.map == MapInfo::Unknown)
      SaveScreenshot(footer, QStringLiteral("footer-%1").arg(c.name));
    for (const UsbInfo& stick : c.sticks)
      UsbStorage::Get().RemoveUsb(stick.id);
    MapStorage::Get().Clear();
  }
}

TEST_F(FooterTest, GaugesShowTheShareInUseAndTheFreeAmountInItsColour)
{
  struct Case
  {
    qint64 free, total;
    int value;
    const char* colour;
    const char *freeText, *totalText;
  };
  for (const Case& c : std::vector<Case>{{3 * GiB / 2, 16 * GiB, 91, "#005691", "1.50 GB", "16.00 GB"},
                                         {0, 16 * GiB, 100, "#EA0016", "0.00 B", "16.00 GB"},
                                         {16 * GiB, 16 * GiB, 0, "#005691", "16.00 GB", "16.00 GB"},
                                         {0, 0, 0, "#EA0016", "0.00 B", "0.00 B"},
                                         {2 * GiB, GiB, 0, "#005691", "2.00 GB", "1.00 GB"}}) {
    SCOPED_TRACE(c.freeText + std::string(" of ") + c.totalText);
    for (const char* bar : {"progressBarHu", "progressBarUsb"})
      Find<QProgressBar>(bar)->setValue(100); // a value left over would show
    MapStorage::Get().UpdateHeadUnit({QDate(), c.free, c.total});
    PlugIn({{7, "/media/b", std::uint64_t(c.total), std::uint64_t(c.free), UsbInfo::ValidMetadata, true}});
    for (const char* gauge : {"Hu", "Usb"}) {
      SCOPED_TRACE(gauge);
      auto* bar = Find<QProgressBar>(QStringLiteral("progressBar%1").arg(gauge));
      EXPECT_EQ(bar->value(), c.value);
      EXPECT_EQ(bar->styleSheet(), QStringLiteral("::chunk{ background: %1; }").arg(c.colour));
      EXPECT_EQ(
          Find(QStringLiteral("label%1Space").arg(gauge))->text(),
          QStringLiteral(
              "<font color=\"%1\" valign=\"center\">%2</font><font color=\"#606061\"> free of %3</font>")
              .arg(c.colour, c.freeText, c.totalText));
    }
  }
  // Negative head-unit figures read as 0; the gauges refresh by themselves.
  MapStorage::Get().UpdateHeadUnit({QDate(), -5, -1});
  UsbStorage::Get().UpdateUsbSpace(7, 16 * GiB, 8 * GiB);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Find<QProgressBar>("progressBarUsb")->value() == 50; }));
  EXPECT_TRUE(
      Find("labelHuSpace")->text().contains(">0.00 B</font><font color=\"#606061\"> free of 0.00 B<"));

  // In German the caption changes at once, the space texts at the next tick.
  ASSERT_TRUE(german.load(QCoreApplication::applicationDirPath() + "/res/translations/de_DE.qm"));
  QCoreApplication::installTranslator(&german);
  footer->RetranslateUi();
  EXPECT_EQ(Find("labelHu")->text(), "Navigationssystem");
  EXPECT_EQ(Find("labelUsb")->maximumWidth(), Find("labelHu")->width());
  ASSERT_TRUE(
      QTest::qWaitFor([&] { return Find("labelUsbSpace")->text().endsWith("> frei von 16.00 GB</font>"); }));
}

TEST_F(FooterTest, ListOpensAboveTheStickRowAndAStickIsChosenFromIt)
{
  UsbInfo odd = b, c = a;
  odd.path = "/media/b <b>%1</b> and a folder name far too long for the column/STICK";
  c.id = 9;
  c.path = "/media/c";
  PlugIn({odd, a, c});
  QLabel* labelUsb = Find("labelUsb");
  EXPECT_EQ(labelUsb->textFormat(), Qt::PlainText);
  EXPECT_TRUE(labelUsb->text().startsWith("/media/") && labelUsb->text().endsWith("/STICK") &&
              labelUsb->text().contains(QChar(0x2026)))
      << "the middle of a long path gives way: " << labelUsb->text().toStdString();
  EXPECT_LE(labelUsb->fontMetrics().horizontalAdvance(labelUsb->text()), labelUsb->contentsRect().width());
  EXPECT_TRUE(labelUsb->toolTip().contains("/media/b &lt;b&gt;%1&lt;/b&gt; and a folder"));
  EXPECT_EQ(labelUsb->width(), Find("labelHu")->width()) << "the path takes the caption's width";

  QTest::mouseClick(button, Qt::LeftButton);
  ASSERT_TRUE(list->isVisible());
  EXPECT_TRUE(button->isChecked());
  EXPECT_EQ(list->geometry(), QRect(footer->x(), footer->y() + labelUsb->y() - 6 - (38 * 3 + 1),
                                    labelUsb->x() + labelUsb->width() - 16, 38 * 3 + 1));
  SaveScreenshot(&dialog, "footer-list-open");

  UsbStorage::Get().RemoveUsb(9);
  footer->UpdateState();
  ASSERT_TRUE(list->isVisible()) << "an open list stays open";
  EXPECT_EQ(list->height(), 38 * 2 + 1);

  // The press on an entry closes the list, its click makes the stick active.
  const QPoint entry = list->visualItemRect(list->item(0)).center();
  Mouse(true, list->viewport(), entry);
  EXPECT_FALSE(list->isVisible());
  Mouse(false, list->viewport(), entry);
  EXPECT_EQ(UsbStorage::Get().GetActiveUsb().id, a.id);
  EXPECT_EQ(labelUsb->text(), "/media/a");
  EXPECT_EQ(list->currentItem()->text(), "/media/a");
  EXPECT_FALSE(list->isVisible());
  EXPECT_FALSE(button->isChecked());

  // The list closes when it empties, when a map locks the switch and when
  // the footer hides.
  for (const char* closing : {"empty", "locked", "hidden"}) {
    SCOPED_TRACE(closing);
    PlugIn({a, b});
    footer->show();
    QTest::mouseClick(button, Qt::LeftButton);
    ASSERT_TRUE(list->isVisible());
    MapInfo map;
    map.state = MapInfo::Pending;
    if (closing == std::string("empty")) {
      UsbStorage::Get().RemoveUsb(a.id);
      UsbStorage::Get().RemoveUsb(b.id);
    } else if (closing == std::string("locked")) {
      MapStorage::Get().UpdateMap(map);
    } else {
      footer->hide();
    }
    footer->UpdateState();
    EXPECT_FALSE(list->isVisible());
    EXPECT_FALSE(button->isChecked());
    MapStorage::Get().Clear();
  }
}

TEST_F(FooterTest, PressesElsewhereCloseTheListButNotOnTheFooterOrItsSwitch)
{
  QWidget other;
  other.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&other));
  PlugIn({a, b});
  struct Case
  {
    const char* name;
    QWidget* target;
    QPoint at;
    bool closes;
  };
  for (const Case& c :
       std::vector<Case>{{"footer", footer, {footer->width() / 2, footer->height() - 3}, false},
                         {"switch", button, {5, 5}, false},
                         {"gauge", Find("labelUsbSpace"), {5, 5}, true},
                         {"page", page, {100, 100}, true},
                         {"dialog", &dialog, {2, 2}, true}}) {
    SCOPED_TRACE(c.name);
    if (!list->isVisible())
      QTest::mouseClick(button, Qt::LeftButton);
    Mouse(true, c.target, c.at);
    EXPECT_EQ(list->isVisible(), !c.closes);
    EXPECT_EQ(button->isChecked(), !c.closes);
    Mouse(false, c.target, c.at);
  }
  EXPECT_FALSE(list->isVisible()) << "the click on the switch closed the list";
  QTest::mouseClick(button, Qt::LeftButton);
  QTest::mouseClick(other.windowHandle(), Qt::LeftButton, {}, QPoint(5, 5));
  EXPECT_FALSE(list->isVisible()) << "a press in another window closes it";
}

} // namespace
