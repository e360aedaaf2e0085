// Runs the built application as a child process with a data folder, home and
// configuration folder of its own.

#include "Files.h"
#include "LogCapture.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QProcess>

using namespace TestSupport;

namespace {

class Lumora : public ::testing::Test
{
protected:
  QTemporaryDir root;
  QProcess process;

  QString DataDir() const { return root.path() + "/data/Arvel/Lumora"; }
  QString LogsDir() const { return DataDir() + "/Logs"; }

  void WriteConfig(const QByteArray& application,
                   const QByteArray& update = R"({"UpdateType": "ArvelNet-Prod"})")
  {
    ASSERT_TRUE(WriteFile(DataDir() + "/config.json", R"({"Application": )" + application +
                                                          R"(, "FullMapUpdate": )" + update +
                                                          R"(, "MapDownload": {"RetryDuration": "3"}})"));
  }

  // A run that throws `fault` ("std" or "other") in its event loop; its exit code.
  int Run(const QString& fault, QProcess::ProcessChannelMode channels = QProcess::ForwardedErrorChannel)
  {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_DATA_HOME", root.path() + "/data");
    env.insert("HOME", root.path());
    env.insert("XDG_CONFIG_HOME", root.path() + "/config");
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("LUMORA_TEST_THROW", fault);
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(channels);
    process.start(QCoreApplication::applicationDirPath() + "/lumora", QStringList());
    EXPECT_TRUE(process.waitForFinished(60000)) << process.errorString().toStdString();
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    return process.exitCode();
  }

  // The log's record lines, or their messages.
  QStringList Lines(bool messages = false) const
  {
    QStringList lines;
    for (const std::string& line : LogCapture::LinesIn(LogsDir().toStdString()))
      lines += QString::fromStdString(messages ? LogCapture::MessageOf(line) : line);
    return lines;
  }
  QStringList Messages() const { return Lines(true); }
};

} // namespace

// Each run starts in order, reaches the working state, meets the fault the
// event loop throws, and is taken down in order with code 1; quick runs
// share their log.
TEST_F(Lumora, StartsInOrderAndAnExceptionInTheEventLoopEndsEachRunInOrderWithCodeOne)
{
  WriteConfig(R"({"LogLevel": "Debug"})");
  for (int run = 0; run < 3; ++run)
    EXPECT_EQ(Run("std"), 1);
  const QStringList messages = Messages();
  const QString error = "Caught unhandled error: test fault in the event loop";
  const QStringList inOrder = {
      "Starting Lumora",
      "config.json-file contents: Application LogLevel = Debug, FullMapUpdate UpdateType = ArvelNet-Prod, "
      "MapDownload RetryDuration = 3",
      "Loading application fonts",
      "Reading settings from file: " + DataDir() + "/settings.json",
      "Entered StartUp state",
      "Entered Common state",
      error,
      "Left Common state",
  };
  int at = -1;
  for (const QString& message : inOrder) {
    const int found = messages.indexOf(message);
    EXPECT_GT(found, at) << message.toStdString();
    at = found;
  }
  EXPECT_EQ(messages.indexOf("Starting Lumora"), 0) << "nothing is logged before the banner";
  EXPECT_EQ(messages.count("Starting Lumora"), 3) << messages.join('\n').toStdString();
  EXPECT_EQ(messages.count(error), 3);
  EXPECT_TRUE(messages.filter("Failed to load font").isEmpty());
  // A first start switches start at login on.
  EXPECT_TRUE(ReadFile(root.path() + "/config/autostart/com.arvel.lumora.desktop")
                  .contains("X-GNOME-Autostart-enabled=true\n"));

  EXPECT_EQ(Run("other"), 1);
  // Caught where the event loop delivers it, not after it crossed Qt's frames.
  const QStringList caught = Lines().filter("Caught unknown unhandled error");
  ASSERT_EQ(caught.size(), 1);
  EXPECT_TRUE(caught[0].contains(" notify | ")) << caught[0].toStdString();
}

TEST_F(Lumora, TheLogLevelDecidesWhatIsLoggedAndAMissingConfigurationIsWritten)
{
  EXPECT_EQ(Run("std"), 1);
  EXPECT_TRUE(ReadFile(DataDir() + "/config.json").contains("\"UpdateType\": \"ArvelNet-Prod\""));
  EXPECT_FALSE(QDir(LogsDir()).exists()) << "no level, no log";

  WriteConfig(R"({"LogLevel": "Warning"})");
  EXPECT_EQ(Run("std"), 1);
  EXPECT_TRUE(Messages().contains("Caught unhandled error: test fault in the event loop"));
  EXPECT_TRUE(Messages().filter("Starting ").isEmpty()) << "the banner is Info";
}

TEST_F(Lumora, ARefusedConfigurationIsReportedOnStandardErrorAtOnceAndInTheLogOnceItIsOpen)
{
  WriteConfig(R"({"LogLevel": "Info"})", R"({"UpdateSource": "https://127.0.0.1:1/tesk/v1"})");
  EXPECT_EQ(Run("std", QProcess::SeparateChannels), 1);
  const QString failure =
      "Failed to read: " + DataDir() + R"(/config.json, "UpdateSource" is given without "UpdateKey")";
  const QString errorOutput = QString::fromUtf8(process.readAllStandardError());
  EXPECT_TRUE(errorOutput.contains("Lumora: " + failure + "\n")) << errorOutput.toStdString();

  const QStringList lines = Lines();
  const QStringList logged = lines.filter(failure);
  ASSERT_EQ(logged.size(), 1) << lines.join('\n').toStdString();
  EXPECT_TRUE(logged[0].contains("|   Error |")) << logged[0].toStdString();
  const QStringList messages = Messages();
  EXPECT_EQ(messages.indexOf("Starting Lumora"), 0) << "the banner still comes first";
  EXPECT_TRUE(messages.contains("config.json-file contents: Application LogLevel = Info, FullMapUpdate "
                                "UpdateType = ArvelNet-Prod, MapDownload RetryDuration = "))
      << "the production service is used";
  EXPECT_TRUE(ReadFile(DataDir() + "/config.json").contains(R"("LogLevel": "Info")"));
}
