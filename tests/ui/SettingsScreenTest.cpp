#include "ui/widgets/SettingsScreen.h"

#include "Files.h"
#include "WidgetTest.h"
#include "cfg/Settings.h"
#include "ui/OpenLink.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QStackedWidget>
#include <QTextBrowser>

// A screen on show, in British English without start at login or
// settings.json, with the languages offered and a head unit.
class SettingsScreenTest : public testing::Test
{
protected:
  ~SettingsScreenTest() override { Reset(), Config::get().locales = installed; }

  static void Reset()
  {
    Settings::get().SetLocale("en_GB");
    Settings::get().SetRunAtStartup(false);
    QFile::remove(Config::get().dataDir + "/settings.json");
    PutSticks(), PutMaps({});
  }
  void Show(const QStringList& offered = {"de_DE", "en_GB"})
  {
    Reset();
    Config::get().locales.clear();
    for (const QString& name : offered)
      Config::get().locales.append(QLocale(name));
    screen = std::make_unique<Ui::SettingsScreen>(ui);
    screen->resize(739, 403);
    screen->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(screen.get()));
  }
  QString Text(const char* label) { return Find<QLabel>(screen.get(), label)->text(); }
  QComboBox* Languages() { return Find<QComboBox>(screen.get(), "comboBoxLanguage"); }

  const QList<QLocale> installed = Config::get().locales;
  const char* const menu[3] = {"pushButtonGeneral", "pushButtonSubscription", "pushButtonAbout"};
  RecordingUi ui;
  std::unique_ptr<Ui::SettingsScreen> screen;
};

// Saving stores the choice and announces a new language once, and only one
// that loads. The subscription page tells the end of the subscription, or
// that there is none yet, and closes (to the general page) when nothing can
// tell; the chosen language stays readable on the focused list; the
// screenshots of each page and the licences; the date in German.
TEST_F(SettingsScreenTest, SavingStoresTheChoiceAndTheSubscriptionPageTellsUntilWhenMapUpdatesMayCome)
{
  for (int steps : {0, 1, 2}) { // down from British English: the same, German, one that cannot be loaded
    SCOPED_TRACE(steps);
    Show({"en_GB", "de_DE", "fr_FR"});
    for (int step = 0; step < steps; ++step)
      QTest::keyClick(Languages(), Qt::Key_Down);
    Click(screen.get(), "checkBoxAutoStart");
    QSignalSpy announced(&ui, &Ui::IUi::UpdateLocale);
    Click(screen.get(), "pushButtonSaveSettings");
    EXPECT_EQ(announced.count(), steps == 1 ? 1 : 0);
    EXPECT_EQ(Languages()->currentText() + " " + Settings::get().Locale() +
                  (Settings::get().RunAtStartup() ? " login" : ""),
              steps == 1 ? "Deutsch de_DE login" : "British English en_GB login");
    EXPECT_TRUE(QFile::exists(Config::get().dataDir + "/settings.json") && !screen->SettingsChanged());
  }
  // clang-format off
  struct Case { QDate end; std::vector<UsbInfo> sticks; int page; QString shown; int after; } const cases[] = {
      {{}, {Stick(UsbInfo::InvalidMetadata)}, 1, "This vehicle is not yet entitled to receive map updates.", 1},
      {{}, {Stick(UsbInfo::NoMetadata)}, 1, "", 0},
      {{}, {}, 2, "", 2},
      {QDate(2026, 12, 5), {}, 1, "This vehicle is entitled to receive map updates until: 05 December 2026", 1},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.shown.toStdString());
    Show();
    Click(screen.get(), menu[c.page]);
    MapStorage::Get().UpdateHeadUnit({c.end});
    PutSticks(c.sticks);
    screen->UpdateSubscription();
    EXPECT_EQ(Text("labelSubscriptionTitle") + Text("labelSubscriptionDate"), c.shown);
    EXPECT_EQ(Find(screen.get(), menu[1])->isEnabled(), !c.shown.isEmpty());
    EXPECT_EQ(Find<QStackedWidget>(screen.get(), "stackedWidgetSettings")->currentIndex(), c.after);
    EXPECT_TRUE(Find<QPushButton>(screen.get(), menu[c.after])->isChecked());
  }
  QApplication::setActiveWindow(screen.get()); // the chosen language stays dark on the focused list
  Languages()->setFocus();
  ASSERT_TRUE(QTest::qWaitFor([&] { return Languages()->hasFocus(); }));
  const QImage list = Languages()->grab().toImage();
  int dark = 0;
  for (int y = 0; y < list.height(); ++y)
    for (int x = 0; x < list.width() / 2; ++x)
      dark += qGray(list.pixel(x, y)) < 100;
  EXPECT_GT(dark, 20);
  for (const char* page : menu)
    Click(screen.get(), page), SaveScreenshot(screen.get(), QString("SettingsScreen-") + (page + 10));
  ASSERT_TRUE(Find<QTextBrowser>(screen.get(), "labelLegal")->find("Boost Software License - Version 1.0"));
  SaveScreenshot(screen.get(), "SettingsScreen-About-Licence");
  ASSERT_TRUE(Settings::get().SetLocale("de_DE"));
  emit ui.UpdateLocale();
  EXPECT_EQ(Text("labelSubscriptionDate"), "05 Dezember 2026");
}

