#include "Logger.h"
#include "FileLogger.h"
#include "Log.h"

#include "Files.h"
#include "LogCapture.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QTest>

#include <boost/filesystem.hpp>
#include <boost/log/core/core.hpp>

#include <regex>

namespace fs = boost::filesystem;

namespace {

std::vector<fs::path> LogFiles(const fs::path& folder)
{
  std::vector<fs::path> files(fs::directory_iterator(folder), {});
  std::sort(files.begin(), files.end());
  return files;
}

// The log folder of a test; Lines() reads every file in it, in name order.
struct LogFolder
{
  QTemporaryDir dir;
  fs::path path() const { return fs::path(dir.path().toStdString()) / "Logs"; }
  std::vector<std::string> Lines() const { return LogCapture::LinesIn(path().string()); }
};

} // namespace

// Must stay the first test: the logger's construction switches logging off.
TEST(Logger, NothingIsComposedBeforeASinkExists)
{
  int evaluations = 0;
  const auto Evaluated = [&evaluations] { return ++evaluations; };
  LOG(Error) << "never " << Evaluated();
  EXPECT_FALSE(boost::log::core::get()->get_logging_enabled());
  LOG(Debug) << Evaluated();
  EXPECT_EQ(evaluations, 0);
}

TEST(Logger, RecordLineLayoutPadsButNeverCutsAndShortensLambdas)
{
  LogFolder folder;
  auto logger = Log::CreateFileLogger(folder.path());
  const int line = __LINE__ + 1;
  LOG(Warning) << "Failed to get space info of path: " << fs::path("/a \"b\"") << ", " << QString("späce");
  [] { LOG(Info) << "inside"; }();
  LOG_WITH_CHANNEL("TeslClient", Log::Debug) << "client";
  LOG_WITH_CHANNEL("AChannelLongerThan15", Log::Error) << "x";
  logger.reset();

  const auto lines = folder.Lines();
  ASSERT_EQ(lines.size(), 4u);
  const std::string lineText = std::to_string(line);
  EXPECT_TRUE(
      std::regex_match(lines[0].substr(0, 26), std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{6})")))
      << lines[0];
  EXPECT_EQ(lines[0].substr(26), " | Warning |             ZEV |            LoggerTest.cpp:" +
                                     std::string(5 - lineText.size(), ' ') + lineText + " | " +
                                     std::string(32, ' ') +
                                     "TestBody | Failed to get space info of path: \"/a &\"b&\"\", späce");
  EXPECT_NE(lines[1].find("|    Info |             ZEV |"), std::string::npos) << lines[1];
  EXPECT_NE(lines[1].find(std::string(30, ' ') + "operator() | inside"), std::string::npos) << lines[1];
  EXPECT_NE(lines[2].find("|   Debug |      TeslClient |"), std::string::npos) << lines[2];
  EXPECT_NE(lines[3].find("|   Error | AChannelLongerThan15 | "), std::string::npos) << lines[3];

  // A severity out of range prints nothing; lambdas in function names are shortened.
  std::ostringstream out;
  out << static_cast<Log::Severity>(4) << static_cast<Log::Severity>(-1);
  EXPECT_EQ(out.str(), "");
  EXPECT_EQ(removeLambdas("A::<lambda_x>::operator ()::<lambda_y>::operator ()"), "A::<lambda>::<lambda>");
  EXPECT_EQ(removeLambdas("A::<lambda_x>::operator()"), "A::<lambda_x>::operator()");
}

TEST(Logger, MinimumLevelFiltersBeforeComposing)
{
  LogFolder folder;
  auto logger = Log::CreateFileLogger(folder.path());
  logger->SetMinimumLevel(Log::Info);
  int evaluations = 0;
  const auto Evaluated = [&evaluations] { return ++evaluations; };
  LOG(Debug) << "hidden " << Evaluated();
  LOG(Info) << "shown " << Evaluated();
  logger->SetMinimumLevel(Log::Warning);
  LOG(Info) << "hidden again";
  logger.reset();
  LOG(Error) << "after the sink is gone " << Evaluated();

  EXPECT_EQ(evaluations, 1);
  const auto lines = folder.Lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("| shown 1"), std::string::npos);
}

TEST(Logger, FileOpensAtTheFirstRecordNamedAfterLocalTimeAndNoRecordIsLost)
{
  LogFolder folder;
  auto logger = Log::CreateFileLogger(folder.path());
  EXPECT_TRUE(LogFiles(folder.path()).empty());
  for (int i = 0; i < 5000; ++i)
    LOG(Debug) << "record " << i;
  logger.reset();
  const auto files = LogFiles(folder.path());
  ASSERT_EQ(files.size(), 1u);
  EXPECT_TRUE(
      QDateTime::fromString(QString::fromStdString(files[0].filename().string()), "yyyy-MM-dd-HHmmss'.log'")
          .isValid())
      << files[0];

  // A second run whose file may open within the same second loses no record of the first.
  logger = Log::CreateFileLogger(folder.path());
  LOG(Info) << "second run";
  logger.reset();
  const auto lines = folder.Lines();
  ASSERT_EQ(lines.size(), 5001u);
  EXPECT_NE(lines[4999].find("| record 4999"), std::string::npos);
  EXPECT_NE(lines[5000].find("| second run"), std::string::npos);
}

TEST(Logger, RotatesBeforeTheLimitAndNeverSplitsARecord)
{
  LogFolder folder;
  auto logger = Log::CreateFileLogger(folder.path());
  const std::string big(20 * 1024 * 1024, 'x');
  LOG(Info) << big;
  // The next file is named after the second in which it is opened; let the
  // clock move on so that the two names differ.
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        const auto files = LogFiles(folder.path());
        return files.size() == 1 && fs::file_size(files[0]) > big.size();
      },
      60000));
  const auto firstSecond = QDateTime::currentSecsSinceEpoch();
  ASSERT_TRUE(QTest::qWaitFor([&] { return QDateTime::currentSecsSinceEpoch() > firstSecond; }, 5000));
  const std::string huge(Log::FileLogger::RotationSize + 1000, 'y');
  LOG(Info) << huge;
  logger.reset();

  const auto files = LogFiles(folder.path());
  ASSERT_EQ(files.size(), 2u);
  const auto first = TestSupport::ReadFile(QString::fromStdString(files[0].string())).toStdString();
  const auto second = TestSupport::ReadFile(QString::fromStdString(files[1].string())).toStdString();
  EXPECT_LT(first.size(), Log::FileLogger::RotationSize);
  EXPECT_EQ(std::count(first.begin(), first.end(), '\n'), 1);
  EXPECT_EQ(std::count(second.begin(), second.end(), '\n'), 1);
  EXPECT_NE(second.find(huge + "\n"), std::string::npos);
}
