#include "cfg/Config.h"

#include "FrameTestSupport.h"

#include <gtest/gtest.h>

#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <iostream>
#include <sstream>

using namespace FrameTest;
namespace pt = boost::property_tree;

namespace {

// A data folder and an installation folder of their own for every test.
class ConfigFile : public ::testing::Test
{
protected:
  QTemporaryDir home;
  QTemporaryDir install;
  ScopedEnv dataHome{"XDG_DATA_HOME", home.path()};

  QString DataDir() const { return home.path() + QStringLiteral("/Arvel/Lumora"); }
  QString ConfigPath() const { return DataDir() + QStringLiteral("/config.json"); }
  QString BackupPath() const { return ConfigPath() + QStringLiteral(".bak"); }

  void Write(const QByteArray& json) { ASSERT_TRUE(WriteFile(ConfigPath(), json)); }

  pt::ptree Written() const
  {
    std::istringstream in(ReadFile(ConfigPath()).toStdString());
    pt::ptree tree;
    pt::read_json(in, tree);
    return tree;
  }

  std::unique_ptr<Config> Build() { return std::make_unique<Config>(install.path()); }
};

const QByteArray DefaultFile = "{\n"
                               "    \"Application\": \"\",\n"
                               "    \"FullMapUpdate\": {\n"
                               "        \"UpdateType\": \"ArvelNet-Prod\"\n"
                               "    },\n"
                               "    \"MapDownload\": {\n"
                               "        \"RetryDuration\": \"3\"\n"
                               "    }\n"
                               "}\n";

} // namespace

TEST_F(ConfigFile, MissingFileIsWrittenWithDefaultsAndReadAtTheNextStart)
{
  auto first = Build();
  EXPECT_EQ(first->dataDir, DataDir());
  EXPECT_EQ(first->logsDir, DataDir() + QStringLiteral("/Logs"));
  EXPECT_FALSE(first->logLevel);
  EXPECT_EQ(first->serviceUrl, Config::ProductionUrl());
  EXPECT_EQ(first->serviceKey, Config::ProductionKey());
  EXPECT_TRUE(first->retryDuration.empty()) << "the run that wrote the file has not read it";
  EXPECT_EQ(ReadFile(ConfigPath()), DefaultFile);
  EXPECT_FALSE(QFile::exists(BackupPath())) << "there was nothing to keep";
  EXPECT_FALSE(QDir(DataDir() + QStringLiteral("/Logs")).exists())
      << "the logs folder is the logger's business";

  auto second = Build();
  EXPECT_EQ(second->retryDuration, "3");
  EXPECT_EQ(second->updateType, std::optional<std::string>("ArvelNet-Prod"));
  EXPECT_EQ(ReadFile(ConfigPath()), DefaultFile);
  EXPECT_FALSE(QFile::exists(BackupPath())) << "a readable file is never rewritten";
  EXPECT_EQ(QDir(DataDir()).entryList(QDir::Files | QDir::Hidden).size(), 1) << "no temporary file is left";
}

TEST_F(ConfigFile, BuiltInEnvironmentsAreSecureAndKeysHave32Characters)
{
  for (const std::string& url : {Config::ProductionUrl(), Config::PreproductionUrl()}) {
    EXPECT_EQ(url.rfind("https://", 0), 0u) << url;
    EXPECT_NE(url.find(".invalid/tesk/v1"), std::string::npos) << url;
  }
  EXPECT_NE(Config::ProductionUrl(), Config::PreproductionUrl());
  EXPECT_EQ(Config::ProductionKey().size(), 32u);
  EXPECT_EQ(Config::PreproductionKey().size(), 32u);
  EXPECT_NE(Config::ProductionKey(), Config::PreproductionKey());
  EXPECT_EQ(Config::ProductionKey(), Config::ProductionKey());
}

TEST_F(ConfigFile, PreproductionTypeWinsOverAnExplicitSource)
{
  const QByteArray file = R"({"Application": {"LogLevel": "Debug"},
    "FullMapUpdate": {"UpdateType": "ArvelNet-Preprod", "UpdateSource": "https://elsewhere.invalid/x",
                      "UpdateKey": "k"},
    "MapDownload": {"RetryDuration": "5"}, "Unknown": 1})";
  Write(file);
  auto config = Build();
  EXPECT_EQ(config->serviceUrl, Config::PreproductionUrl());
  EXPECT_EQ(config->serviceKey, Config::PreproductionKey());
  EXPECT_EQ(config->logLevel, std::optional<Log::Severity>(Log::Debug));
  EXPECT_EQ(config->retryDuration, "5");
  EXPECT_EQ(ReadFile(ConfigPath()), file) << "the file is not rewritten";
}

