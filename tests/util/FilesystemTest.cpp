#include "util/Filesystem.h"

#include "Files.h"
#include "LogCapture.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>

using namespace TestSupport;
namespace fs = boost::filesystem;

TEST(PathExistsAndFreeSpace, WaitForTheVolumeToSettleAndWarnOnlyWhenTheStatusCannotBeRead)
{
  QTemporaryDir dir;
  const auto PathOf = [](const QString& path) { return fs::path(QFile::encodeName(path).toStdString()); };
  ASSERT_TRUE(WriteFile(dir.filePath("file"), "x"));
  // A symbolic link loop cannot be followed, whoever asks.
  ASSERT_TRUE(QFile::link(dir.filePath("b"), dir.filePath("a")));
  ASSERT_TRUE(QFile::link(dir.filePath("a"), dir.filePath("b")));
  LogCapture log;
  QElapsedTimer timer;
  timer.start();
  EXPECT_TRUE(PathExists(PathOf(dir.path())));
  EXPECT_GE(timer.elapsed(), 500);
  EXPECT_TRUE(PathExists(PathOf(dir.filePath("file"))));
  EXPECT_FALSE(PathExists(PathOf(dir.filePath("missing"))));
  EXPECT_FALSE(PathExists(PathOf(dir.filePath("file/below-a-file"))));
  EXPECT_TRUE(log.Lines().empty()) << "a missing path is an answer, not a failure";

  EXPECT_FALSE(PathExists(PathOf(dir.filePath("a"))));
  EXPECT_EQ(log.Matching("Failed to check if path: ").size(), 1u);

  // A missing folder's space is not known (nor is it full), and it says so.
  EXPECT_EQ(HasFreeSpace(PathOf(dir.path())), FreeSpace::Some);
  EXPECT_EQ(HasFreeSpace(PathOf(dir.filePath("missing"))), FreeSpace::Unknown);
  EXPECT_EQ(log.Matching("Failed to get space info of path: ").size(), 1u);
}

TEST(WriteFileAtomically, ReplacesTheFileInOneStepOrReportsAndLeavesNothingBehind)
{
  QTemporaryDir dir;
  const QString path = dir.filePath("settings.json");
  ASSERT_TRUE(WriteFile(path, "old content"));
  // A reader of the old file keeps reading it whole: the new content arrives
  // under a new inode, never by rewriting the old one.
  QFile reader(path);
  ASSERT_TRUE(reader.open(QIODevice::ReadOnly));
  QString error;
  ASSERT_TRUE(WriteFileAtomically(path, "new", &error)) << error.toStdString();
  EXPECT_EQ(reader.readAll(), QByteArray("old content"));
  EXPECT_EQ(ReadFile(path), QByteArray("new"));

  ASSERT_TRUE(QDir().mkpath(dir.filePath("target")));
  EXPECT_FALSE(WriteFileAtomically(dir.filePath("target"), "x", &error));
  EXPECT_TRUE(error.contains(dir.filePath("target"))) << error.toStdString();
  EXPECT_FALSE(WriteFileAtomically(dir.filePath("missing-folder/file"), "x", &error));
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
            (QStringList{"settings.json", "target"}));
}

TEST(WriteFileAtomically, ShortWriteFailsAndKeepsTheEarlierFile)
{
  ::testing::FLAGS_gtest_death_test_style = "fast";
  QTemporaryDir dir;
  const QString path = dir.filePath("config.json");
  ASSERT_TRUE(WriteFile(path, "earlier"));
  EXPECT_EXIT(RunUnderFileSizeLimit(64,
                                    [&] {
                                      QString error;
                                      const bool written =
                                          WriteFileAtomically(path, QByteArray(4096, 'n'), &error);
                                      std::clog << "written=" << written << " error=" << error.toStdString();
                                    }),
              ::testing::ExitedWithCode(0), "written=0 error=cannot write .*config\\.json");
  EXPECT_EQ(ReadFile(path), QByteArray("earlier"));
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"config.json"});
}