// The labels are plain text; the copyright's year is filled in; the terms
// open in the language in effect; the keyboard reaches the legal notices'
// first link and Return hands it to the browser while the page stays; no link
// other than a web page is followed.
// Without its legal notices or its language the screen is built whole, the
// first language offered chosen and nothing unsaved.
TEST_F(SettingsScreenTest, AboutPageOpensOnlyWebLinksInTheLanguageInEffect)
{
  QStringList opened;
  const auto opener = Ui::SetLinkOpener([&](const QUrl& url) { return opened << url.toString(), true; });
  Show();
  Click(screen.get(), menu[2]);
  for (const char* label : {"labelTitle", "labelLanguage", "labelSubscriptionTitle", "labelSubscriptionDate"})
    EXPECT_EQ(Find<QLabel>(screen.get(), label)->textFormat(), Qt::PlainText) << label;
  for (const char* locale : {"de_DE", "en_GB"}) {
    ASSERT_TRUE(Settings::get().SetLocale(locale));
    emit ui.UpdateLocale();
    Click(screen.get(), "pushButtonTermsAndConditions");
  }
  EXPECT_TRUE(Text("labelCopyright").contains("2008&ndash;" + Config::get().copyrightYear + " Orvane"));
  auto* legal = Find<QTextBrowser>(screen.get(), "labelLegal");
  legal->setFocus();
  QTest::keyClick(legal, Qt::Key_Tab);
  QTest::keyClick(legal, Qt::Key_Return);
  emit legal->anchorClicked(QUrl("file:///etc/passwd"));
  Ui::SetLinkOpener(opener);
  EXPECT_EQ(opened, QStringList({"https://www.arvel.invalid/de/terms-and-conditions/",
                                 "https://www.arvel.invalid/en/terms-and-conditions/",
                                 "https://download.qt.io/archive/qt/5.15/"}));
  EXPECT_EQ(legal->source(), QUrl());
  const QString builtIn = Ui::SettingsScreen::SetLegalPage(":/legal/missing.htm");
  Show({"fr_FR", "es_ES"});
  Ui::SettingsScreen::SetLegalPage(builtIn);
  EXPECT_EQ(Languages()->currentText() + ", " + Languages()->itemText(1), "Español de España, Français");
  EXPECT_FALSE(screen->SettingsChanged());
}

// A save that cannot write settings.json, or the start-at-login entry, is
// logged as an error and stays unsaved with Save offered; once the file can
// be written, Save stores the change.
TEST_F(SettingsScreenTest, AFailedSaveStaysUnsavedWithSaveOffered)
{
  const QString blocked[] = {Config::get().dataDir + "/settings.json",
                             qEnvironmentVariable("XDG_CONFIG_HOME") + "/autostart"};
  for (const QString& path : blocked) {
    SCOPED_TRACE(path.toStdString());
    Show();
    QDir(path).removeRecursively();
    // A folder in the file's place, a file in the folder's.
    ASSERT_TRUE(path.endsWith(".json") ? QDir().mkpath(path) : TestSupport::WriteFile(path, "x"));
    LogCapture log;
    Click(screen.get(), "checkBoxAutoStart");
    Click(screen.get(), "pushButtonSaveSettings");
    EXPECT_TRUE(screen->SettingsChanged() && !Find(screen.get(), "pushButtonCancel")->isHidden());
    const auto failed = log.Matching("Failed to ");
    EXPECT_TRUE(!failed.empty() && failed[0].find("|   Error |") != std::string::npos);
    ASSERT_TRUE(path.endsWith(".json") ? QDir(path).removeRecursively() : QFile::remove(path));
    Click(screen.get(), "pushButtonSaveSettings");
    EXPECT_FALSE(screen->SettingsChanged());
    EXPECT_TRUE(Settings::get().RunAtStartup() && QFile::exists(Config::get().dataDir + "/settings.json"));
  }
}

