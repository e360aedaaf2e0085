#include "ui/widgets/SettingsScreen.h"

#include "LogCapture.h"
#include "Screenshot.h"
#include "cfg/Config.h"
#include "cfg/Settings.h"
#include "fmu/MapStorage.h"
#include "ui/IUi.h"
#include "ui/OpenLink.h"
#include "usb/UsbStorage.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>

#include <functional>
#include <optional>

namespace {

class TestUi : public Ui::IUi
{
public:
  void Activate() override {}
  void SetState(State) override {}
  void UpdateUsbs() override {}
  void ConfirmQuit() override {}
};

QList<QLocale> Locales(const QStringList& names)
{
  QList<QLocale> locales;
  for (const QString& name : names)
    locales.append(QLocale(name));
  return locales;
}

enum Page
{
  General,
  Subscription,
  About
};
const char* const MenuButtons[] = {"pushButtonGeneral", "pushButtonSubscription", "pushButtonAbout"};

// A shown screen as its user sees it, found through the form's object names.
struct View
{
  explicit View(Ui::IUi& ui) : screen(ui)
  {
    screen.resize(739, 403);
    screen.show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&screen));
  }
  template <typename T = QLabel>
  T* Find(const char* name)
  {
    T* child = screen.findChild<T*>(QLatin1String(name));
    EXPECT_NE(child, nullptr) << name;
    return child;
  }
  QString Text(const char* name) { return Find(name)->text(); }
  QPushButton* Button(const char* name) { return Find<QPushButton>(name); }
  void Click(const char* name) { QTest::mouseClick(Find<QAbstractButton>(name), Qt::LeftButton); }
  QComboBox* Languages() { return Find<QComboBox>("comboBoxLanguage"); }
  QTextBrowser* Legal() { return Find<QTextBrowser>("labelLegal"); }
  int Page() { return Find<QStackedWidget>("stackedWidgetSettings")->currentIndex(); }
  QStringList Entries()
  {
    QStringList entries;
    for (int index = 0; index < Languages()->count(); ++index)
      entries << Languages()->itemText(index);
    return entries;
  }
  // The unsaved-changes flag with what it shows: "changed save cancel".
  QString Changes()
  {
    return QStringLiteral("%1 %2 %3")
        .arg(screen.SettingsChanged() ? "changed" : "unchanged",
             Button("pushButtonSaveSettings")->isEnabled() ? "save" : "-",
             Button("pushButtonCancel")->isVisible() ? "cancel" : "-");
  }

  Ui::SettingsScreen screen;
};

// Each test starts in British English without start at login or
// settings.json, with empty stores, British English and German offered, and a
// link opener that only notes what it is given.
class SettingsScreenTest : public ::testing::Test
{
protected:
  QList<QLocale> installed;
  Ui::LinkOpener previousOpener;
  QStringList opened;
  TestUi ui;

  void SetUp() override
  {
    installed = Config::get().locales;
    ASSERT_TRUE(installed.contains(QLocale("en_GB")) && installed.contains(QLocale("de_DE")));
    Config::get().locales = Locales({"de_DE", "en_GB"});
    Reset();
    previousOpener = Ui::SetLinkOpener([this](const QUrl& url) {
      opened << url.toString();
      return true;
    });
  }

  void TearDown() override
  {
    Ui::SetLinkOpener(previousOpener);
    Config::get().locales = installed;
    Reset();
    QLocale::setDefault(QLocale("en_GB"));
  }

  static void Reset()
  {
    Settings::get().SetLocale("en_GB");
    Settings::get().SetRunAtStartup(false);
    QFile::remove(SettingsFile());
    MapStorage::Get().Clear();
    for (UsbInfo::State state : {UsbInfo::InvalidMetadata, UsbInfo::NoMetadata, UsbInfo::ValidMetadata})
      for (const auto& usb : UsbStorage::Get().GetUsbs(state))
        UsbStorage::Get().RemoveUsb(usb.first);
  }

  static QString SettingsFile() { return Config::get().dataDir + "/settings.json"; }

  static void SetSubscriptionEnd(const QDate& date) { MapStorage::Get().UpdateHeadUnit({date}); }
};

} // namespace

