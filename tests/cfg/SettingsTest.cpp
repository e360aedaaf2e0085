#include "cfg/Settings.h"

#include "Files.h"
#include "LogCapture.h"
#include "cfg/Config.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

using namespace TestSupport;

namespace {

// Real translations (the ones the build makes beside the executables) in an
// installation folder of the test's own, and a home of its own so that start
// at login writes its files there.
struct SettingsFile : ::testing::Test
{
  QTemporaryDir home;
  QTemporaryDir install;
  ScopedEnv dataHome{"XDG_DATA_HOME", home.path() + "/data"};
  ScopedEnv homeEnv{"HOME", home.path()};
  ScopedEnv configHome{"XDG_CONFIG_HOME", home.path() + "/config"};
  QLocale defaultLocale;
  std::unique_ptr<Config> config;

  void SetUp() override
  {
    const QString built = QCoreApplication::applicationDirPath() + "/res/translations/";
    const QString folder = install.path() + "/res/translations/";
    QDir().mkpath(folder);
    for (const char* locale : {"en_GB", "de_DE"})
      ASSERT_TRUE(QFile::copy(built + locale + ".qm", folder + locale + ".qm")) << locale;
    // A second real translation under another name, for a language without one of its own.
    ASSERT_TRUE(QFile::copy(built + "de_DE.qm", folder + "fr_CA.qm"));
    config = std::make_unique<Config>(install.path());
  }

  void TearDown() override { QLocale::setDefault(defaultLocale); }

  QString SettingsPath() const { return config->dataDir + "/settings.json"; }
  QString Autostart() const { return home.path() + "/config/autostart/com.arvel.lumora.desktop"; }

  void Store(const QByteArray& json) { ASSERT_TRUE(WriteFile(SettingsPath(), json)); }

  // The translation in effect for a text whose German form differs.
  static QString Kilobytes() { return QCoreApplication::translate("global", "KB"); }
};

} // namespace

// Stored values are applied; without a readable file start at login is
// switched on in British English. Only Save writes the file, and start at
// login is written only when it changes.
TEST_F(SettingsFile, StoredValuesAreAppliedAndStartAtLoginWrittenWhenOn)
{
  // The stored file (empty: none), the locale and start at login it gives.
  const std::tuple<QByteArray, const char*, bool> cases[] = {
      {"", "en_GB", true},
      {"{\"language\": ", "en_GB", true},
      {R"({"language": "de_DE", "run at startup": "false"})", "de_DE", false},
      {R"({"language": "de_DE", "run at startup": "true"})", "de_DE", true},
      {R"({"language": "de_DE", "run at startup": true})", "de_DE", true},
      {R"({"language": "de_DE", "run at startup": "1"})", "de_DE", true},
      {R"({"language": "de_DE", "run at startup": "yes"})", "de_DE", true},
      {R"({"language": "de_DE"})", "de_DE", true},
  };
  for (const auto& [file, locale, on] : cases) {
    SCOPED_TRACE(file.toStdString());
    QFile::remove(Autostart());
    QFile::remove(SettingsPath());
    if (!file.isEmpty())
      Store(file);
    Settings settings(*config);
    EXPECT_EQ(settings.Locale(), QLatin1String(locale));
    const bool german = locale == std::string("de_DE");
    EXPECT_EQ(QLocale().name() == "de_DE", german);
    EXPECT_EQ(Kilobytes(), QLatin1String(german ? "kB" : "KB"));
    EXPECT_EQ(settings.RunAtStartup(), on);
    EXPECT_EQ(ReadFile(Autostart()).contains("X-GNOME-Autostart-enabled=true\n"), on);
    EXPECT_EQ(QFile::exists(Autostart()), on) << "an unchanged value writes nothing";
    EXPECT_EQ(ReadFile(SettingsPath()), file) << "only Save writes the file";
    // Switched off, the entry stays with its flag off.
    EXPECT_EQ(settings.SetRunAtStartup(false), on);
    EXPECT_TRUE(settings.SetRunAtStartup(true));
    EXPECT_TRUE(settings.SetRunAtStartup(false));
    EXPECT_TRUE(ReadFile(Autostart()).contains("X-GNOME-Autostart-enabled=false\n"));
  }
}

