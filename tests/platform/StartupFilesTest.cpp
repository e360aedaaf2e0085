#include "platform/Platform.h"

#include "Files.h"
#include "LogCapture.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

using namespace TestSupport;

namespace {

// A home folder and a configuration folder of their own.
struct StartupFiles : ::testing::Test
{
  QTemporaryDir home;
  QTemporaryDir config;
  ScopedEnv homeEnv{"HOME", home.path()};
  ScopedEnv configEnv{"XDG_CONFIG_HOME", config.path()};

  QString Desktop() const { return config.path() + "/autostart/com.arvel.lumora.desktop"; }
  // The entry alone is left in its folder (nothing temporary), and nothing
  // in the home folder: the launch agent's folder is not this platform's.
  void ExpectOnlyTheEntry() const
  {
    EXPECT_EQ(QDir(config.path() + "/autostart").entryList(QDir::Files | QDir::Hidden).size(), 1);
    EXPECT_TRUE(
        QDir(home.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).isEmpty());
  }
};

} // namespace

TEST(StartupTexts, EntriesEscapeThePathTheyStartCutAtWholeFolderNames)
{
  EXPECT_TRUE(Platform::LaunchAgentText("/Apps/A&B <\"x'>.app", true)
                  .contains("<string>/Apps/A&amp;B &lt;&quot;x&apos;&gt;.app</string>"));
  EXPECT_EQ(Platform::AutostartEntryText("/opt/lumora/bin/lumora", true),
            "[Desktop Entry]\nType=Application\nName=Lumora\nExec=/opt/lumora/bin/lumora\n"
            "X-GNOME-Autostart-enabled=true\n");
  // Inside quotes ", `, $ and \ take a backslash; the value then escapes each
  // backslash once more; % doubles so that it starts no field code.
  EXPECT_TRUE(Platform::AutostartEntryText("/my apps/lumora", true).contains("\nExec=\"/my apps/lumora\"\n"));
  EXPECT_TRUE(Platform::AutostartEntryText("/a$b/100%/c\\d", true)
                  .contains("\nExec=\"/a\\\\$b/100%%/c\\\\\\\\d\"\n"));

  // The bundle and the installation folder are cut only at whole folder names.
  const std::pair<QString, QString> bundles[] = {
      {"/Apps/Lumora.app/Contents/MacOS/Lumora", "/Apps/Lumora.app"},
      {"/A.app/Contents/B.app/Contents/MacOS/x", "/A.app"},
      {"/opt/contents/lumora", "/opt/contents/lumora"}};
  for (const auto& [executable, bundle] : bundles)
    EXPECT_EQ(Platform::BundlePath(executable), bundle);
  const std::pair<QString, QString> folders[] = {{"/Apps/L.app/Contents/MacOS", "/Apps/L.app/Contents/"},
                                                 {"/Apps/L.app/Contents/MacOS/", "/Apps/L.app/Contents/"},
                                                 {"/home/MacOS/lumora/bin", "/home/MacOS/lumora/bin"},
                                                 {"/opt/MacOSX", "/opt/MacOSX"},
                                                 {"/opt/NoMacOS", "/opt/NoMacOS"}};
  for (const auto& [executableDir, installation] : folders)
    EXPECT_EQ(Platform::InstallationDirectoryOf(executableDir), installation);
  EXPECT_EQ(InstallationDirectory(), QCoreApplication::applicationDirPath());
}

TEST_F(StartupFiles, OnOffAndOnAgainRewriteTheAutostartEntryWhole)
{
  LogCapture log;
  const QByteArray desktop =
      Platform::AutostartEntryText(QCoreApplication::applicationFilePath(), true).toUtf8();
  ASSERT_TRUE(WriteFile(Desktop(), QByteArray(4096, 'j'))); // a longer earlier file
  EXPECT_TRUE(SetRunAtStartupOS(true));
  EXPECT_EQ(ReadFile(Desktop()), desktop);
  EXPECT_TRUE(SetRunAtStartupOS(false));
  EXPECT_TRUE(ReadFile(Desktop()).contains("X-GNOME-Autostart-enabled=false\n"));
  EXPECT_TRUE(SetRunAtStartupOS(true));
  EXPECT_EQ(ReadFile(Desktop()), desktop);

  EXPECT_TRUE(log.Matching("Failed").empty());
  ExpectOnlyTheEntry();

  // Without a usable configuration folder the entry goes below the home folder.
  const QString inHome = home.path() + "/.config/autostart/com.arvel.lumora.desktop";
  qunsetenv("XDG_CONFIG_HOME");
  SetRunAtStartupOS(true);
  EXPECT_TRUE(ReadFile(inHome).contains("=true"));
  ScopedEnv relative("XDG_CONFIG_HOME", "relative/path");
  SetRunAtStartupOS(false);
  EXPECT_TRUE(ReadFile(inHome).contains("=false"));
}

TEST_F(StartupFiles, AFileOrFolderThatCannotBeWrittenIsAnError)
{
  ASSERT_TRUE(QDir().mkpath(Desktop())); // a folder in the file's place
  LogCapture log;
  EXPECT_FALSE(SetRunAtStartupOS(true));
  EXPECT_EQ(log.Matching("Failed to open start-up file").size(), 1u);
  EXPECT_TRUE(QFileInfo(Desktop()).isDir());

  const QString blocker = home.path() + "/file";
  ASSERT_TRUE(WriteFile(blocker, "x"));
  ScopedEnv configInFile("XDG_CONFIG_HOME", blocker);
  EXPECT_FALSE(SetRunAtStartupOS(true));
  const auto errors = log.Matching("Failed to create start-up directory");
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_TRUE(errors[0].find("|   Error |") != std::string::npos);
  EXPECT_EQ(ReadFile(blocker), QByteArray("x"));
}

// The write is cut short by a file-size limit, in a child process so that the
// limit touches nothing else; its log goes to standard error.
TEST_F(StartupFiles, ShortWriteIsAnErrorAndKeepsTheEarlierFile)
{
  ::testing::FLAGS_gtest_death_test_style = "fast";
  const QByteArray earlier = "earlier content";
  ASSERT_TRUE(WriteFile(Desktop(), earlier));
  EXPECT_EXIT(RunUnderFileSizeLimit(64, [] { SetRunAtStartupOS(true); }), ::testing::ExitedWithCode(0),
              "Error.*Failed to write start-up file: .*com\\.arvel\\.lumora\\.desktop");
  EXPECT_EQ(ReadFile(Desktop()), earlier);
  ExpectOnlyTheEntry();
}