TEST_F(SettingsScreenTest, LanguageListShowsEachOfferedLanguageByItsOwnNameAndChoosesTheStoredOne)
{
  struct Case
  {
    const char* name;
    QStringList locales;
    const char* stored;
    QStringList entries;
    QString chosen;
  };
  const Case cases[] = {
      {"British English stored",
       {"de_DE", "en_GB"},
       "en_GB",
       {"British English", "Deutsch"},
       "British English"},
      {"German stored", {"de_DE", "en_GB"}, "de_DE", {"British English", "Deutsch"}, "Deutsch"},
      {"sorted by name",
       {"fr_FR", "es_ES", "en_GB"},
       "en_GB",
       {"British English", "Español de España", "Français"},
       "British English"},
      {"stored one not offered",
       {"fr_FR", "en_GB"},
       "de_DE",
       {"British English", "Français"},
       "British English"},
      {"neither offered",
       {"fr_FR", "es_ES"},
       "de_DE",
       {"Español de España", "Français"},
       "Español de España"},
      {"none offered", {}, "en_GB", {}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(Settings::get().Locale() == c.stored || Settings::get().SetLocale(c.stored));
    Config::get().locales = Locales(c.locales);
    View view(ui);
    EXPECT_EQ(view.Entries(), c.entries);
    EXPECT_EQ(view.Languages()->currentText(), c.chosen);
    EXPECT_EQ(view.Changes(), "unchanged - -");
    EXPECT_EQ(view.Page(), General);
    EXPECT_TRUE(view.Button("pushButtonGeneral")->isChecked());
  }
}

TEST_F(SettingsScreenTest, UnsavedChangesLastUntilRestoredAndCancelOnlyReportsTheClick)
{
  const std::function<void(View&)> tick = [](View& v) { v.Click("checkBoxAutoStart"); };
  const std::function<void(View&)> down = [](View& v) { QTest::keyClick(v.Languages(), Qt::Key_Down); };
  const std::function<void(View&)> up = [](View& v) { QTest::keyClick(v.Languages(), Qt::Key_Up); };
  struct Case
  {
    const char* name;
    std::vector<std::function<void(View&)>> steps;
    const char* changes;
  };
  const Case cases[] = {
      {"nothing", {}, "unchanged - -"},
      {"start at login ticked", {tick}, "changed save cancel"},
      {"ticked and unticked", {tick, tick}, "changed save cancel"},
      {"other language", {down}, "changed save cancel"},
      {"other language and back", {down, up}, "changed save cancel"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    View view(ui);
    for (const auto& step : c.steps)
      step(view);
    EXPECT_EQ(view.Changes(), c.changes);
    QSignalSpy cancelled(&view.screen, &Ui::SettingsScreen::CancelButtonClicked);
    if (view.Button("pushButtonCancel")->isVisible())
      view.Click("pushButtonCancel");
    EXPECT_EQ(cancelled.count(), view.screen.SettingsChanged() ? 1 : 0);
    EXPECT_EQ(view.Changes(), c.changes);

    view.screen.RestoreSettings();
    EXPECT_EQ(view.Changes(), "unchanged - -");
    EXPECT_EQ(view.Languages()->currentText(), "British English");
    EXPECT_FALSE(view.Find<QCheckBox>("checkBoxAutoStart")->isChecked());
    EXPECT_FALSE(QFile::exists(SettingsFile()));
  }

  View view(ui);
  Settings::get().SetRunAtStartup(true);
  view.screen.RestoreSettings();
  EXPECT_FALSE(view.Find<QCheckBox>("checkBoxAutoStart")->isChecked())
      << "nothing to restore, nothing changes";
}

TEST_F(SettingsScreenTest, SavingWritesTheSettingsAndAnnouncesAChangedLanguageOnceBeforeWritingThem)
{
  struct Case
  {
    const char* name;
    QStringList locales;
    int languageSteps; // down from British English
    int announcements;
    const char* stored;
    const char* shown;
    const char* title;
    const char* date;
  };
  const Case cases[] = {
      {"same language", {"en_GB", "de_DE"}, 0, 0, "en_GB", "British English", "Settings", "05 December 2026"},
      {"German", {"en_GB", "de_DE"}, 1, 1, "de_DE", "Deutsch", "Einstellungen", "05 Dezember 2026"},
      {"language without a loadable translation",
       {"en_GB", "de_DE", "fr_FR"},
       2,
       0,
       "en_GB",
       "British English",
       "Settings",
       "05 December 2026"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Reset();
    SetSubscriptionEnd(QDate(2026, 12, 5));
    Config::get().locales = Locales(c.locales);
    View view(ui);
    for (int step = 0; step < c.languageSteps; ++step)
      QTest::keyClick(view.Languages(), Qt::Key_Down);
    view.Click("checkBoxAutoStart");
    bool writtenFirst = false;
    QObject::connect(&ui, &Ui::IUi::UpdateLocale, &view.screen,
                     [&] { writtenFirst = QFile::exists(SettingsFile()) || Settings::get().RunAtStartup(); });
    QSignalSpy announced(&ui, &Ui::IUi::UpdateLocale);
    LogCapture log;
    view.Click("pushButtonSaveSettings");

    EXPECT_EQ(announced.count(), c.announcements);
    EXPECT_FALSE(writtenFirst);
    QFile file(SettingsFile());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QJsonObject stored = QJsonDocument::fromJson(file.readAll()).object();
    EXPECT_EQ(stored.value("language").toString(), c.stored);
    EXPECT_EQ(stored.value("run at startup").toString(), "true");
    EXPECT_EQ(view.Languages()->currentText(), c.shown);
    EXPECT_EQ(view.Text("labelTitle"), c.title);
    EXPECT_EQ(view.Text("labelSubscriptionDate"), c.date);
    EXPECT_EQ(view.Changes(), "unchanged - -");
    EXPECT_EQ(log.Mentions("Failed to load translation file: "), c.languageSteps > c.announcements);
  }
}

TEST_F(SettingsScreenTest, SubscriptionPageTellsUntilWhenTheVehicleMayReceiveMapUpdates)
{
  const QString entitled = "This vehicle is entitled to receive map updates until: ";
  const QString notYet = "This vehicle is not yet entitled to receive map updates.";
  struct Case
  {
    const char* name;
    QDate end;
    std::optional<UsbInfo::State> stick;
    Page before;
    QString title;
    QString date;
    bool reachable;
    Page after;
  };
  const Case cases[] = {
      {"end date", QDate(2026, 12, 5), {}, Subscription, entitled, "05 December 2026", true, Subscription},
      {"end date passed", QDate(2020, 3, 1), {}, General, entitled, "01 March 2020", true, General},
      {"no date, broken map folder",
       {},
       UsbInfo::InvalidMetadata,
       Subscription,
       notYet,
       "",
       true,
       Subscription},
      {"no date, map folder", {}, UsbInfo::ValidMetadata, About, notYet, "", true, About},
      {"no date, no map folder", {}, UsbInfo::NoMetadata, Subscription, "", "", false, General},
      {"no date, no stick", {}, {}, Subscription, "", "", false, General},
      {"no date, no stick, about page", {}, {}, About, "", "", false, About},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Reset();
    SetSubscriptionEnd(QDate(2030, 1, 1));
    View view(ui);
    view.Click(MenuButtons[c.before]);
    ASSERT_EQ(view.Page(), c.before);
    SetSubscriptionEnd(c.end);
    if (c.stick)
      UsbStorage::Get().UpdateUsb({7, "/media/stick", 0, 0, *c.stick, true});
    view.screen.UpdateSubscription();
    EXPECT_EQ(view.Text("labelSubscriptionTitle"), c.title);
    EXPECT_EQ(view.Text("labelSubscriptionDate"), c.date);
    EXPECT_EQ(view.Button("pushButtonSubscription")->isEnabled(), c.reachable);
    EXPECT_EQ(view.Page(), c.after);
    EXPECT_TRUE(view.Button(MenuButtons[c.after])->isChecked());
  }
}

TEST_F(SettingsScreenTest, AboutPageShowsVersionYearAndLegalNoticesAndOpensOnlyWebLinks)
{
  View view(ui);
  view.Click("pushButtonAbout");
  EXPECT_EQ(view.Text("labelCurrentVersion"), "Version " + Config::get().version);
  const QString notice = view.Text("labelCopyright");
  EXPECT_TRUE(notice.contains("2008&ndash;" + Config::get().copyrightYear + " Orvane"))
      << notice.toStdString();
  EXPECT_EQ(view.Find<QCheckBox>("checkBoxAutoStart")->text(),
            "Start " + Config::get().appName + " when the computer starts (recommended)");
  // Translations and dates come from files: never read as markup.
  for (const char* label : {"labelTitle", "labelLanguage", "labelSubscriptionTitle", "labelSubscriptionDate",
                            "labelCurrentVersion"})
    EXPECT_EQ(view.Find(label)->textFormat(), Qt::PlainText) << label;

  // Each link button asks for its page at the click, in the language then in effect.
  const char* const buttons[] = {"pushButtonTermsAndConditions", "pushButtonCopyrightMapData",
                                 "pushButtonReportMapError"};
  for (const char* locale : {"de_DE", "en_GB"}) {
    ASSERT_TRUE(Settings::get().SetLocale(locale));
    emit ui.UpdateLocale();
    for (const char* button : buttons)
      view.Click(button);
  }
  EXPECT_EQ(opened, QStringList({"https://www.arvel.invalid/de/terms-and-conditions/",
                                 "https://www.orvane.invalid/en_gb/thirdpartyproductterms/",
                                 "https://www.orvane.invalid/de_DE/account/login.html",
                                 "https://www.arvel.invalid/en/terms-and-conditions/",
                                 "https://www.orvane.invalid/en_gb/thirdpartyproductterms/",
                                 "https://www.orvane.invalid/en_GB/account/login.html"}));
  EXPECT_EQ(view.Text("labelCopyright"), notice) << "the year is filled in once";

  QTextBrowser* legal = view.Legal();
  for (const char* shipped :
       {"Qt 5", "GNU Lesser General Public License", "Boost Software License", "Roboto", "Apache License"})
    EXPECT_TRUE(legal->toPlainText().contains(shipped)) << shipped;
  int links = 0;
  for (QTextBlock block = legal->document()->begin(); block.isValid(); block = block.next())
    for (auto it = block.begin(); !it.atEnd(); ++it)
      if (it.fragment().charFormat().isAnchor()) {
        ++links;
        EXPECT_EQ(it.fragment().charFormat().foreground().color(), QColor("#846659"));
      }
  EXPECT_GT(links, 2);

  // The keyboard reaches the first link; Return hands it to the browser and the page stays.
  opened.clear();
  legal->setFocus();
  QTest::keyClick(legal, Qt::Key_Tab);
  QTest::keyClick(legal, Qt::Key_Return);
  EXPECT_EQ(opened, QStringList("https://download.qt.io/archive/qt/5.15/"));
  EXPECT_EQ(legal->source(), QUrl());
  emit legal->anchorClicked(QUrl("file:///etc/passwd"));
  EXPECT_EQ(opened.size(), 1) << "no other scheme is followed";
}

TEST_F(SettingsScreenTest, MissingLegalPageIsLoggedAndTheScreenIsStillBuiltWhole)
{
  const QString builtIn = Ui::SettingsScreen::SetLegalPage(":/legal/missing.htm");
  LogCapture log;
  View view(ui);
  Ui::SettingsScreen::SetLegalPage(builtIn);
  bool warned = false;
  for (const std::string& line : log.Lines())
    warned |= line.find(" Warning | ") != std::string::npos &&
              line.find("Unable to open file: :/legal/missing.htm, :") != std::string::npos;
  EXPECT_TRUE(warned);
  EXPECT_EQ(view.Entries(), QStringList({"British English", "Deutsch"}));
  EXPECT_EQ(view.Languages()->currentText(), "British English");
  EXPECT_EQ(view.Changes(), "unchanged - -");
  EXPECT_EQ(view.Page(), General);
  EXPECT_EQ(view.Text("labelCurrentVersion"), "Version " + Config::get().version);
}

TEST_F(SettingsScreenTest, ScreenshotsAndAReadableFocusedLanguageList)
{
  SetSubscriptionEnd(QDate(2026, 12, 5));
  View view(ui);
  view.Click("checkBoxAutoStart");
  QApplication::setActiveWindow(&view.screen);
  view.Languages()->setFocus();
  ASSERT_TRUE(QTest::qWaitFor([&] { return view.Languages()->hasFocus(); }));
  const QImage list = view.Languages()->grab().toImage();
  int dark = 0;
  for (int y = 0; y < list.height(); ++y)
    for (int x = 0; x < list.width() / 2; ++x)
      dark += qGray(list.pixel(x, y)) < 100;
  EXPECT_GT(dark, 20) << "the chosen language stays dark on the light list while it has the focus";

  EXPECT_FALSE(SaveScreenshot(&view.screen, "SettingsScreen-General").isEmpty());
  view.Click("pushButtonSubscription");
  EXPECT_FALSE(SaveScreenshot(&view.screen, "SettingsScreen-Subscription").isEmpty());
  view.Click("pushButtonAbout");
  EXPECT_FALSE(SaveScreenshot(&view.screen, "SettingsScreen-About").isEmpty());
  ASSERT_TRUE(view.Legal()->find("Boost Software License - Version 1.0"));
  EXPECT_FALSE(SaveScreenshot(&view.screen, "SettingsScreen-About-Licence").isEmpty());
  ASSERT_TRUE(Settings::get().SetLocale("de_DE"));
  emit ui.UpdateLocale();
  view.Click("pushButtonGeneral");
  EXPECT_FALSE(SaveScreenshot(&view.screen, "SettingsScreen-General-German").isEmpty());
}
