// The guard that keeps one copy per data folder, with several guards in one
// process: a file lock held by one object is refused to another object of the
// same process as it is to another process (each opens the file anew).

#include "SingleInstance.h"

#include "Files.h"
#include "util/Descriptor.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>

#include <fcntl.h>
#include <sys/file.h>

using namespace std::chrono_literals;
using Role = SingleInstance::Role;
using TestSupport::ScopedEnv;

namespace {

class SingleInstanceTest : public ::testing::Test
{
protected:
  QTemporaryDir root;
  // The sockets and locks go to a runtime and a temporary folder of the
  // test's own.
  ScopedEnv runtime{"XDG_RUNTIME_DIR", root.path() + "/run"};
  ScopedEnv temporary{"TMPDIR", root.path() + "/tmp"};
  const QString folder = root.path() + "/data/Arvel/Lumora";

  void SetUp() override
  {
    ASSERT_TRUE(QDir().mkpath(root.path() + "/run"));
    ASSERT_TRUE(QDir().mkpath(root.path() + "/tmp"));
    ASSERT_TRUE(QDir().mkpath(folder));
  }

  QString SocketPath() const { return SingleInstance::ServerName(folder); }
  QString LockPath(int place = 0) const { return SingleInstance::LockPaths(folder).at(place); }
};

} // namespace

// The first claim runs and listens, with its lock beside the socket; each
// later claim is handed to it and brings it forward, once per start; when it
// has gone, its lock file with it (never another copy's file in its place),
// the next claim runs.
TEST_F(SingleInstanceTest, TheFirstClaimRunsAndEachLaterOneIsHandedToIt)
{
  EXPECT_EQ(QFileInfo(LockPath()).path(), root.path() + "/run");
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
  EXPECT_FALSE(QFile::exists(LockPath()));
  {
    SingleInstance next(folder);
    EXPECT_EQ(next.Claim(5s), Role::Run);
    EXPECT_TRUE(next.Errors().empty());
    // Its file removed while it runs, and made anew (by a later copy): that
    // one is not the ending copy's to remove.
    ASSERT_TRUE(QFile::remove(LockPath()) && TestSupport::WriteFile(LockPath(), ""));
  }
  EXPECT_TRUE(QFile::exists(LockPath()));
}

// A copy that holds the lock but does not listen (it is starting, or it was
// killed and left its socket behind while a new copy is taking over) is asked
// until the patience runs out; only the lock's holder removes the socket
// name, and then listens on it.
TEST_F(SingleInstanceTest, OnlyTheLocksHolderReplacesASocketLeftBehind)
{
  ASSERT_TRUE(TestSupport::WriteFile(SocketPath(), "left behind"));
  Descriptor holder(::open(QFile::encodeName(LockPath()).constData(), O_RDWR | O_CREAT, 0600));
  ASSERT_EQ(::flock(holder.Get(), LOCK_EX | LOCK_NB), 0);
  {
    SingleInstance later(folder);
    EXPECT_EQ(later.Claim(300ms), Role::Unanswered);
    EXPECT_TRUE(later.Errors().empty());
  }
  EXPECT_EQ(TestSupport::ReadFile(SocketPath()), "left behind");
  holder.Reset();

  SingleInstance next(folder);
  ASSERT_EQ(next.Claim(5s), Role::Run);
  EXPECT_TRUE(next.Errors().empty()) << next.Errors().front();
  QSignalSpy activations(&next, &SingleInstance::ActivationRequested);
  SingleInstance later(folder);
  EXPECT_EQ(later.Claim(5s), Role::Handed);
  EXPECT_TRUE(activations.wait(20000));
}

// A lock that cannot be held beside the socket is held in the temporary
// folder, where the next copy finds it. A copy that can hold it nowhere still
// asks for a running copy and listens, says why, and is found by a later copy
// that does hold the lock, which hands over instead of replacing it.
TEST_F(SingleInstanceTest, ACopyThatCannotLockWhereItFirstTriesLetsNoSecondCopyRunBesideIt)
{
  // A folder where the lock file would be.
  ASSERT_TRUE(QDir().mkpath(LockPath(0)));
  {
    SingleInstance first(folder);
    ASSERT_EQ(first.Claim(5s), Role::Run);
    EXPECT_EQ(first.Errors(),
              std::vector<std::string>{"Failed to lock " + LockPath(0).toStdString() + ": Is a directory"});
    SingleInstance later(folder);
    EXPECT_EQ(later.Claim(5s), Role::Handed);
  }
  ASSERT_TRUE(QDir().mkpath(LockPath(1)));
  SingleInstance unlocked(folder);
  ASSERT_EQ(unlocked.Claim(5s), Role::Run);
  EXPECT_EQ(unlocked.Errors(), (std::vector<std::string>{
                                   "Failed to lock " + LockPath(0).toStdString() + ": Is a directory",
                                   "Failed to lock " + LockPath(1).toStdString() + ": Is a directory",
                                   "No lock could be held; a copy started at the same moment may run beside "
                                   "this one"}));
  QSignalSpy activations(&unlocked, &SingleInstance::ActivationRequested);
  for (const bool lockable : {false, true}) {
    SCOPED_TRACE(lockable ? "the lock can be held again" : "no lock");
    if (lockable) {
      ASSERT_TRUE(QDir(LockPath(0)).removeRecursively());
    }
    SingleInstance later(folder);
    EXPECT_EQ(later.Claim(5s), Role::Handed);
    EXPECT_TRUE(QTest::qWaitFor([&] { return activations.count() == 1 + lockable; }, 20000));
  }
  EXPECT_FALSE(QFile::exists(LockPath(0))) << "the copy that handed over let go of its lock";
}

// Without a data folder the copy still runs, and says why it is not guarded.
TEST_F(SingleInstanceTest, ACopyWithoutADataFolderRunsAndSaysWhy)
{
  SingleInstance instance{QString()};
  EXPECT_EQ(instance.Claim(5s), Role::Run);
  EXPECT_EQ(instance.Errors(),
            std::vector<std::string>{
                "Failed to lock the data folder: there is none; another copy may run beside this one"});
}
