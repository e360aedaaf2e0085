#include "platform/Platform.h"

#include "FrameTestSupport.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTemporaryDir>

using namespace FrameTest;

namespace {

const QString PlistName = QStringLiteral("com.arvel.lumora.plist");
const QString DesktopName = QStringLiteral("com.arvel.lumora.desktop");

// A home folder and a configuration folder of their own.
class StartupFiles : public ::testing::Test
{
protected:
  QTemporaryDir home;
  QTemporaryDir config;
  ScopedEnv homeEnv{"HOME", home.path()};
  ScopedEnv configEnv{"XDG_CONFIG_HOME", config.path()};

  QString Plist() const { return home.path() + QStringLiteral("/Library/LaunchAgents/") + PlistName; }
  QString Desktop() const { return config.path() + QStringLiteral("/autostart/") + DesktopName; }
};

} // namespace

TEST(LaunchAgentText, IsThePropertyListRunningOpenWithTheBundle)
{
  const QString expected = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                          "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                                          "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                                          "<plist version=\"1.0\">\n"
                                          "<dict>\n"
                                          "\t<key>Label</key>\n"
                                          "\t<string>Lumora</string>\n"
                                          "\t<key>ProgramArguments</key>\n"
                                          "\t<array>\n"
                                          "\t<string>open</string>\n"
                                          "\t<string>/Applications/Lumora.app</string>\n"
                                          "\t</array>\n"
                                          "\t<key>RunAtLoad</key>\n"
                                          "\t<true/>\n"
                                          "</dict>\n"
                                          "</plist>");
  EXPECT_EQ(Platform::LaunchAgentText(QStringLiteral("/Applications/Lumora.app"), true), expected);
  EXPECT_TRUE(
      Platform::LaunchAgentText(QStringLiteral("/x"), false).contains(QStringLiteral("\n\t<false/>\n")));
}

TEST(LaunchAgentText, EscapesXmlReservedCharactersOfThePath)
{
  const QString text = Platform::LaunchAgentText(QStringLiteral("/Apps/A&B <\"x'>.app"), true);
  EXPECT_TRUE(text.contains(QStringLiteral("<string>/Apps/A&amp;B &lt;&quot;x&apos;&gt;.app</string>")))
      << text.toStdString();
}

TEST(BundlePath, CutsAtTheFirstContentsFolder)
{
  EXPECT_EQ(Platform::BundlePath("/Apps/Lumora.app/Contents/MacOS/Lumora"),
            QStringLiteral("/Apps/Lumora.app"));
  EXPECT_EQ(Platform::BundlePath("/A.app/Contents/B.app/Contents/MacOS/x"), QStringLiteral("/A.app"));
  EXPECT_EQ(Platform::BundlePath("/opt/lumora/bin/lumora"), QStringLiteral("/opt/lumora/bin/lumora"));
  EXPECT_EQ(Platform::BundlePath("/opt/contents/lumora"), QStringLiteral("/opt/contents/lumora"));
}

TEST(InstallationDirectory, StripsOnlyATrailingMacOSFolder)
{
  EXPECT_EQ(Platform::InstallationDirectoryOf("/Apps/L.app/Contents/MacOS"),
            QStringLiteral("/Apps/L.app/Contents/"));
  EXPECT_EQ(Platform::InstallationDirectoryOf("/Apps/L.app/Contents/MacOS/"),
            QStringLiteral("/Apps/L.app/Contents/"));
  EXPECT_EQ(Platform::InstallationDirectoryOf("/home/MacOS/lumora/bin"),
            QStringLiteral("/home/MacOS/lumora/bin"));
  EXPECT_EQ(Platform::InstallationDirectoryOf("/opt/MacOSX"), QStringLiteral("/opt/MacOSX"));
  EXPECT_EQ(Platform::InstallationDirectoryOf("/opt/NoMacOS"), QStringLiteral("/opt/NoMacOS"));
  EXPECT_EQ(InstallationDirectory(), QCoreApplication::applicationDirPath());
}

TEST(AutostartEntryText, StartsTheExecutableAndCarriesTheFlag)
{
  EXPECT_EQ(Platform::AutostartEntryText("/opt/lumora/bin/lumora", true),
            QStringLiteral("[Desktop Entry]\nType=Application\nName=Lumora\nExec=/opt/lumora/bin/lumora\n"
                           "X-GNOME-Autostart-enabled=true\n"));
  EXPECT_TRUE(Platform::AutostartEntryText("/x", false).endsWith("\nX-GNOME-Autostart-enabled=false\n"));
}

TEST(AutostartEntryText, QuotesAndEscapesTheExecutablePath)
{
  // Inside quotes ", `, $ and \ take a backslash; the value then escapes each
  // backslash once more; % doubles so that it starts no field code.
  EXPECT_TRUE(Platform::AutostartEntryText("/my apps/lumora", true).contains("\nExec=\"/my apps/lumora\"\n"));
  EXPECT_TRUE(
      Platform::AutostartEntryText("/a$b/100%/c\\d", true).contains("\nExec=\"/a\\\\$b/100%%/c\\\\\\\\d\"\n"))
      << Platform::AutostartEntryText("/a$b/100%/c\\d", true).toStdString();
}

