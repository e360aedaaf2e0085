#include "platform/Platform.h"

#include "Files.h"

#include <gtest/gtest.h>

#include <QStorageInfo>
#include <QTemporaryDir>

using namespace TestSupport;

TEST(GetFreeDiskSpace, AgreesWithTheVolumeAndFailsOnMissingPaths)
{
  QTemporaryDir dir;
  const qint64 free = GetFreeDiskSpace(dir.path());
  EXPECT_GT(free, 0);
  // Other processes write meanwhile; the two figures stay close.
  EXPECT_LT(std::llabs(free - QStorageInfo(dir.path()).bytesAvailable()), 64LL * 1024 * 1024);
  EXPECT_EQ(GetFreeDiskSpace(dir.filePath("missing")), -1);
  EXPECT_EQ(GetFreeDiskSpace(QString()), -1);
}

TEST(FileTimes, DateOfAFileAndAFolderAndNoneOfAMissingPath)
{
  QTemporaryDir dir;
  ASSERT_TRUE(WriteFile(dir.filePath("file"), "x"));
  const QDateTime date(QDate(2021, 3, 4), QTime(5, 6, 7));
  for (const QString& path : {dir.filePath("file"), dir.path()}) {
    SCOPED_TRACE(path.toStdString());
    EXPECT_TRUE(SetTime(path, date, false));
    const QFileInfo info(path);
    EXPECT_EQ(info.lastModified(), date) << "the modification time stands in for the birth time";
    // A birth time the system keeps cannot be set; otherwise the date is the one set.
    EXPECT_EQ(GetTime(path, false), info.birthTime().isValid() ? info.birthTime() : date);
  }
  EXPECT_FALSE(GetTime(QString(), false).isValid());
  EXPECT_FALSE(GetTime(dir.filePath("missing"), true).isValid());
  EXPECT_FALSE(SetTime(dir.filePath("missing"), date, false));
  EXPECT_FALSE(SetTime(QString(), date, false));
}
