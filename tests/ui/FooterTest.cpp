#include "ui/widgets/Footer.h"

#include "Screenshot.h"
#include "fmu/MapStorage.h"
#include "usb/UsbStorage.h"
#include "util/Fonts.h"

#include <gtest/gtest.h>

#include <QDialog>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>
#include <QWindow>

#include <vector>

namespace {

constexpr std::uint64_t GiB = 1024ull * 1024 * 1024;

struct Stick
{
  UsbInfo::Id id;
  const char* path;
  UsbInfo::State state;
};

// The footer as the main window holds it: below a page, in a dialog named as
// the main window is, shown on the screen.
class FooterTest : public testing::Test
{
protected:
  static void SetUpTestSuite() { Fonts::Load(); }

  FooterTest()
  {
    dialog.setObjectName("MainWindowDialog");
    auto* layout = new QVBoxLayout(&dialog);
    page = new QWidget(&dialog);
    footer = new Ui::Footer(&dialog);
    footer->setObjectName("widgetFooter");
    layout->addWidget(page, 1);
    layout->addWidget(footer);
    footer->RetranslateUi();
    dialog.resize(800, 400);
    dialog.show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    list = dialog.findChild<QListWidget*>();
  }

  ~FooterTest() override
  {
    for (auto state : {UsbInfo::InvalidMetadata, UsbInfo::NoMetadata, UsbInfo::ValidMetadata})
      for (const auto& usb : UsbStorage::Get().GetUsbs(state))
        UsbStorage::Get().RemoveUsb(usb.first);
    MapStorage::Get().Clear();
  }

  // Stores the sticks, the first one active, each with 1.5 of 16 GiB free.
  static void PlugIn(const std::vector<Stick>& sticks)
  {
    for (const Stick& stick : sticks)
      UsbStorage::Get().UpdateUsb(
          {stick.id, stick.path, 16 * GiB, 3 * GiB / 2, stick.state, &stick == &sticks[0]});
  }

  template <typename T>
  T* Find(const char* name)
  {
    return footer->findChild<T*>(name);
  }

  QStringList Entries() const
  {
    QStringList texts;
    for (int row = 0; row < list->count(); ++row)
      texts << list->item(row)->text();
    return texts;
  }

  // A real press (and release) on the main window, delivered as the window
  // system delivers it.
  void Press(QWidget* target, QPoint at)
  {
    QTest::mousePress(dialog.windowHandle(), Qt::LeftButton, {}, target->mapTo(&dialog, at));
  }
  void Release(QWidget* target, QPoint at)
  {
    QTest::mouseRelease(dialog.windowHandle(), Qt::LeftButton, {}, target->mapTo(&dialog, at));
  }

