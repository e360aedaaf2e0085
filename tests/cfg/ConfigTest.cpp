#include "cfg/Config.h"

#include "FrameTestSupport.h"

#include <gtest/gtest.h>

#include <boost/log/core/core.hpp>
#include <boost/property_tree/json_parser.hpp>

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

  QString DataDir() const { return home.path() + "/Arvel/Lumora"; }
  QString ConfigPath() const { return DataDir() + "/config.json"; }
  QString BackupPath() const { return ConfigPath() + ".bak"; }

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
  EXPECT_EQ(first->logsDir, DataDir() + "/Logs");
  EXPECT_FALSE(first->logLevel);
  EXPECT_EQ(first->serviceUrl, Config::ProductionUrl());
  EXPECT_EQ(first->serviceKey, Config::ProductionKey());
  EXPECT_EQ(ReadFile(ConfigPath()), DefaultFile);
  EXPECT_FALSE(QFile::exists(BackupPath())) << "there was nothing to keep";
  EXPECT_FALSE(QDir(DataDir() + "/Logs").exists()) << "the logs folder is the logger's business";

  auto second = Build();
  EXPECT_EQ(second->retryDuration, "3");
  EXPECT_EQ(second->updateType, std::optional<std::string>("ArvelNet-Prod"));
  EXPECT_EQ(ReadFile(ConfigPath()), DefaultFile);
  EXPECT_FALSE(QFile::exists(BackupPath())) << "a readable file is never rewritten";
  EXPECT_EQ(QDir(DataDir()).entryList(QDir::Files | QDir::Hidden).size(), 1) << "no temporary file is left";
}

TEST_F(ConfigFile, BuiltInTypeWinsOverAnExplicitSourceAndTheFileIsNotRewritten)
{
  const QByteArray file = R"({"Application": {"LogLevel": "  Debug trailing"},
    "FullMapUpdate": {"UpdateType": "ArvelNet-Preprod", "UpdateSource": "https://elsewhere.invalid/x",
                      "UpdateKey": "k"},
    "MapDownload": {"RetryDuration": "5"}, "Unknown": 1})";
  Write(file);
  auto config = Build();
  EXPECT_EQ(config->serviceUrl, Config::PreproductionUrl());
  EXPECT_EQ(config->serviceKey, Config::PreproductionKey());
  EXPECT_NE(Config::PreproductionKey(), Config::ProductionKey());
  for (const std::string& url : {Config::ProductionUrl(), Config::PreproductionUrl()})
    EXPECT_EQ(url.rfind("https://", 0), 0u) << url;
  EXPECT_EQ(config->logLevel, std::optional<Log::Severity>(Log::Debug)) << "the first word names the level";
  EXPECT_EQ(config->retryDuration, "5");
  EXPECT_EQ(ReadFile(ConfigPath()), file);
}

TEST_F(ConfigFile, ExplicitSourceAndKeyAreUsedTogetherOrNotAtAll)
{
  Write(R"({"Application": "", "FullMapUpdate": {"UpdateSource": "https://127.0.0.1:4443/tesk/v1",
    "UpdateKey": "0123456789abcdef0123456789abcdef"}, "MapDownload": {"RetryDuration": "2"}})");
  auto config = Build();
  EXPECT_FALSE(config->updateType);
  EXPECT_FALSE(config->logLevel) << "an empty Application section names no level";
  EXPECT_EQ(config->serviceUrl, "https://127.0.0.1:4443/tesk/v1");
  EXPECT_EQ(config->serviceKey, "0123456789abcdef0123456789abcdef");
  EXPECT_FALSE(QFile::exists(BackupPath()));

  // The built-in key is never paired with the user's host.
  for (const QByteArray& half : {QByteArray(R"("UpdateSource": "https://mine.invalid/tesk/v1")"),
                                 QByteArray(R"("UpdateKey": "mykey")")}) {
    SCOPED_TRACE(half.toStdString());
    const QByteArray file =
        R"({"Application": "", "FullMapUpdate": {)" + half + R"(}, "MapDownload": {"RetryDuration": "3"}})";
    Write(file);
    auto halfConfig = Build();
    EXPECT_EQ(halfConfig->serviceUrl, Config::ProductionUrl());
    EXPECT_EQ(halfConfig->serviceKey, Config::ProductionKey());
    EXPECT_EQ(ReadFile(ConfigPath()), DefaultFile) << "rewritten without the half";
    EXPECT_EQ(ReadFile(BackupPath()), file) << "the user's file is kept";
  }
}

