#include "cfg/Config.h"

#include "Files.h"
#include "LogCapture.h"

#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>

#include <boost/log/core/core.hpp>

using namespace TestSupport;

namespace {

// A data folder and an installation folder of their own for every test.
struct ConfigFile : ::testing::Test
{
  QTemporaryDir home;
  QTemporaryDir install;
  ScopedEnv dataHome{"XDG_DATA_HOME", home.path()};

  QString ConfigPath() const { return home.path() + "/Arvel/Lumora/config.json"; }
  QString BackupPath() const { return ConfigPath() + ".bak"; }

  void Write(const QByteArray& json) { ASSERT_TRUE(WriteFile(ConfigPath(), json)); }

  std::unique_ptr<Config> Build() { return std::make_unique<Config>(install.path()); }

  // Builds as main does, before any log exists; what went to standard error.
  std::unique_ptr<Config> BuildBeforeTheLog(std::string& errorOutput)
  {
    auto core = boost::log::core::get();
    const bool wasEnabled = core->get_logging_enabled();
    core->set_logging_enabled(false);
    std::ostringstream captured;
    std::streambuf* old = std::cerr.rdbuf(captured.rdbuf());
    std::unique_ptr<Config> config;
    try {
      config = Build();
    } catch (...) {
    }
    std::cerr.rdbuf(old);
    core->set_logging_enabled(wasEnabled);
    errorOutput = captured.str();
    return config;
  }
};

// The config.json that the README shows.
QByteArray ReadmeExample()
{
  const QByteArray readme = ReadFile(LUMORA_README);
  const QByteArray intro = "`config.json` there is read once at start-up:\n\n```json\n";
  const int start = readme.indexOf(intro);
  const int end = readme.indexOf("```", start + intro.size());
  return start < 0 || end < 0 ? QByteArray() : readme.mid(start + intro.size(), end - start - intro.size());
}

const QByteArray DefaultFile = R"({"Application": {}, "FullMapUpdate": {"UpdateType": "ArvelNet-Prod"},)"
                               R"( "MapDownload": {"RetryDuration": "3"}})";

// The values of a JSON file, whatever its layout.
QJsonObject Values(const QByteArray& json)
{
  return QJsonDocument::fromJson(json).object();
}

} // namespace

// A readable file is used as it is and never rewritten. A built-in service
// type wins over an address and key; without one they are used together.
TEST_F(ConfigFile, BuiltInTypeWinsOverAnExplicitSourceAndTheFileIsNotRewritten)
{
  const QByteArray file = R"({"Application": {"LogLevel": "  Debug trailing"},
    "FullMapUpdate": {"UpdateType": "ArvelNet-Preprod", "UpdateSource": "https://elsewhere.invalid/x",
                      "UpdateKey": "k"},
    "MapDownload": {"RetryDuration": "5"}, "Unknown": 1})";
  Write(file);
  auto config = Build();
  EXPECT_EQ(config->serviceUrl + " " + config->serviceKey,
            Config::PreproductionUrl() + " " + Config::PreproductionKey());
  EXPECT_EQ(config->logLevel, std::optional<Log::Severity>(Log::Debug)) << "the first word names the level";
  EXPECT_EQ(config->retryDuration, "5");
  EXPECT_EQ(ReadFile(ConfigPath()), file);

  Write(R"({"Application": "", "FullMapUpdate": {"UpdateSource": "https://127.0.0.1:4443/tesk/v1",
    "UpdateKey": "0123"}, "MapDownload": {"RetryDuration": "2"}})");
  config = Build();
  EXPECT_FALSE(config->logLevel) << "an empty Application section names no level";
  EXPECT_EQ(config->serviceUrl + " " + config->serviceKey, "https://127.0.0.1:4443/tesk/v1 0123");
  EXPECT_FALSE(QFile::exists(BackupPath()));
}

// With the log running, a refused file is an error record there.
TEST_F(ConfigFile, ABackupThatCannotBeWrittenLeavesTheFileAlone)
{
  Write("not json");
  ASSERT_TRUE(QDir().mkpath(BackupPath())); // a folder where the backup would go
  LogCapture log;
  EXPECT_EQ(Build()->serviceUrl, Config::ProductionUrl());
  EXPECT_EQ(ReadFile(ConfigPath()), QByteArray("not json"));
  EXPECT_EQ(log.Matching("Failed to keep ").size(), 1u);
  const auto failures = log.Matching("Failed to read: " + ConfigPath().toStdString());
  ASSERT_EQ(failures.size(), 1u);
  EXPECT_NE(failures[0].find("|   Error |"), std::string::npos) << failures[0];
}

TEST_F(ConfigFile, UnwritableDataFolderIsReportedOnStandardErrorAndTheRunGoesOn)
{
  QTemporaryDir other;
  const QString blocker = other.path() + "/file";
  ASSERT_TRUE(WriteFile(blocker, "x"));
  ScopedEnv unusable("XDG_DATA_HOME", blocker); // the data folder would have to live inside a file
  std::string errorOutput;
  const auto config = BuildBeforeTheLog(errorOutput);
  ASSERT_TRUE(config);
  EXPECT_EQ(config->serviceUrl, Config::ProductionUrl());
  EXPECT_NE(errorOutput.find("Lumora: Failed to write configuration: "), std::string::npos) << errorOutput;
  ASSERT_EQ(config->errors.size(), 1u) << "kept for the log";
  EXPECT_EQ(config->errors[0].rfind("Failed to write configuration: ", 0), 0u) << config->errors[0];
}

