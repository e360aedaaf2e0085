// Runs the built application as a child process with a data folder, home,
// configuration folder and temporary folder of its own.

#include "Files.h"
#include "LogCapture.h"
#include "TestService.h"
#include "TmpfsMount.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>

#include <algorithm>
#include <iostream>
#include <memory>
#include <utility>
#include <vector>

using namespace TestSupport;

namespace {

class Lumora : public ::testing::Test
{
protected:
  QTemporaryDir root;
  QProcess process;
  // Changes to the environment of every start: an empty value removes the
  // variable.
  std::vector<std::pair<QString, QString>> environment;

  QString DataDir() const { return root.path() + "/data/Arvel/Lumora"; }
  QString LogsDir() const { return DataDir() + "/Logs"; }

  void WriteConfig(const QByteArray& application,
                   const QByteArray& update = R"({"UpdateType": "ArvelNet-Prod"})")
  {
    ASSERT_TRUE(WriteFile(DataDir() + "/config.json", R"({"Application": )" + application +
                                                          R"(, "FullMapUpdate": )" + update +
                                                          R"(, "MapDownload": {"RetryDuration": "3"}})"));
  }

  // Starts the application in `lumora`; `fault` ("std" or "other") makes
  // its event loop throw.
  void Start(QProcess& lumora, const QString& fault = QString(),
             QProcess::ProcessChannelMode channels = QProcess::ForwardedErrorChannel)
  {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_DATA_HOME", root.path() + "/data");
    env.insert("HOME", root.path());
    env.insert("XDG_CONFIG_HOME", root.path() + "/config");
    env.insert("XDG_RUNTIME_DIR", root.path() + "/run");
    QDir().mkpath(root.path() + "/run");
    env.insert("TMPDIR", root.path() + "/tmp");
    QDir().mkpath(root.path() + "/tmp");
    env.insert("QT_QPA_PLATFORM", "offscreen");
    for (const auto& [name, value] : environment)
      value.isEmpty() ? env.remove(name) : env.insert(name, value);
    if (!fault.isEmpty())
      env.insert("LUMORA_TEST_THROW", fault);
    lumora.setProcessEnvironment(env);
    lumora.setProcessChannelMode(channels);
    lumora.start(QCoreApplication::applicationDirPath() + "/lumora", QStringList());
  }

  // A run that throws `fault` in its event loop; its exit code.
  int Run(const QString& fault, QProcess::ProcessChannelMode channels = QProcess::ForwardedErrorChannel)
  {
    Start(process, fault, channels);
    EXPECT_TRUE(process.waitForFinished(60000)) << process.errorString().toStdString();
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    return process.exitCode();
  }

  // Waits until the log holds `message` `count` times.
  bool WaitForMessage(const QString& message, int count = 1) const
  {
    return TestSupport::WaitFor([&] { return Messages().count(message) >= count; }, 60000);
  }