// A save that cannot write settings.json changes nothing: start at login and
// its entry go back to the stored value and the language it switched to goes
// back with the texts, while the controls keep the choice with Save offered,
// also for a change of the language alone. Discarding then shows what
// settings.json holds. With the entry's folder blocked as well the entry is
// not touched.
TEST_F(SettingsScreenTest, ASaveThatCannotBeStoredLeavesInEffectWhatSettingsJsonHolds)
{
  const QString json = Config::get().dataDir + "/settings.json";
  const QString autostart = qEnvironmentVariable("XDG_CONFIG_HOME") + "/autostart";
  const QString entry = autostart + "/com.arvel.lumora.desktop";
  const struct
  {
    const char* name;
    bool entryBlocked;
    bool login; // start at login is changed as well
  } rows[] = {
      {"entry written", false, true}, {"entry blocked", true, true}, {"the language alone", false, false}};
  for (const auto& [name, entryBlocked, login] : rows) {
    SCOPED_TRACE(name);
    Show();
    auto* box = Find<QCheckBox>(screen.get(), "checkBoxAutoStart");
    auto shown = [&] { return Languages()->currentText() + (box->isChecked() ? " login" : ""); };
    // Stored: British English without start at login.
    QDir(autostart).removeRecursively();
    Click(screen.get(), "checkBoxAutoStart");
    Click(screen.get(), "checkBoxAutoStart");
    Click(screen.get(), "pushButtonSaveSettings");
    const QByteArray stored = TestSupport::ReadFile(json);
    ASSERT_TRUE(stored.contains("\"language\": \"en_GB\"") &&
                stored.contains("\"run at startup\": \"false\""));
    ASSERT_TRUE(QFile::remove(json) && QDir().mkpath(json)); // a folder in the file's place
    // A file in the autostart folder's place.
    ASSERT_TRUE(!entryBlocked || TestSupport::WriteFile(autostart, "x"));

    QTest::keyClick(Languages(), Qt::Key_Down);
    if (login)
      Click(screen.get(), "checkBoxAutoStart");
    QSignalSpy announced(&ui, &Ui::IUi::UpdateLocale);
    LogCapture log;
    Click(screen.get(), "pushButtonSaveSettings");
    EXPECT_EQ(announced.count(), 2) << "switched, and back";
    EXPECT_EQ(Settings::get().Locale() + (Settings::get().RunAtStartup() ? " login" : ""), "en_GB");
    EXPECT_EQ(Find<QPushButton>(screen.get(), "pushButtonSaveSettings")->text(), "Save settings");
    // An entry that was not written stays missing.
    EXPECT_TRUE(entryBlocked || !login
                    ? !QFile::exists(entry)
                    : TestSupport::ReadFile(entry).contains("X-GNOME-Autostart-enabled=false\n"));
    const auto failed = log.Matching("Failed to write settings to file: " + json.toStdString());
    EXPECT_TRUE(failed.size() == 1u && failed[0].find("|   Error |") != std::string::npos);
    EXPECT_EQ(shown(), login ? "Deutsch login" : "Deutsch");
    EXPECT_TRUE(screen->SettingsChanged() && Find(screen.get(), "pushButtonSaveSettings")->isEnabled() &&
                !Find(screen.get(), "pushButtonCancel")->isHidden());
    if (login && !entryBlocked)
      SaveScreenshot(screen.get(), "SettingsScreen-save-not-stored");

    screen->RestoreSettings(); // "Yes, discard"
    EXPECT_EQ(shown(), "British English");
    EXPECT_FALSE(screen->SettingsChanged());
    ASSERT_TRUE(QDir(json).removeRecursively());
    QFile::remove(autostart);
  }
}