TEST_F(ConfigFile, ExplicitSourceAndKeyAreUsedTogether)
{
  Write(R"({"Application": "", "FullMapUpdate": {"UpdateSource": "https://127.0.0.1:4443/tesk/v1",
    "UpdateKey": "0123456789abcdef0123456789abcdef"}, "MapDownload": {"RetryDuration": "2"}})");
  auto config = Build();
  EXPECT_FALSE(config->updateType);
  EXPECT_FALSE(config->logLevel) << "an empty Application section names no level";
  EXPECT_EQ(config->serviceUrl, "https://127.0.0.1:4443/tesk/v1");
  EXPECT_EQ(config->serviceKey, "0123456789abcdef0123456789abcdef");
  EXPECT_FALSE(QFile::exists(BackupPath()));
}

TEST_F(ConfigFile, SourceWithoutKeyNeverPairsTheBuiltInKeyWithTheUsersHost)
{
  const QByteArray file =
      R"({"Application": "", "FullMapUpdate": {"UpdateSource": "https://mine.invalid/tesk/v1"},
    "MapDownload": {"RetryDuration": "3"}})";
  Write(file);
  auto config = Build();
  EXPECT_EQ(config->serviceUrl, Config::ProductionUrl());
  EXPECT_EQ(config->serviceKey, Config::ProductionKey());

  const pt::ptree written = Written();
  EXPECT_EQ(written.get<std::string>("FullMapUpdate.UpdateType"), "ArvelNet-Prod");
  EXPECT_FALSE(written.get_optional<std::string>("FullMapUpdate.UpdateSource"));
  EXPECT_FALSE(written.get_optional<std::string>("FullMapUpdate.UpdateKey"));
  EXPECT_EQ(ReadFile(BackupPath()), file) << "the user's file is kept";

  Write(
      R"({"Application": "", "FullMapUpdate": {"UpdateKey": "mykey"}, "MapDownload": {"RetryDuration": "3"}})");
  auto keyOnly = Build();
  EXPECT_EQ(keyOnly->serviceUrl, Config::ProductionUrl());
  EXPECT_EQ(keyOnly->serviceKey, Config::ProductionKey());
}

TEST_F(ConfigFile, TypeDifferingOnlyInCaseFailsAndIsRewrittenAsProduction)
{
  const QByteArray file = R"({"Application": "", "FullMapUpdate": {"UpdateType": "arvelnet-prod"},
    "MapDownload": {"RetryDuration": "4"}})";
  Write(file);
  auto config = Build();
  EXPECT_EQ(config->updateType, std::optional<std::string>("arvelnet-prod"));
  EXPECT_EQ(config->serviceUrl, Config::ProductionUrl());
  EXPECT_TRUE(config->retryDuration.empty()) << "the read stopped before the retry duration";
  EXPECT_EQ(ReadFile(ConfigPath()), DefaultFile);
  EXPECT_EQ(ReadFile(BackupPath()), file);
}

TEST_F(ConfigFile, MissingSectionKeepsWhatWasReadAndRewritesIt)
{
  Write(R"({"Application": {"LogLevel": "Warning"}, "FullMapUpdate": {"UpdateType": "ArvelNet-Preprod"}})");
  auto config = Build();
  EXPECT_EQ(config->logLevel, std::optional<Log::Severity>(Log::Warning));
  EXPECT_EQ(config->serviceUrl, Config::PreproductionUrl());
  const pt::ptree written = Written();
  EXPECT_EQ(written.get<std::string>("Application.LogLevel"), "Warning");
  EXPECT_EQ(written.get<std::string>("FullMapUpdate.UpdateType"), "ArvelNet-Preprod");
  EXPECT_EQ(written.get<std::string>("MapDownload.RetryDuration"), "3");
  EXPECT_TRUE(QFile::exists(BackupPath()));
}

TEST_F(ConfigFile, LogLevelIsReadFromItsFirstWordOnly)
{
  Write(R"({"Application": {"LogLevel": "  Info trailing"}, "FullMapUpdate": {"UpdateType": "ArvelNet-Prod"},
    "MapDownload": {"RetryDuration": "3"}})");
  EXPECT_EQ(Build()->logLevel, std::optional<Log::Severity>(Log::Info));
}

TEST_F(ConfigFile, UnknownLogLevelIsAReadFailureNotAnUndefinedLevel)
{
  for (const char* level : {"Verbose", "error", "ERROR", ""}) {
    SCOPED_TRACE(level);
    const QByteArray file = QByteArray(R"({"Application": {"LogLevel": ")") + level +
                            R"("}, "FullMapUpdate": {"UpdateType": "ArvelNet-Preprod"},
                              "MapDownload": {"RetryDuration": "3"}})";
    Write(file);
    auto config = Build();
    EXPECT_FALSE(config->logLevel);
    EXPECT_TRUE(config->retryDuration.empty());
    EXPECT_EQ(config->serviceUrl, Config::ProductionUrl()) << "the read stopped at the level";
    EXPECT_FALSE(Written().get_optional<std::string>("Application.LogLevel"));
    EXPECT_EQ(ReadFile(BackupPath()), file);
  }
}

