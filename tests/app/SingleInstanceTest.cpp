// The guard that keeps one copy per data folder, with several guards in one
// process: a lock file held by one object is refused to another object of the
// same process as it is to another process.

#include "SingleInstance.h"

#include "Files.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QLockFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>

using namespace std::chrono_literals;
using Role = SingleInstance::Role;
using TestSupport::ScopedEnv;

namespace {

class SingleInstanceTest : public ::testing::Test
{
protected:
  QTemporaryDir root;
  // The sockets go to a runtime folder of the test's own.
  ScopedEnv runtime{"XDG_RUNTIME_DIR", root.path() + "/run"};
  const QString folder = root.path() + "/data/Arvel/Lumora";

  void SetUp() override { ASSERT_TRUE(QDir().mkpath(root.path() + "/run")); }

  QString SocketPath() const { return SingleInstance::ServerName(folder); }
};

} // namespace

// The first claim runs and listens; each later claim is handed to it and
// brings it forward, once per start; when it has gone, the next claim runs.
TEST_F(SingleInstanceTest, TheFirstClaimRunsAndEachLaterOneIsHandedToIt)
{
  {
    SingleInstance first(folder);
    ASSERT_EQ(first.Claim(5s), Role::Run);
    EXPECT_TRUE(first.Errors().empty());
    QSignalSpy activations(&first, &SingleInstance::ActivationRequested);
    for (int start = 1; start <= 2; ++start) {
      SCOPED_TRACE(start);
      SingleInstance later(folder);
      EXPECT_EQ(later.Claim(5s), Role::Handed);
      EXPECT_TRUE(later.Errors().empty());
      EXPECT_TRUE(QTest::qWaitFor([&] { return activations.count() >= start; }, 20000));
      EXPECT_EQ(activations.count(), start);
    }
    SingleInstance other(root.path() + "/other");
    EXPECT_EQ(other.Claim(5s), Role::Run) << "another data folder is another copy";
  }
  EXPECT_FALSE(QFile::exists(SingleInstance::LockPath(folder)));
  SingleInstance next(folder);
  EXPECT_EQ(next.Claim(5s), Role::Run);
  EXPECT_TRUE(next.Errors().empty());
}

// A copy that holds the lock but does not listen (it is starting, or it was
// killed and left its socket behind while a new copy is taking over) is asked
// until the patience runs out; only the lock's holder removes the socket
// name, and then listens on it.
TEST_F(SingleInstanceTest, OnlyTheLocksHolderReplacesASocketLeftBehind)
{
  ASSERT_TRUE(QDir().mkpath(folder));
  ASSERT_TRUE(TestSupport::WriteFile(SocketPath(), "left behind"));
  QLockFile holder(SingleInstance::LockPath(folder));
  ASSERT_TRUE(holder.tryLock(0));
  {
    SingleInstance later(folder);
    EXPECT_EQ(later.Claim(300ms), Role::Unanswered);
    EXPECT_TRUE(later.Errors().empty());
  }
  EXPECT_EQ(TestSupport::ReadFile(SocketPath()), "left behind");
  holder.unlock();

  SingleInstance next(folder);
  ASSERT_EQ(next.Claim(5s), Role::Run);
  EXPECT_TRUE(next.Errors().empty()) << next.Errors().front();
  QSignalSpy activations(&next, &SingleInstance::ActivationRequested);
  SingleInstance later(folder);
  EXPECT_EQ(later.Claim(5s), Role::Handed);
  EXPECT_TRUE(activations.wait(20000));
}

// Without a data folder that can hold the lock the copy still runs, and says
// why it is not guarded.
TEST_F(SingleInstanceTest, ACopyThatCannotLockRunsAndSaysWhy)
{
  ASSERT_TRUE(TestSupport::WriteFile(root.path() + "/file", "not a folder"));
  const struct
  {
    QString folder;
    std::string error;
  } rows[] = {
      {QString(), "Failed to lock the data folder: there is none; another copy may run beside this one"},
      {root.path() + "/file/Lumora", "Failed to lock " + root.path().toStdString() +
                                         "/file/Lumora/lumora.lock: it cannot be made; another copy may run "
                                         "beside this one"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.folder.toStdString());
    SingleInstance instance(row.folder);
    EXPECT_EQ(instance.Claim(5s), Role::Run);
    EXPECT_EQ(instance.Errors(), std::vector<std::string>{row.error});
  }
}