// A file that is refused is reported before the log exists, and the file
// written in its place has the shape the README shows: objects for sections,
// every value a string, addresses as written.
TEST_F(ConfigFile, ARefusedFileIsReportedAtOnceAndRewrittenInTheDocumentedShape)
{
  const QByteArray readme = ReadmeExample();
  ASSERT_TRUE(readme.contains("\"LogLevel\": \"Info\"")) << readme.toStdString();
  const QByteArray prod = R"("FullMapUpdate": {"UpdateType": "ArvelNet-Prod"})";
  // The file (empty: none), the start of the reason, the file written in its place.
  const std::tuple<QByteArray, std::string, QByteArray> cases[] = {
      {R"({"Application": {"LogLevel": "Info"}, )" + prod + "}", "No such node (MapDownload.RetryDuration)",
       readme},
      {R"({"Application": {"LogLevel": "Warning"}, "FullMapUpdate": {"UpdateSource":
          "https://mine.invalid/tesk/v1?a=1&b=\u00e4", "UpdateKey": "my\"key"}})",
       "No such node (MapDownload.RetryDuration)",
       R"({"Application": {"LogLevel": "Warning"}, "MapDownload": {"RetryDuration": "3"}, "FullMapUpdate":
          {"UpdateKey": "my\"key", "UpdateSource": "https://mine.invalid/tesk/v1?a=1&b=\u00e4"}})"},
      // Half of an address and key: the production service with its own key.
      {R"({"Application": {}, "FullMapUpdate": {"UpdateSource": "https://mine.invalid/tesk/v1"},
          "MapDownload": {"RetryDuration": "3"}})",
       "\"UpdateSource\" is given without \"UpdateKey\"", DefaultFile},
      {R"({"Application": "", "FullMapUpdate": {"UpdateKey": "mykey"}, "MapDownload": {"RetryDuration": "3"}})",
       "\"UpdateKey\" is given without \"UpdateSource\"", DefaultFile},
      {R"({"Application": "", "FullMapUpdate": {"UpdateType": "arvelnet-prod"}})",
       "\"UpdateType\" \"arvelnet-prod\" names no built-in service (\"ArvelNet-Prod\" or "
       "\"ArvelNet-Preprod\") and no \"UpdateSource\" and \"UpdateKey\"",
       DefaultFile},
      // A level must be named exactly: the level is never left undefined.
      {R"({"Application": {"LogLevel": "Verbose"}, "FullMapUpdate": {"UpdateType": "ArvelNet-Preprod"}})",
       "Unknown log level: \"Verbose\"", DefaultFile},
      {R"({"Application": {"LogLevel": "error"}})", "Unknown log level: \"error\"", DefaultFile},
      {R"({"Application": {"LogLevel": ""}})", "Unknown log level: \"\"", DefaultFile},
      {"{\n  \"Application\": {\"LogLevel\": \"Info\"\n  oops\n", "", DefaultFile},
      {"", "", DefaultFile},
  };
  for (const auto& [file, reason, rewritten] : cases) {
    SCOPED_TRACE(file.toStdString());
    QFile::remove(ConfigPath());
    QFile::remove(BackupPath());
    if (!file.isEmpty())
      Write(file);
    std::string errorOutput;
    const auto config = BuildBeforeTheLog(errorOutput);
    ASSERT_TRUE(config);
    const QByteArray written = ReadFile(ConfigPath());
    EXPECT_EQ(Values(written), Values(rewritten)) << written.toStdString();
    if (rewritten == readme) {
      EXPECT_EQ(written, readme) << "laid out as the README shows";
    }
    EXPECT_EQ(ReadFile(BackupPath()), file);
    // A first start (no file) is no failure.
    EXPECT_EQ(config->errors.size(), file.isEmpty() ? 0u : 1u);
    EXPECT_EQ(errorOutput, config->errors.empty() ? "" : "Lumora: " + config->errors[0] + "\n");
    if (!file.isEmpty()) {
      const std::string expected = "Failed to read: " + ConfigPath().toStdString() + ", " + reason;
      EXPECT_EQ(config->errors[0].rfind(expected, 0), 0u) << config->errors[0];
    }
    if (rewritten == DefaultFile) {
      EXPECT_EQ(config->serviceUrl + " " + config->serviceKey,
                Config::ProductionUrl() + " " + Config::ProductionKey());
    }

    // What is written is read back as it was meant, and not written again.
    std::string again;
    const auto next = BuildBeforeTheLog(again);
    EXPECT_EQ(again, "");
    EXPECT_EQ(ReadFile(ConfigPath()), written);
    EXPECT_EQ(next->serviceUrl + " " + next->serviceKey, config->serviceUrl + " " + config->serviceKey);
    EXPECT_EQ(next->logLevel, config->logLevel);
    EXPECT_EQ(next->retryDuration, "3");
  }
}