  // A later start with the same home: it ends by itself, with code 0 once it
  // has asked the running copy to come to the front.
  void StartAgainAndSeeItEnd()
  {
    QProcess later;
    Start(later, QString(), QProcess::SeparateChannels);
    ASSERT_TRUE(later.waitForFinished(60000)) << "a second copy runs";
    EXPECT_EQ(later.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(later.exitCode(), 0) << later.readAllStandardError().toStdString();
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

// A second start brings the running copy forward and ends at once; it writes
// no log of its own, so the running copy's log is the only one.
TEST_F(Lumora, ASecondStartAsksTheRunningCopyToComeForwardAndEnds)
{
  WriteConfig(R"({"LogLevel": "Info"})");
  Start(process);
  ASSERT_TRUE(WaitForMessage("Entered Common state")) << Messages().join('\n').toStdString();

  for (int start = 1; start <= 2; ++start) {
    SCOPED_TRACE(start);
    StartAgainAndSeeItEnd();
    EXPECT_TRUE(WaitForMessage("Got Activate event", start)) << Messages().join('\n').toStdString();
  }
  EXPECT_EQ(process.state(), QProcess::Running);
  EXPECT_EQ(Messages().count("Starting Lumora"), 1) << "only the running copy logs";
  EXPECT_EQ(Messages().count("Reading settings from file: " + DataDir() + "/settings.json"), 1);
  process.kill();
  process.waitForFinished(60000);
}

// Of copies started at the same moment exactly one runs; the others end by
// themselves, each bringing it forward.
TEST_F(Lumora, OfCopiesStartedTogetherExactlyOneRuns)
{
  WriteConfig(R"({"LogLevel": "Info"})");
  std::vector<std::unique_ptr<QProcess>> copies;
  for (int copy = 0; copy < 3; ++copy) {
    copies.push_back(std::make_unique<QProcess>());
    Start(*copies.back());
  }
  // The copies that end do so by themselves, and only they.
  ASSERT_TRUE(TestSupport::WaitFor(
      [&] {
        return std::count_if(copies.begin(), copies.end(),
                             [](const auto& copy) { return copy->state() == QProcess::NotRunning; }) == 2;
      },
      60000));
  for (const auto& copy : copies) {
    if (copy->state() == QProcess::NotRunning) {
      EXPECT_EQ(copy->exitCode(), 0);
    }
  }
  EXPECT_TRUE(WaitForMessage("Got Activate event", 2)) << Messages().join('\n').toStdString();
  EXPECT_EQ(Messages().count("Starting Lumora"), 1);
  for (const auto& copy : copies) {
    copy->kill();
    copy->waitForFinished(60000);
  }
}

// A copy that was killed leaves its lock file and its socket behind; the next
// start takes both over, runs, and is brought forward by a later start. So
// also where the data folder cannot hold a working lock (file locks fail
// below it; it is read-only), with the user's runtime folder and without one.
TEST_F(Lumora, ALockLeftByAKilledCopyDoesNotStopTheNextStart)
{
  const QString noLocks = QStringLiteral("LUMORA_TEST_NO_LOCKS_BELOW");
  const struct
  {
    const char* name;
    bool runtime;
    bool lockFailure;
    bool readOnly;
    QString error; // logged by each copy that runs
  } rows[] = {
      {"a runtime folder", true, false, false, QString()},
      {"file locks fail below the data folder", true, true, false, QString()},
      {"file locks fail below the data folder, no runtime folder", false, true, false,
       "Failed to lock " + DataDir() + "/lumora.lock: No locks available"},
      {"a read-only data folder, no runtime folder", false, false, true,
       "Failed to lock " + DataDir() + "/lumora.lock: Read-only file system"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ASSERT_TRUE(QDir(root.path()).removeRecursively() && QDir().mkpath(DataDir()));
    environment = {{"XDG_RUNTIME_DIR", row.runtime ? root.path() + "/run" : QString()},
                   {"LD_PRELOAD", row.lockFailure ? LUMORA_LOCK_FAILURE : QString()},
                   // The preloaded library cannot come after the sanitizers'.
                   {"ASAN_OPTIONS", qEnvironmentVariable("ASAN_OPTIONS") + ":verify_asan_link_order=0"},
                   {noLocks, QFileInfo(DataDir()).canonicalFilePath()}};
    std::unique_ptr<TmpfsMount> data, logs;
    if (row.readOnly) {
      if (!TmpfsMount::Allowed()) {
        std::cout << "A read-only data folder needs a tmpfs mount: not running as root\n";
        continue;
      }
      data = std::make_unique<TmpfsMount>(DataDir().toStdString());
      ASSERT_TRUE(data->Mounted()) << data->Error();
    }
    WriteConfig(R"({"LogLevel": "Info"})");
    if (row.readOnly) {
      ASSERT_TRUE(QDir().mkpath(LogsDir()));
      ASSERT_TRUE(data->SetReadOnly(true)) << data->Error();
      logs = std::make_unique<TmpfsMount>(LogsDir().toStdString());
      ASSERT_TRUE(logs->Mounted()) << logs->Error();
    }

    Start(process);
    ASSERT_TRUE(WaitForMessage("Entered Common state")) << Messages().join('\n').toStdString();
    StartAgainAndSeeItEnd();
    EXPECT_TRUE(WaitForMessage("Got Activate event")) << Messages().join('\n').toStdString();
    process.kill();
    ASSERT_TRUE(process.waitForFinished(60000));
    EXPECT_FALSE(QDir(root.path() + (row.runtime ? "/run" : "/tmp"))
                     .entryList({"lumora-*.socket", "Lumora-*"}, QDir::System)
                     .isEmpty())
        << "the killed copy left its socket";

    QProcess next;
    Start(next);
    ASSERT_TRUE(WaitForMessage("Entered Common state", 2)) << Messages().join('\n').toStdString();
    EXPECT_EQ(next.state(), QProcess::Running);
    StartAgainAndSeeItEnd();
    EXPECT_TRUE(WaitForMessage("Got Activate event", 2)) << Messages().join('\n').toStdString();
    EXPECT_EQ(Messages().count("Starting Lumora"), 2) << "only the copies that run log";
    // The lock was held, where the row says: the errors are the row's only.
    EXPECT_EQ(Messages().filter("Failed to lock ").join('\n'),
              row.error.isEmpty() ? QString() : row.error + '\n' + row.error)
        << Messages().join('\n').toStdString();
    EXPECT_TRUE(Messages().filter("may run beside").isEmpty()) << Messages().join('\n').toStdString();
    next.kill();
    next.waitForFinished(60000);
  }
}
