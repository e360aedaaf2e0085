#include "Log.h"
#include "FileLogger.h"
#include "Logger.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QTemporaryDir>
#include <QTest>

#include <boost/filesystem.hpp>
#include <boost/log/core/core.hpp>

#include <fstream>
#include <regex>
#include <sstream>

namespace fs = boost::filesystem;

namespace {

std::vector<fs::path> LogFiles(const fs::path& folder)
{
  std::vector<fs::path> files;
  if (fs::exists(folder))
    for (const auto& entry : fs::directory_iterator(folder))
      files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  return files;
}

std::string ReadAll(const fs::path& file)
{
  std::ifstream in(file.string(), std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> Lines(const fs::path& folder)
{
  std::vector<std::string> lines;
  for (const auto& file : LogFiles(folder)) {
    std::istringstream in(ReadAll(file));
    for (std::string line; std::getline(in, line);)
      lines.push_back(line);
  }
  return lines;
}

struct LogFolder
{
  QTemporaryDir dir;
  fs::path path() const { return fs::path(dir.path().toStdString()) / "Logs"; }
};

int Evaluated(int& counter)
{
  return ++counter;
}

} // namespace

// Must stay the first test: the logger's construction switches logging off.
TEST(Logger, NothingIsComposedBeforeASinkExists)
{
  int evaluations = 0;
  LOG(Error) << "never " << Evaluated(evaluations);
  EXPECT_FALSE(boost::log::core::get()->get_logging_enabled());
  LOG(Debug) << Evaluated(evaluations);
  EXPECT_EQ(evaluations, 0);
}

TEST(Logger, RecordLineLayout)
{
  LogFolder folder;
  auto logger = Log::CreateFileLogger(folder.path());
  const int line = __LINE__ + 1;
  LOG(Warning) << "Failed to get space info of path: " << fs::path("/a \"b\"") << ", " << QString("späce");
  [] { LOG(Info) << "inside"; }();
  LOG_WITH_CHANNEL("TeslClient", Log::Debug) << "client";
  logger.reset();

  const auto lines = Lines(folder.path());
  ASSERT_EQ(lines.size(), 3u);
  const std::string stamp = R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{6})";
  const std::string file = std::string(25 - std::strlen("LoggerTest.cpp"), ' ') + "LoggerTest.cpp";
  const std::string lineText = std::to_string(line);
  const std::string expectedFirst = " | Warning |             ZEV | " + file + ":" +
                                    std::string(5 - lineText.size(), ' ') + lineText + " | " +
                                    std::string(40 - 8, ' ') + "TestBody" +
                                    " | Failed to get space info of path: \"/a &\"b&\"\", späce";
  EXPECT_TRUE(std::regex_match(lines[0].substr(0, 26), std::regex(stamp))) << lines[0];
  EXPECT_EQ(lines[0].substr(26), expectedFirst);
  EXPECT_NE(lines[1].find("|    Info |             ZEV |"), std::string::npos) << lines[1];
  EXPECT_NE(lines[1].find(std::string(30, ' ') + "operator() | inside"), std::string::npos) << lines[1];
  EXPECT_NE(lines[2].find("|   Debug |      TeslClient |"), std::string::npos) << lines[2];
}

TEST(Logger, LongValuesAreNeverCut)
{
  LogFolder folder;
  auto logger = Log::CreateFileLogger(folder.path());
  LOG_WITH_CHANNEL("AChannelLongerThan15", Log::Info) << "x";
  logger.reset();
  const auto lines = Lines(folder.path());
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("|    Info | AChannelLongerThan15 | "), std::string::npos) << lines[0];
}

TEST(Logger, MinimumLevelFiltersBeforeComposing)
{
  LogFolder folder;
  auto logger = Log::CreateFileLogger(folder.path());
  logger->SetMinimumLevel(Log::Info);
  int evaluations = 0;
  LOG(Debug) << "hidden " << Evaluated(evaluations);
  LOG(Info) << "shown " << Evaluated(evaluations);
  LOG(Error) << "shown too";
  logger->SetMinimumLevel(Log::Warning);
  LOG(Info) << "hidden again";
  logger.reset();
  LOG(Error) << "after the sink is gone " << Evaluated(evaluations);

  EXPECT_EQ(evaluations, 1);
  const auto lines = Lines(folder.path());
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].find("| shown 1"), std::string::npos);
  EXPECT_NE(lines[1].find("| shown too"), std::string::npos);
}