TEST_F(ConfigFile, CorruptFileIsKeptAsBackupAndTheFailureLogged)
{
  CapturedLog log;
  const QByteArray corrupt = "{\n  \"Application\": {\"LogLevel\": \"Info\"\n  oops\n";
  Write(corrupt);
  auto config = Build();
  EXPECT_FALSE(config->logLevel);
  EXPECT_EQ(ReadFile(ConfigPath()), DefaultFile);
  EXPECT_EQ(ReadFile(BackupPath()), corrupt);

  const QStringList failures = log.Matching(QStringLiteral("Failed to read: "));
  ASSERT_EQ(failures.size(), 1);
  EXPECT_TRUE(failures[0].contains(ConfigPath())) << failures[0].toStdString();
  EXPECT_TRUE(failures[0].contains(QStringLiteral("|   Error |"))) << failures[0].toStdString();
  EXPECT_EQ(log.Matching(QStringLiteral("Reading configuration from file: ") + ConfigPath()).size(), 1);
  EXPECT_EQ(log.Matching(QStringLiteral("Writing configuration to file: ") + ConfigPath()).size(), 1);
}

TEST_F(ConfigFile, ABackupThatCannotBeWrittenLeavesTheFileAlone)
{
  const QByteArray corrupt = "not json";
  Write(corrupt);
  ASSERT_TRUE(QDir().mkpath(BackupPath())); // a folder where the backup would go
  CapturedLog log;
  auto config = Build();
  EXPECT_EQ(config->serviceUrl, Config::ProductionUrl());
  EXPECT_EQ(ReadFile(ConfigPath()), corrupt);
  EXPECT_EQ(log.Matching(QStringLiteral("Failed to keep ")).size(), 1);
}

TEST_F(ConfigFile, UnwritableDataFolderIsReportedAndTheRunGoesOn)
{
  QTemporaryDir other;
  const QString blocker = other.path() + QStringLiteral("/file");
  ASSERT_TRUE(WriteFile(blocker, "x"));
  ScopedEnv unusable("XDG_DATA_HOME", blocker); // the data folder would have to live inside a file

  CapturedLog log;
  std::unique_ptr<Config> config;
  ASSERT_NO_THROW(config = Build());
  EXPECT_EQ(config->serviceUrl, Config::ProductionUrl());
  EXPECT_FALSE(config->logLevel);
  EXPECT_EQ(log.Matching(QStringLiteral("Failed to write configuration: ")).size(), 1);
}

TEST_F(ConfigFile, WriteFailureBeforeAnyLogSinkGoesToStandardError)
{
  QTemporaryDir other;
  const QString blocker = other.path() + QStringLiteral("/file");
  ASSERT_TRUE(WriteFile(blocker, "x"));
  ScopedEnv unusable("XDG_DATA_HOME", blocker);

  Log::g_lg::get();
  auto core = boost::log::core::get();
  const bool wasEnabled = core->get_logging_enabled();
  core->set_logging_enabled(false); // as in main before the log file exists
  std::ostringstream captured;
  std::streambuf* old = std::cerr.rdbuf(captured.rdbuf());
  ASSERT_NO_THROW(Build());
  std::cerr.rdbuf(old);
  core->set_logging_enabled(wasEnabled);

  EXPECT_NE(captured.str().find("Failed to write configuration: "), std::string::npos) << captured.str();
}

TEST_F(ConfigFile, TranslationsAreListedByNameIgnoringCase)
{
  {
    auto none = Build();
    EXPECT_TRUE(none->locales.isEmpty()) << "no translations folder";
    EXPECT_EQ(none->resDir, install.path() + QStringLiteral("/res"));
    EXPECT_EQ(none->translationsDir, install.path() + QStringLiteral("/res/translations"));
  }
  const QString folder = install.path() + QStringLiteral("/res/translations/");
  for (const char* name : {"en_US.qm", "de_DE.qm", "en_GB.qm", "fr_FR.txt", "readme"})
    ASSERT_TRUE(WriteFile(folder + QLatin1String(name), "x"));
  auto config = Build();
  QStringList names;
  for (const QLocale& locale : config->locales)
    names += locale.name();
  EXPECT_EQ(names, (QStringList{"de_DE", "en_GB", "en_US"}));
}