TEST_F(SettingsFile, FailedLanguageChangeKeepsTheCurrentTranslation)
{
  Store(R"({"language": "de_DE", "run at startup": "false"})");
  Settings settings(*config);
  EXPECT_FALSE(settings.SetLocale("es_ES"));
  EXPECT_EQ(settings.Locale(), QStringLiteral("de_DE"));
  EXPECT_EQ(Kilobytes(), QStringLiteral("kB")) << "the German translation is still installed";
  EXPECT_EQ(QLocale().name(), QStringLiteral("de_DE"));
  EXPECT_FALSE(settings.SetLocale("de_DE")) << "already in use";

  EXPECT_TRUE(settings.SetLocale("en_GB"));
  EXPECT_EQ(Kilobytes(), QStringLiteral("KB"));
  EXPECT_EQ(settings.Locale(), QStringLiteral("en_GB"));
  EXPECT_EQ(QLocale().name(), QStringLiteral("en_GB"));
}

TEST_F(SettingsFile, SaveWritesBothValuesInOneStepAndTheNextStartReadsThem)
{
  Store(R"({"language": "en_GB", "run at startup": "true", "other": 1})");
  {
    Settings settings(*config);
    ASSERT_TRUE(settings.SetLocale("fr_CA"));
    settings.SetRunAtStartup(false);
    settings.Save();
  }
  EXPECT_EQ(ReadFile(SettingsPath()), QByteArray("{\n"
                                                 "    \"language\": \"fr_CA\",\n"
                                                 "    \"run at startup\": \"false\"\n"
                                                 "}\n"));
  Settings again(*config);
  EXPECT_EQ(again.Locale(), QStringLiteral("fr_CA"));
  EXPECT_FALSE(again.RunAtStartup());

  QFile::remove(SettingsPath());
  ASSERT_TRUE(QDir().mkpath(SettingsPath())); // a folder in the file's place
  LogCapture log;
  EXPECT_NO_THROW(again.Save());
  const auto errors = log.Matching("Failed to write settings to file: " + SettingsPath().toStdString());
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_NE(errors[0].find("|   Error |"), std::string::npos);
}

TEST_F(SettingsFile, LinksFollowTheCurrentLanguage)
{
  // The process-wide instances, built on the test's own folders.
  Settings& settings = Settings::get();
  const Config& global = Config::get();
  EXPECT_EQ(global.helpLink(), Config::LinkForLocale(Config::Link::Help, "en_GB"));
  ASSERT_TRUE(settings.SetLocale("de_DE")); // the built translations beside the test executable
  EXPECT_TRUE(global.copyrightLink().endsWith("/de/terms-and-conditions/"));
  EXPECT_TRUE(global.reportMapShareLink().endsWith("/de_DE/account/login.html"));
  EXPECT_EQ(global.legalLink(), Config::LinkForLocale(Config::Link::Legal, "de_DE"));
}

// A stored start at login (or the default, on, without a readable file) stays
// in effect when its entry cannot be written at start: the failure is logged
// as an error, the next save stores the value, and the entry is written once
// it can be.
TEST_F(SettingsFile, TheStoredStartAtLoginStaysWhenItsEntryCannotBeWritten)
{
  const std::pair<QByteArray, bool> stored[] = {
      {R"({"language": "de_DE", "run at startup": "true"})", true},
      {"", true},
      {R"({"language": "de_DE", "run at startup": "false"})", false},
  };
  // A file in the autostart folder's place, or in that of the config folder.
  const QString blocks[] = {home.path() + "/config/autostart", home.path() + "/config"};
  for (const QString& block : blocks) {
    for (const auto& [file, on] : stored) {
      SCOPED_TRACE(block.toStdString() + " " + file.toStdString());
      QDir(home.path() + "/config").removeRecursively();
      QFile::remove(home.path() + "/config");
      QFile::remove(SettingsPath());
      if (!file.isEmpty())
        Store(file);
      ASSERT_TRUE(WriteFile(block, "x"));
      LogCapture log;
      Settings settings(*config);
      EXPECT_EQ(settings.RunAtStartup(), on);
      const auto failed = log.Matching("Failed to create start-up directory");
      EXPECT_EQ(failed.size(), on ? 1u : 0u) << "an unchanged value writes nothing";
      EXPECT_TRUE(failed.empty() || failed[0].find("|   Error |") != std::string::npos);
      EXPECT_TRUE(settings.Save());
      EXPECT_TRUE(ReadFile(SettingsPath())
                      .contains(on ? "\"run at startup\": \"true\"" : "\"run at startup\": \"false\""));
      ASSERT_TRUE(QFile::remove(block));
      EXPECT_FALSE(settings.SetRunAtStartup(on)) << "the value is unchanged";
      EXPECT_EQ(ReadFile(Autostart()).contains("X-GNOME-Autostart-enabled=true\n"), on);
      EXPECT_EQ(QFile::exists(Autostart()), on);
      EXPECT_EQ(settings.RunAtStartup(), on);
    }
  }
}