TEST(Logger, NoFileBeforeTheFirstRecordAndNameFromLocalTime)
{
  LogFolder folder;
  auto logger = Log::CreateFileLogger(folder.path());
  EXPECT_TRUE(fs::is_directory(folder.path()));
  EXPECT_TRUE(LogFiles(folder.path()).empty());
  const auto before = QDateTime::currentDateTime().addSecs(-1);
  LOG(Info) << "first";
  logger.reset();
  const auto after = QDateTime::currentDateTime().addSecs(1);
  const auto files = LogFiles(folder.path());
  ASSERT_EQ(files.size(), 1u);
  const auto opened =
    QDateTime::fromString(QString::fromStdString(files[0].filename().string()), "yyyy-MM-dd-HHmmss'.log'");
  ASSERT_TRUE(opened.isValid()) << files[0];
  EXPECT_LE(before, opened);
  EXPECT_LE(opened, after);
}

TEST(Logger, BurstIsCompleteAfterDeletion)
{
  LogFolder folder;
  auto logger = Log::CreateFileLogger(folder.path());
  for (int i = 0; i < 5000; ++i)
    LOG(Debug) << "record " << i;
  logger.reset();
  const auto lines = Lines(folder.path());
  ASSERT_EQ(lines.size(), 5000u);
  EXPECT_NE(lines.back().find("| record 4999"), std::string::npos);
}

TEST(Logger, TwoFilesOfTheSameSecondKeepBothRecords)
{
  LogFolder folder;
  // Two runs that open their file within the same second: whichever second
  // they land in, no record of the first may be lost.
  for (int run = 0; run < 2; ++run) {
    auto logger = Log::CreateFileLogger(folder.path());
    LOG(Info) << "run " << run;
  }
  const auto lines = Lines(folder.path());
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].find("| run 0"), std::string::npos);
  EXPECT_NE(lines[1].find("| run 1"), std::string::npos);
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
  const auto first = ReadAll(files[0]);
  const auto second = ReadAll(files[1]);
  EXPECT_LT(first.size(), Log::FileLogger::RotationSize);
  EXPECT_EQ(std::count(first.begin(), first.end(), '\n'), 1);
  EXPECT_EQ(std::count(second.begin(), second.end(), '\n'), 1);
  EXPECT_NE(second.find(huge + "\n"), std::string::npos);
}

TEST(Severity, TextForms)
{
  std::ostringstream out;
  out << Log::Error << "," << static_cast<Log::Severity>(4) << ",";
  out << std::setw(7) << Log::Warning << "," << std::setw(7) << Log::Info;
  EXPECT_EQ(out.str(), "Error,,Warning,   Info");

  auto read = [](const std::string& text, Log::Severity start) {
    std::istringstream in(text);
    in >> start;
    return std::make_pair(start, in.fail());
  };
  EXPECT_EQ(read("Error", Log::Debug).first, Log::Error);
  EXPECT_EQ(read("   Info", Log::Debug).first, Log::Info);
  EXPECT_EQ(read("error", Log::Warning).first, Log::Warning);
  EXPECT_EQ(read("ERROR", Log::Warning).first, Log::Warning);
  EXPECT_EQ(read("Trace", Log::Warning), std::make_pair(Log::Warning, false));
  EXPECT_EQ(read("", Log::Warning), std::make_pair(Log::Warning, true));
}

TEST(RemoveLambdas, ShortensEveryLambdaPart)
{
  EXPECT_EQ(removeLambdas("A::<lambda_x>::operator ()::<lambda_y>::operator ()"), "A::<lambda>::<lambda>");
  EXPECT_EQ(removeLambdas("A::<lambda_x>::operator()"), "A::<lambda_x>::operator()");
  EXPECT_EQ(removeLambdas("operator()"), "operator()");
  EXPECT_EQ(removeLambdas("HasFreeSpace"), "HasFreeSpace");
}