TEST_F(StartupFiles, OnOffAndOnAgainRewriteBothFilesWhole)
{
  CapturedLog log;
  const QString executable = QCoreApplication::applicationFilePath();
  ASSERT_TRUE(WriteFile(Plist(), QByteArray(4096, 'j'))); // a longer earlier file
  SetRunAtStartupOS(true);
  EXPECT_EQ(ReadFile(Plist()), Platform::LaunchAgentText(Platform::BundlePath(executable), true).toUtf8());
  EXPECT_EQ(ReadFile(Desktop()), Platform::AutostartEntryText(executable, true).toUtf8());
  EXPECT_TRUE(ReadFile(Desktop()).contains("\nExec=" + executable.toUtf8() + "\n"));

  SetRunAtStartupOS(false);
  EXPECT_TRUE(ReadFile(Plist()).contains("\t<false/>\n"));
  EXPECT_TRUE(ReadFile(Desktop()).contains("X-GNOME-Autostart-enabled=false\n"));

  SetRunAtStartupOS(true);
  EXPECT_EQ(ReadFile(Plist()), Platform::LaunchAgentText(Platform::BundlePath(executable), true).toUtf8());
  EXPECT_EQ(ReadFile(Desktop()), Platform::AutostartEntryText(executable, true).toUtf8());

  EXPECT_EQ(log.Matching(QStringLiteral("Updating start-up file: ") + Plist()).size(), 3);
  EXPECT_EQ(log.Matching(QStringLiteral("Updating start-up file: ") + Desktop()).size(), 3);
  EXPECT_TRUE(log.Matching(QStringLiteral("Failed")).isEmpty());
  EXPECT_EQ(QDir(home.path() + "/Library/LaunchAgents").entryList(QDir::Files | QDir::Hidden).size(), 1);
  EXPECT_EQ(QDir(config.path() + "/autostart").entryList(QDir::Files | QDir::Hidden).size(), 1);
}

TEST_F(StartupFiles, DefaultConfigurationFolderIsInTheHomeFolder)
{
  qunsetenv("XDG_CONFIG_HOME");
  SetRunAtStartupOS(true);
  EXPECT_TRUE(QFile::exists(home.path() + QStringLiteral("/.config/autostart/") + DesktopName));
  ScopedEnv relative("XDG_CONFIG_HOME", QStringLiteral("relative/path"));
  SetRunAtStartupOS(false);
  EXPECT_TRUE(ReadFile(home.path() + QStringLiteral("/.config/autostart/") + DesktopName).contains("=false"));
}

TEST_F(StartupFiles, FolderThatCannotBeCreatedIsLoggedAndNothingWritten)
{
  const QString blocker = home.path() + QStringLiteral("/file");
  ASSERT_TRUE(WriteFile(blocker, "x"));
  ScopedEnv homeInFile("HOME", blocker);
  ScopedEnv configInFile("XDG_CONFIG_HOME", blocker);
  CapturedLog log;
  SetRunAtStartupOS(true);
  const QStringList errors = log.Matching(QStringLiteral("Failed to create start-up directory"));
  ASSERT_EQ(errors.size(), 2);
  EXPECT_TRUE(errors[0].contains(QStringLiteral("|   Error |")));
  EXPECT_EQ(ReadFile(blocker), QByteArray("x"));
}

TEST_F(StartupFiles, FileThatCannotBeOpenedIsLoggedAndTheOtherStillWritten)
{
  ASSERT_TRUE(QDir().mkpath(Plist())); // a folder in the file's place
  CapturedLog log;
  SetRunAtStartupOS(true);
  EXPECT_EQ(log.Matching(QStringLiteral("Failed to open start-up file")).size(), 1);
  EXPECT_TRUE(QFileInfo(Plist()).isDir());
  EXPECT_TRUE(ReadFile(Desktop()).contains("=true"));
}

// The write is cut short by a file-size limit, in a child process so that the
// limit touches nothing else; its log goes to standard error.
TEST_F(StartupFiles, ShortWriteIsAnErrorAndKeepsTheEarlierFile)
{
  ::testing::FLAGS_gtest_death_test_style = "fast";
  const QByteArray earlier = "earlier content";
  ASSERT_TRUE(WriteFile(Plist(), earlier));
  ASSERT_TRUE(WriteFile(Desktop(), earlier));
  EXPECT_EXIT(RunUnderFileSizeLimit(64, [] { SetRunAtStartupOS(true); }), ::testing::ExitedWithCode(0),
              "Error.*Failed to write start-up file: .*com\\.arvel\\.lumora\\.plist.*"
              "Error.*Failed to write start-up file: .*com\\.arvel\\.lumora\\.desktop");
  EXPECT_EQ(ReadFile(Plist()), earlier);
  EXPECT_EQ(ReadFile(Desktop()), earlier);
  EXPECT_EQ(QDir(home.path() + "/Library/LaunchAgents").entryList(QDir::Files | QDir::Hidden).size(), 1);
  EXPECT_EQ(QDir(config.path() + "/autostart").entryList(QDir::Files | QDir::Hidden).size(), 1);
}
