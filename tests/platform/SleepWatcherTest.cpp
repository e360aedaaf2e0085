#include "platform/PowerChange.h"
#include "platform/SleepNotifier.h"

#include "Files.h"
#include "LogCapture.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QPointer>

using namespace TestSupport;

namespace {

// Plays power messages to the watcher and records its answers in one journal
// with what the listeners heard.
struct RecordingBackend : IPowerBackend
{
  explicit RecordingBackend(QStringList& journal) : journal(journal) {}

  void Play(quint32 message, quintptr argument) { handler(message, argument); }

  bool Register(Handler h) override
  {
    journal += "register";
    handler = std::move(h);
    return !refuse;
  }
  bool Deregister() override
  {
    journal += "deregister";
    return true;
  }
  void AllowPowerChange(quintptr argument) override { journal += QStringLiteral("allow %1").arg(argument); }
  void CancelPowerChange(quintptr argument) override { journal += QStringLiteral("cancel %1").arg(argument); }
  void SetIdleSleepAllowed(bool allowed) override { journal += allowed ? "idle allowed" : "idle refused"; }

  bool refuse = false;

  QStringList& journal;
  Handler handler;
};

struct SleepWatcher : ::testing::Test
{
  QStringList journal;
  RecordingBackend* backend = new RecordingBackend(journal);
  SleepNotifier* notifier = new SleepNotifier(nullptr);
  std::unique_ptr<PowerChange> watcher =
      std::make_unique<PowerChange>(notifier, std::unique_ptr<IPowerBackend>(backend));

  void SetUp() override
  {
    QObject::connect(notifier, &SleepNotifier::notifySleep, [this] { journal += "listeners: sleep"; });
    QObject::connect(notifier, &SleepNotifier::notifyAwake, [this] { journal += "listeners: awake"; });
  }
};

} // namespace

// Idle sleep follows the flag, also when it was set before listening; a
// forced sleep is told to the listeners, then acknowledged once whatever the
// flag, and the wake is told when it is complete.
TEST_F(SleepWatcher, IdleSleepFollowsTheCanSleepFlagAndForcedSleepIsToldThenAcknowledged)
{
  watcher->SetCanSleep(false);
  EXPECT_TRUE(journal.isEmpty());
  ASSERT_TRUE(watcher->ListenForSleep());
  backend->Play(IPowerBackend::CanSystemSleep, 1);
  watcher->SetCanSleep(true);
  EXPECT_TRUE(watcher->CanSleep());
  backend->Play(IPowerBackend::CanSystemSleep, 2);
  EXPECT_EQ(journal, (QStringList{"register", "idle refused", "cancel 1", "idle allowed", "allow 2"}));

  for (const bool canSleep : {true, false}) {
    watcher->SetCanSleep(canSleep);
    journal.clear();
    backend->Play(IPowerBackend::SystemWillSleep, 7);
    EXPECT_EQ(journal, (QStringList{"listeners: sleep", "allow 7"})) << canSleep;
  }
  journal.clear();
  backend->Play(IPowerBackend::SystemWillPowerOn, 4);
  backend->Play(0xE0000100, 0x10);
  EXPECT_TRUE(journal.isEmpty()) << "only logged";
  backend->Play(IPowerBackend::SystemHasPoweredOn, 4);
  EXPECT_EQ(journal, (QStringList{"listeners: awake"}));
}

TEST_F(SleepWatcher, DestructionDeregistersUnlessStoppedOrNeverRegistered)
{
  QPointer<SleepNotifier> guard(notifier);
  ASSERT_TRUE(watcher->ListenForSleep());
  watcher.reset();
  EXPECT_EQ(journal, (QStringList{"register", "deregister"}));
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(guard.isNull()) << "the notifier goes with the watcher";

  for (const bool refuse : {false, true}) {
    SCOPED_TRACE(refuse);
    journal.clear();
    auto* other = new RecordingBackend(journal);
    other->refuse = refuse;
    auto second = std::make_unique<PowerChange>(nullptr, std::unique_ptr<IPowerBackend>(other));
    LogCapture log;
    EXPECT_EQ(second->ListenForSleep(), !refuse);
    if (!refuse) {
      EXPECT_TRUE(second->StopListeningForSleep());
    }
    second.reset();
    EXPECT_EQ(journal, refuse ? QStringList{"register"} : (QStringList{"register", "deregister"}));
    EXPECT_EQ(log.Mentions("IORegisterForSystemPower failed"), refuse);
  }
}
