// Runs the built application as a child process, each run with a data
// folder, home and configuration folder of its own.

#include "FrameTestSupport.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace FrameTest;

namespace {

class Lumora : public ::testing::Test
{
protected:
  QTemporaryDir root;
  QProcess process;

  QString DataDir() const { return root.path() + QStringLiteral("/data/Arvel/Lumora"); }
  QString LogsDir() const { return DataDir() + QStringLiteral("/Logs"); }

  void WriteConfig(const QByteArray& application,
                   const QByteArray& update = R"({"UpdateType": "ArvelNet-Prod"})")
  {
    ASSERT_TRUE(WriteFile(DataDir() + QStringLiteral("/config.json"),
                          R"({"Application": )" + application + R"(, "FullMapUpdate": )" + update +
                              R"(, "MapDownload": {"RetryDuration": "3"}})"));
  }

  void Start(const QByteArray& fault = QByteArray())
  {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_DATA_HOME", root.path() + QStringLiteral("/data"));
    env.insert("HOME", root.path());
    env.insert("XDG_CONFIG_HOME", root.path() + QStringLiteral("/config"));
    env.insert("QT_QPA_PLATFORM", "offscreen");
    if (fault.isEmpty())
      env.remove("LUMORA_TEST_THROW");
    else
      env.insert("LUMORA_TEST_THROW", QString::fromLatin1(fault));
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(QCoreApplication::applicationDirPath() + QStringLiteral("/lumora"), QStringList());
    ASSERT_TRUE(process.waitForStarted(30000)) << process.errorString().toStdString();
  }

  // Waits for the run to end by itself; its exit code.
  int Finish()
  {
    EXPECT_TRUE(process.waitForFinished(60000));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    return process.exitCode();
  }

  // Whole record lines.
  QStringList Lines() const
  {
    QStringList lines;
    const QDir logs(LogsDir());
    for (const QString& name : logs.entryList(QStringList("*.log"), QDir::Files, QDir::Name))
      lines += QString::fromUtf8(ReadFile(logs.filePath(name))).split('\n', Qt::SkipEmptyParts);
    return lines;
  }

  QStringList Messages() const
  {
    QStringList messages;
    const QDir logs(LogsDir());
    for (const QString& name : logs.entryList(QStringList("*.log"), QDir::Files, QDir::Name))
      for (const QString& line :
           QString::fromUtf8(ReadFile(logs.filePath(name))).split('\n', Qt::SkipEmptyParts))
        messages += line.mid(line.lastIndexOf(QLatin1String(" | ")) + 3);
    return messages;
  }

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

TEST_F(Lumora, ExceptionInTheEventLoopEndsTheRunWithCodeOne)
{
  WriteConfig(R"({"LogLevel": "Info"})");
  Start("std");
  EXPECT_EQ(Finish(), 1);
  const QStringList messages = Messages();
  EXPECT_TRUE(messages.contains("Caught unhandled error: test fault in the event loop"))
      << messages.join('\n').toStdString();
  // The start event was queued before the fault; the machine is taken down in order afterwards.
  EXPECT_LT(messages.indexOf("Entered Common state"),
            messages.indexOf("Caught unhandled error: test fault in the event loop"));
  EXPECT_GT(messages.indexOf("Left Common state"),
            messages.indexOf("Caught unhandled error: test fault in the event loop"));
}

TEST_F(Lumora, UnknownExceptionEndsTheRunWithCodeOne)
{
  WriteConfig(R"({"LogLevel": "Info"})");
  Start("other");
  EXPECT_EQ(Finish(), 1);
  EXPECT_TRUE(Messages().contains("Caught unknown unhandled error"));
  // Caught where the event loop delivers it, not after it crossed Qt's frames.
  const QStringList caught = Lines().filter("Caught unknown unhandled error");
  ASSERT_EQ(caught.size(), 1);
  EXPECT_TRUE(caught[0].contains(" notify | ")) << caught[0].toStdString();
}

TEST_F(Lumora, WarningLevelKeepsTheBannerOut)
{
  WriteConfig(R"({"LogLevel": "Warning"})");
  Start("std");
  EXPECT_EQ(Finish(), 1);
  const QStringList messages = Messages();
  EXPECT_TRUE(messages.contains("Caught unhandled error: test fault in the event loop"));
  EXPECT_TRUE(messages.filter("Starting ").isEmpty());
  EXPECT_TRUE(messages.filter("config.json-file contents").isEmpty());
}

TEST_F(Lumora, WithoutLogLevelNothingIsLogged)
{
  WriteConfig(R"("")");
  Start("std");
  EXPECT_EQ(Finish(), 1);
  EXPECT_FALSE(QDir(LogsDir()).exists());
}

TEST_F(Lumora, ExplicitServiceAddressShowsNoEnvironmentName)
{
  WriteConfig(R"({"LogLevel": "Info"})",
              R"({"UpdateSource": "https://127.0.0.1:1/tesk/v1", "UpdateKey": "k"})");
  Start("std");
  EXPECT_EQ(Finish(), 1);
  EXPECT_TRUE(Messages().contains("config.json-file contents: Application LogLevel = Info, FullMapUpdate "
                                  "UpdateType = , MapDownload RetryDuration = 3"))
      << Messages().join('\n').toStdString();
}

TEST_F(Lumora, FirstStartWritesTheDefaultConfiguration)
{
  Start("std");
  EXPECT_EQ(Finish(), 1);
  EXPECT_TRUE(ReadFile(DataDir() + "/config.json").contains("\"UpdateType\": \"ArvelNet-Prod\""));
  EXPECT_FALSE(QDir(LogsDir()).exists());
}

TEST_F(Lumora, RunsInQuickSuccessionKeepEachOthersLogs)
{
  WriteConfig(R"({"LogLevel": "Info"})");
  for (int run = 0; run < 3; ++run) {
    Start("std");
    EXPECT_EQ(Finish(), 1);
  }
  // Runs that open their log within the same second share one file.
  EXPECT_EQ(Messages().filter("Starting Lumora").size(), 3) << Messages().join('\n').toStdString();
}
