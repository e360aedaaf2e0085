#include "platform/Platform.h"

#include "FrameTestSupport.h"

#include <gtest/gtest.h>

#include <QFileInfo>
#include <QStorageInfo>
#include <QTemporaryDir>

using namespace FrameTest;

TEST(GetFreeDiskSpace, AgreesWithTheVolumeAndFailsOnMissingPaths)
{
  QTemporaryDir dir;
  const qint64 free = GetFreeDiskSpace(dir.path());
  const qint64 reference = QStorageInfo(dir.path()).bytesAvailable();
  EXPECT_GT(free, 0);
  // Other processes write meanwhile; the two figures stay close.
  EXPECT_LT(std::llabs(free - reference), 64LL * 1024 * 1024);
  EXPECT_EQ(GetFreeDiskSpace(dir.filePath("missing")), -1);
  EXPECT_EQ(GetFreeDiskSpace(QString()), -1);
}

TEST(FileTimes, MissingOrEmptyPathsGiveNoDate)
{
  QTemporaryDir dir;
  CapturedLog log;
  EXPECT_FALSE(GetTime(QString(), false).isValid());
  EXPECT_FALSE(GetTime(dir.filePath("missing"), true).isValid());
  EXPECT_FALSE(SetTime(dir.filePath("missing"), QDateTime::currentDateTime(), false));
  EXPECT_FALSE(SetTime(QString(), QDateTime::currentDateTime(), false));
  EXPECT_EQ(log.Matching(QStringLiteral("Setting time attribute")).size(), 2);
}

TEST(FileTimes, DateOfAFileAndAFolder)
{
  QTemporaryDir dir;
  ASSERT_TRUE(WriteFile(dir.filePath("file"), "x"));
  const QDateTime date(QDate(2021, 3, 4), QTime(5, 6, 7));
  for (const QString& path : {dir.filePath("file"), dir.path()}) {
    SCOPED_TRACE(path.toStdString());
    EXPECT_TRUE(GetTime(path, false).isValid());
    EXPECT_TRUE(SetTime(path, date, false));
    const QFileInfo info(path);
    if (info.birthTime().isValid())
      EXPECT_EQ(GetTime(path, false), info.birthTime()); // the system keeps it; it cannot be set
    else
      EXPECT_EQ(GetTime(path, false), date);
  }
}
