// Runs the built application as a child process with a data folder, home and
// configuration folder of its own.

#include "Files.h"
#include "LogCapture.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QProcess>
#include <QTest>

using namespace TestSupport;

namespace {

class Lumora : public ::testing::Test
{
protected:
  QTemporaryDir root;
  QProcess process;
  QProcess::ProcessChannelMode channels = QProcess::ForwardedErrorChannel;

  QString DataDir() const { return root.path() + "/data/Arvel/Lumora"; }
  QString LogsDir() const { return DataDir() + "/Logs"; }

  void WriteConfig(const QByteArray& application,
                   const QByteArray& update = R"({"UpdateType": "ArvelNet-Prod"})")
  {
    ASSERT_TRUE(WriteFile(DataDir() + "/config.json", R"({"Application": )" + application +
                                                          R"(, "FullMapUpdate": )" + update +
                                                          R"(, "MapDownload": {"RetryDuration": "3"}})"));
  }

  // Starts a run that throws `fault` ("std" or "other") in the event loop, if any.
  void Start(const QString& fault = QString())
  {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_DATA_HOME", root.path() + "/data");
    env.insert("HOME", root.path());
    env.insert("XDG_CONFIG_HOME", root.path() + "/config");
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.remove("LUMORA_TEST_THROW");
    if (!fault.isEmpty())
      env.insert("LUMORA_TEST_THROW", fault);
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(channels);
    process.start(QCoreApplication::applicationDirPath() + "/lumora", QStringList());
    ASSERT_TRUE(process.waitForStarted(30000)) << process.errorString().toStdString();
  }

  // A run that ends by itself; its exit code.
  int Run(const QString& fault)
  {
    Start(fault);
    EXPECT_TRUE(process.waitForFinished(60000));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    return process.exitCode();
  }

  QStringList Lines() const
  {
    QStringList lines;
    for (const std::string& line : LogCapture::LinesIn(LogsDir().toStdString()))
      lines += QString::fromStdString(line);
    return lines;
  }
  static QStringList MessagesOf(const QStringList& lines)
  {
    QStringList messages;
    for (const QString& line : lines)
      messages += QString::fromStdString(LogCapture::MessageOf(line.toStdString()));
    return messages;
  }
  QStringList Messages() const { return MessagesOf(Lines()); }

  void TearDown() override
  {
    if (process.state() != QProcess::NotRunning) {
      process.kill();
      process.waitForFinished(30000);
    }
  }
};

} // namespace

TEST_F(Lumora, StartsInOrderAndReachesCommon)
{
  WriteConfig(R"({"LogLevel": "Debug"})");
  Start();
  ASSERT_TRUE(QTest::qWaitFor([&] { return Messages().contains("Entered Common state"); }, 60000))
      << Messages().join('\n').toStdString();
  const QStringList messages = Messages();
  const QStringList inOrder = {
      "Starting Lumora",
      "Configuration : Production Release",
      "Version : 2.0.74",
      "config.json-file contents: Application LogLevel = Debug, FullMapUpdate UpdateType = ArvelNet-Prod, "
      "MapDownload RetryDuration = 3",
      "Loading application fonts",
      "Reading settings from file: " + DataDir() + "/settings.json",
      "Entered StartUp state",
      "Got StartUp event; switching to Common state",
      "Entered Common state",
  };
  int at = -1;
  for (const QString& message : inOrder) {
    const int found = messages.indexOf(message);
    EXPECT_GT(found, at) << message.toStdString();
    at = found;
  }
  EXPECT_EQ(messages.indexOf("Starting Lumora"), 0) << "nothing is logged before the banner";
  EXPECT_TRUE(messages.filter("Failed to load font").isEmpty());
  // A first start switches start at login on.
  EXPECT_TRUE(ReadFile(root.path() + "/config/autostart/com.arvel.lumora.desktop")
                  .contains("X-GNOME-Autostart-enabled=true\n"));
}

TEST_F(Lumora, AnExceptionInTheEventLoopEndsEachRunInOrderWithCodeOneAndQuickRunsShareTheirLog)
{
  WriteConfig(R"({"LogLevel": "Info"})");
  for (int run = 0; run < 3; ++run)
    EXPECT_EQ(Run("std"), 1);
  const QStringList messages = Messages();
  const QString error = "Caught unhandled error: test fault in the event loop";
  EXPECT_EQ(messages.filter("Starting Lumora").size(), 3) << messages.join('\n').toStdString();
  EXPECT_EQ(messages.filter(error).size(), 3);
  // The start event was queued before the fault; the machine is taken down in order afterwards.
  EXPECT_LT(messages.indexOf("Entered Common state"), messages.indexOf(error));
  EXPECT_GT(messages.indexOf("Left Common state"), messages.indexOf(error));

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

  WriteConfig(R"({"LogLevel": "Info"})",
              R"({"UpdateSource": "https://127.0.0.1:1/tesk/v1", "UpdateKey": "k"})");
  EXPECT_EQ(Run("std"), 1);
  EXPECT_TRUE(Messages().contains("config.json-file contents: Application LogLevel = Info, FullMapUpdate "
                                  "UpdateType = , MapDownload RetryDuration = 3"))
      << "an explicit service address shows no environment name";
}

TEST_F(Lumora, ARefusedConfigurationIsReportedOnStandardErrorAtOnceAndInTheLogOnceItIsOpen)
{
  WriteConfig(R"({"LogLevel": "Info"})", R"({"UpdateSource": "https://127.0.0.1:1/tesk/v1"})");
  channels = QProcess::SeparateChannels;
  EXPECT_EQ(Run("std"), 1);
  const QString failure =
      "Failed to read: " + DataDir() + R"(/config.json, "UpdateSource" is given without "UpdateKey")";
  const QString errorOutput = QString::fromUtf8(process.readAllStandardError());
  EXPECT_TRUE(errorOutput.contains("Lumora: " + failure + "\n")) << errorOutput.toStdString();

  const QStringList lines = Lines();
  const QStringList logged = lines.filter(failure);
  ASSERT_EQ(logged.size(), 1) << lines.join('\n').toStdString();
  EXPECT_TRUE(logged[0].contains("|   Error |")) << logged[0].toStdString();
  const QStringList messages = MessagesOf(lines);
  EXPECT_EQ(messages.indexOf("Starting Lumora"), 0) << "the banner still comes first";
  EXPECT_TRUE(messages.contains("config.json-file contents: Application LogLevel = Info, FullMapUpdate "
                                "UpdateType = ArvelNet-Prod, MapDownload RetryDuration = "))
      << "the production service is used";
  EXPECT_TRUE(ReadFile(DataDir() + "/config.json").contains(R"("LogLevel": "Info")"));
}