TEST_F(ConfigFile, UnreadableFileIsKeptAsBackupAndRewrittenFromWhatWasRead)
{
  struct Case
  {
    QByteArray file;
    std::optional<Log::Severity> level;
    std::string url;
  };
  const QByteArray rest = R"(, "FullMapUpdate": {"UpdateType": "ArvelNet-Preprod"},
                             "MapDownload": {"RetryDuration": "4"}})";
  const std::vector<Case> cases = {
      {R"({"Application": "", "FullMapUpdate": {"UpdateType": "arvelnet-prod"}})",
       {},
       Config::ProductionUrl()},
      {R"({"Application": {"LogLevel": "Verbose"})" + rest, {}, Config::ProductionUrl()},
      {R"({"Application": {"LogLevel": "error"})" + rest, {}, Config::ProductionUrl()},
      {R"({"Application": {"LogLevel": ""})" + rest, {}, Config::ProductionUrl()},
      {"{\n  \"Application\": {\"LogLevel\": \"Info\"\n  oops\n", {}, Config::ProductionUrl()},
      {R"({"Application": {"LogLevel": "Warning"}, "FullMapUpdate": {"UpdateType": "ArvelNet-Preprod"}})",
       Log::Warning, Config::PreproductionUrl()}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file.toStdString());
    Write(c.file);
    CapturedLog log;
    auto config = Build();
    EXPECT_EQ(config->logLevel, c.level) << "never an undefined level";
    EXPECT_EQ(config->serviceUrl, c.url) << "what was read before the failure";
    EXPECT_TRUE(config->retryDuration.empty());
    EXPECT_EQ(ReadFile(BackupPath()), c.file);
    const pt::ptree written = Written();
    EXPECT_EQ(written.get_optional<std::string>("Application.LogLevel").is_initialized(),
              c.level.has_value());
    EXPECT_EQ(written.get<std::string>("FullMapUpdate.UpdateType"),
              c.url == Config::ProductionUrl() ? "ArvelNet-Prod" : "ArvelNet-Preprod");
    EXPECT_EQ(written.get<std::string>("MapDownload.RetryDuration"), "3");

    const QStringList failures = log.Matching("Failed to read: " + ConfigPath());
    ASSERT_EQ(failures.size(), 1);
    EXPECT_TRUE(failures[0].contains("|   Error |")) << failures[0].toStdString();
    EXPECT_EQ(log.Matching("Writing configuration to file: " + ConfigPath()).size(), 1);
  }
}

TEST_F(ConfigFile, ABackupThatCannotBeWrittenLeavesTheFileAlone)
{
  Write("not json");
  ASSERT_TRUE(QDir().mkpath(BackupPath())); // a folder where the backup would go
  CapturedLog log;
  EXPECT_EQ(Build()->serviceUrl, Config::ProductionUrl());
  EXPECT_EQ(ReadFile(ConfigPath()), QByteArray("not json"));
  EXPECT_EQ(log.Matching("Failed to keep ").size(), 1);
}

TEST_F(ConfigFile, UnwritableDataFolderIsReportedInTheLogOrElseOnStandardErrorAndTheRunGoesOn)
{
  QTemporaryDir other;
  const QString blocker = other.path() + "/file";
  ASSERT_TRUE(WriteFile(blocker, "x"));
  ScopedEnv unusable("XDG_DATA_HOME", blocker); // the data folder would have to live inside a file
  {
    CapturedLog log;
    std::unique_ptr<Config> config;
    ASSERT_NO_THROW(config = Build());
    EXPECT_EQ(config->serviceUrl, Config::ProductionUrl());
    EXPECT_EQ(log.Matching("Failed to write configuration: ").size(), 1);
  }
  // As in main before the log file exists.
  auto core = boost::log::core::get();
  const bool wasEnabled = core->get_logging_enabled();
  core->set_logging_enabled(false);
  std::ostringstream captured;
  std::streambuf* old = std::cerr.rdbuf(captured.rdbuf());
  ASSERT_NO_THROW(Build());
  std::cerr.rdbuf(old);
  core->set_logging_enabled(wasEnabled);
  EXPECT_NE(captured.str().find("Failed to write configuration: "), std::string::npos) << captured.str();
}

TEST_F(ConfigFile, TranslationsAreListedByName)
{
  EXPECT_TRUE(Build()->locales.isEmpty()) << "no translations folder";
  const QString folder = install.path() + "/res/translations/";
  for (const char* name : {"en_US.qm", "de_DE.qm", "en_GB.qm", "fr_FR.txt", "readme"})
    ASSERT_TRUE(WriteFile(folder + name, "x"));
  auto config = Build();
  EXPECT_EQ(config->translationsDir, install.path() + "/res/translations");
  QStringList names;
  for (const QLocale& locale : config->locales)
    names += locale.name();
  EXPECT_EQ(names, (QStringList{"de_DE", "en_GB", "en_US"}));
}