  QDialog dialog;
  QWidget* page;
  Ui::Footer* footer;
  QListWidget* list;
};

TEST_F(FooterTest, PanelsListAndSwitchFollowTheSticksAndTheMaps)
{
  struct Case
  {
    const char* name;
    std::vector<Stick> sticks; // the first one is active
    MapInfo::State map;        // the state of the one stored map, Unknown for none
    bool usbPanel, headUnitPanel;
    QStringList entries;
    bool switchEnabled;
  };
  const std::vector<Case> cases = {
      {"no-stick", {}, MapInfo::Unknown, false, false, {}, false},
      {"single-without-metadata",
       {{7, "/media/one", UsbInfo::NoMetadata}},
       MapInfo::Unknown,
       true,
       false,
       {"/media/one"},
       false},
      {"two-without-metadata",
       {{7, "/media/two", UsbInfo::NoMetadata}, {8, "/media/one", UsbInfo::NoMetadata}},
       MapInfo::Unknown,
       true,
       false,
       {"/media/one", "/media/two"},
       true},
      {"valid-metadata",
       {{7, "/media/two", UsbInfo::ValidMetadata}, {8, "/media/one", UsbInfo::NoMetadata}},
       MapInfo::Unknown,
       true,
       true,
       {"/media/two"},
       false},
      {"invalid-metadata",
       {{7, "/media/two", UsbInfo::InvalidMetadata}},
       MapInfo::Unknown,
       true,
       true,
       {"/media/two"},
       false},
      {"downloading",
       {{7, "/media/two", UsbInfo::NoMetadata}, {8, "/media/one", UsbInfo::NoMetadata}},
       MapInfo::Downloading,
       true,
       false,
       {"/media/one", "/media/two"},
       false},
      {"deleting",
       {{7, "/media/two", UsbInfo::NoMetadata}, {8, "/media/one", UsbInfo::NoMetadata}},
       MapInfo::Deleting,
       true,
       false,
       {"/media/one", "/media/two"},
       false},
      {"pending",
       {{7, "/media/two", UsbInfo::NoMetadata}, {8, "/media/one", UsbInfo::NoMetadata}},
       MapInfo::Pending,
       true,
       false,
       {"/media/one", "/media/two"},
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PlugIn(c.sticks);
    MapInfo map;
    map.id = "map";
    map.state = c.map;
    if (map.Valid())
      MapStorage::Get().UpdateMap(map);
    footer->UpdateState();

    EXPECT_EQ(Find<QLabel>("labelUsb")->isVisible(), c.usbPanel);
    EXPECT_EQ(Find<QPushButton>("pushButtonUsb")->isVisible(), c.usbPanel);
    EXPECT_EQ(Find<QProgressBar>("progressBarHu")->isVisible(), c.headUnitPanel);
    EXPECT_EQ(Find<QLabel>("labelHu")->isVisible(), c.headUnitPanel);
    EXPECT_EQ(Entries(), c.entries);
    if (!c.sticks.empty()) {
      EXPECT_EQ(Find<QLabel>("labelUsb")->text(), c.sticks[0].path);
      ASSERT_NE(list->currentItem(), nullptr);
      EXPECT_EQ(list->currentItem()->text(), c.sticks[0].path) << "the active stick is selected";
      EXPECT_EQ(Find<QPushButton>("pushButtonUsb")->isEnabled(), c.switchEnabled);
    }
    if (c.map == MapInfo::Unknown && (c.sticks.size() != 2 || c.usbPanel))
      SaveScreenshot(footer, QStringLiteral("footer-%1").arg(c.name));
    for (const Stick& stick : c.sticks)
      UsbStorage::Get().RemoveUsb(stick.id);
    MapStorage::Get().Clear();
  }
}

TEST_F(FooterTest, GaugesShowTheShareInUseAndTheFreeAmountInItsColour)
{
  struct Case
  {
    const char* name;
    qint64 free, total;
    int value;
    const char* colour;
    QString text;
  };
  const qint64 Gi = static_cast<qint64>(GiB);
  const std::vector<Case> cases = {
      {"part-free", 3 * Gi / 2, 16 * Gi, 91, "#005691", "1.50 GB free of 16.00 GB"},
      {"nothing-free", 0, 16 * Gi, 100, "#EA0016", "0.00 B free of 16.00 GB"},
      {"all-free", 16 * Gi, 16 * Gi, 0, "#005691", "16.00 GB free of 16.00 GB"},
      {"no-total", 0, 0, 0, "#EA0016", "0.00 B free of 0.00 B"},
      {"more-free-than-total", 2 * Gi, Gi, 0, "#005691", "2.00 GB free of 1.00 GB"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // Both gauges start full, so that a value left over would show.
    Find<QProgressBar>("progressBarHu")->setValue(100);
    Find<QProgressBar>("progressBarUsb")->setValue(100);
    MapStorage::Get().UpdateHeadUnit({QDate(), c.free, c.total});
    UsbStorage::Get().UpdateUsb(
        {7, "/media/stick", std::uint64_t(c.total), std::uint64_t(c.free), UsbInfo::ValidMetadata, true});
    footer->UpdateState();
    for (const char* gauge : {"Hu", "Usb"}) {
      SCOPED_TRACE(gauge);
      auto* bar = Find<QProgressBar>(qPrintable(QStringLiteral("progressBar%1").arg(gauge)));
      auto* label = Find<QLabel>(qPrintable(QStringLiteral("label%1Space").arg(gauge)));
      EXPECT_EQ(bar->value(), c.value);
      EXPECT_EQ(bar->styleSheet(), QStringLiteral("::chunk{ background: %1; }").arg(c.colour));
      const QString freeText = c.text.section(" free of ", 0, 0), totalText = c.text.section(" free of ", 1);
      EXPECT_EQ(label->text(), QStringLiteral("<font color=\"%1\" valign=\"center\">%2</font>"
                                              "<font color=\"#606061\"> free of %3</font>")
                                   .arg(c.colour, freeText, totalText));
    }
  }

  // Negative head-unit figures read as nothing free of nothing; the stick's
  // gauge refreshes by itself within about a second.
  MapStorage::Get().UpdateHeadUnit({QDate(), -5, -1});
  UsbStorage::Get().UpdateUsbSpace(7, 16 * GiB, 8 * GiB);
  QTRY_COMPARE_WITH_TIMEOUT(Find<QProgressBar>("progressBarUsb")->value(), 50, 5000);
  EXPECT_EQ(Find<QProgressBar>("progressBarHu")->value(), 0);
  EXPECT_TRUE(
      Find<QLabel>("labelHuSpace")->text().contains(">0.00 B</font><font color=\"#606061\"> free of 0.00 B"));
}

TEST_F(FooterTest, ListOpensAboveTheStickRowAndAStickIsChosenFromIt)
{
  PlugIn({{7, "/media/b <b>%1</b>", UsbInfo::NoMetadata},
          {8, "/media/a", UsbInfo::NoMetadata},
          {9, "/media/c", UsbInfo::NoMetadata}});
  footer->UpdateState();
  auto* button = Find<QPushButton>("pushButtonUsb");
  auto* labelUsb = Find<QLabel>("labelUsb");
  EXPECT_EQ(labelUsb->textFormat(), Qt::PlainText);
  EXPECT_EQ(labelUsb->text(), "/media/b <b>%1</b>");
  EXPECT_EQ(labelUsb->width(), Find<QLabel>("labelHu")->width()) << "the path takes the caption's width";

  QTest::mouseClick(button, Qt::LeftButton);
  ASSERT_TRUE(list->isVisible());
  EXPECT_TRUE(button->isChecked());
  EXPECT_EQ(list->height(), 38 * 3 + 1);
  EXPECT_EQ(list->width(), labelUsb->x() + labelUsb->width() - 16);
  EXPECT_EQ(list->x(), footer->x());
  EXPECT_EQ(list->geometry().bottom() + 1 + 6, footer->y() + labelUsb->y())
      << "6 px above the stick's caption";
  SaveScreenshot(&dialog, "footer-list-open");

  // A stick leaves: the open list is placed anew for two entries.
  UsbStorage::Get().RemoveUsb(9);
  footer->UpdateState();
  ASSERT_TRUE(list->isVisible());
  EXPECT_EQ(list->height(), 38 * 2 + 1);

  // The press on an entry closes the list, the click makes its stick active.
  const QRect entry = list->visualItemRect(list->findItems("/media/a", Qt::MatchExactly).value(0));
  Press(list->viewport(), entry.center());
  EXPECT_FALSE(list->isVisible());
  Release(list->viewport(), entry.center());
  EXPECT_EQ(UsbStorage::Get().GetActiveUsb().id, 8u);
  EXPECT_EQ(labelUsb->text(), "/media/a");
  EXPECT_EQ(list->currentItem()->text(), "/media/a");
  EXPECT_FALSE(list->isVisible());
  EXPECT_FALSE(button->isChecked());

  // The list closes when it empties, when the switch is locked by a map on
  // the stick, and when the footer hides.
  for (const char* closing : {"empty", "locked", "hidden"}) {
    SCOPED_TRACE(closing);
    PlugIn({{8, "/media/a", UsbInfo::NoMetadata}, {7, "/media/b", UsbInfo::NoMetadata}});
    footer->show();
    footer->UpdateState();
    QTest::mouseClick(button, Qt::LeftButton);
    ASSERT_TRUE(list->isVisible());
    if (closing == std::string("empty")) {
      UsbStorage::Get().RemoveUsb(7);
      UsbStorage::Get().RemoveUsb(8);
      footer->UpdateState();
    } else if (closing == std::string("locked")) {
      MapInfo map;
      map.id = "map";
      map.state = MapInfo::Pending;
      MapStorage::Get().UpdateMap(map);
      footer->UpdateState();
      MapStorage::Get().Clear();
    } else {
      footer->hide();
    }
    EXPECT_FALSE(list->isVisible());
    EXPECT_FALSE(button->isChecked());
  }
}

TEST_F(FooterTest, PressesElsewhereCloseTheListButNotOnTheFooterOrItsSwitch)
{
  QWidget other;
  other.resize(100, 100);
  other.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&other));
  PlugIn({{7, "/media/a", UsbInfo::NoMetadata}, {8, "/media/b", UsbInfo::NoMetadata}});
  footer->UpdateState();
  auto* button = Find<QPushButton>("pushButtonUsb");

  struct Case
  {
    const char* name;
    QWidget* target;
    QPoint at;
    bool closes;
  };
  const std::vector<Case> cases = {
      {"footer background", footer, QPoint(footer->width() / 2, footer->height() - 3), false},
      {"stick switch", button, QPoint(5, 5), false},
      {"gauge", Find<QLabel>("labelUsbSpace"), QPoint(5, 5), true},
      {"page", page, QPoint(100, 100), true},
      {"dialog margin", &dialog, QPoint(2, 2), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (!list->isVisible())
      QTest::mouseClick(button, Qt::LeftButton);
    ASSERT_TRUE(list->isVisible());
    Press(c.target, c.at);
    EXPECT_EQ(list->isVisible(), !c.closes);
    EXPECT_EQ(button->isChecked(), !c.closes);
    Release(c.target, c.at);
  }
  // The switch's own click closes the open list; a press in another window
  // closes it too.
  EXPECT_FALSE(list->isVisible()) << "the last click on the switch toggled the list";
  QTest::mouseClick(button, Qt::LeftButton);
  QTest::mouseClick(other.windowHandle(), Qt::LeftButton, {}, QPoint(50, 50));
  EXPECT_FALSE(list->isVisible());
}

} // namespace
