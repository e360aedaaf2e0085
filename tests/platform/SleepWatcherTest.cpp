#include "platform/PowerChange.h"
#include "platform/SleepNotifier.h"

#include "FrameTestSupport.h"
#include "Log.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QPointer>
#include <QRegularExpression>

using namespace FrameTest;

namespace {

// Plays recorded power messages to the watcher and records its answers, in
// one journal with what the listeners heard.
struct Journal
{
  QStringList entries;
  bool refuseRegistration = false;
};

class RecordingBackend : public IPowerBackend
{
public:
  explicit RecordingBackend(Journal& journal) : journal(journal) {}

  void Play(quint32 message, quintptr argument) { handler(message, argument); }

  bool Register(Handler h) override
  {
    journal.entries += "register";
    if (journal.refuseRegistration)
      return false;
    handler = std::move(h);
    return true;
  }
  bool Deregister() override
  {
    journal.entries += "deregister";
    handler = nullptr;
    return true;
  }
  void AllowPowerChange(quintptr argument) override
  {
    journal.entries += QStringLiteral("allow %1").arg(argument);
  }
  void CancelPowerChange(quintptr argument) override
  {
    journal.entries += QStringLiteral("cancel %1").arg(argument);
  }
  void SetIdleSleepAllowed(bool allowed) override
  {
    journal.entries += allowed ? QStringLiteral("idle allowed") : QStringLiteral("idle refused");
  }

  Handler handler;

private:
  Journal& journal;
};

class SleepWatcher : public ::testing::Test
{
protected:
  Journal journal;
  RecordingBackend* backend = new RecordingBackend(journal);
  SleepNotifier* notifier = new SleepNotifier(nullptr);
  std::unique_ptr<PowerChange> watcher =
      std::make_unique<PowerChange>(notifier, std::unique_ptr<IPowerBackend>(backend));

  void SetUp() override
  {
    QObject::connect(notifier, &SleepNotifier::notifySleep,
                     [this] { journal.entries += "listeners: sleep"; });
    QObject::connect(notifier, &SleepNotifier::notifyAwake,
                     [this] { journal.entries += "listeners: awake"; });
  }

  static QStringList Messages(CapturedLog& log)
  {
    QStringList messages;
    for (const QString& line : log.Lines())
      messages += line.mid(line.lastIndexOf(QLatin1String(" | ")) + 3);
    return messages;
  }
};

} // namespace

TEST_F(SleepWatcher, IdleSleepFollowsTheCanSleepFlag)
{
  ASSERT_TRUE(watcher->ListenForSleep());
  EXPECT_TRUE(watcher->CanSleep());
  CapturedLog log;
  backend->Play(IPowerBackend::CanSystemSleep, 1);
  watcher->SetCanSleep(false);
  EXPECT_FALSE(watcher->CanSleep());
  backend->Play(IPowerBackend::CanSystemSleep, 2);
  watcher->SetCanSleep(true);
  backend->Play(IPowerBackend::CanSystemSleep, 3);

  EXPECT_EQ(journal.entries,
            (QStringList{"register", "allow 1", "idle refused", "cancel 2", "idle allowed", "allow 3"}));
  EXPECT_EQ(Messages(log).filter("sleep").filter(QRegularExpression("^(Allowing|Cancelling)")),
            (QStringList{"Allowing sleep", "Cancelling sleep", "Allowing sleep"}));
}

TEST_F(SleepWatcher, FlagSetBeforeListeningIsPassedOnWhenRegistered)
{
  watcher->SetCanSleep(false);
  EXPECT_EQ(journal.entries, QStringList());
  ASSERT_TRUE(watcher->ListenForSleep());
  EXPECT_EQ(journal.entries, (QStringList{"register", "idle refused"}));
}

TEST_F(SleepWatcher, ForcedSleepIsToldToListenersThenAcknowledgedOnce)
{
  ASSERT_TRUE(watcher->ListenForSleep());
  for (const bool canSleep : {true, false}) {
    SCOPED_TRACE(canSleep);
    watcher->SetCanSleep(canSleep);
    journal.entries.clear();
    CapturedLog log;
    backend->Play(IPowerBackend::SystemWillSleep, 7);
    EXPECT_EQ(journal.entries, (QStringList{"listeners: sleep", "allow 7"}));
    const QStringList messages = Messages(log);
    EXPECT_TRUE(messages.contains("System is entering forced sleep"));
    EXPECT_EQ(messages.contains("System is entering forced sleep while installing to the device"), !canSleep);
  }
}

TEST_F(SleepWatcher, WakeIsLoggedAndToldWhenComplete)
{
  ASSERT_TRUE(watcher->ListenForSleep());
  QObject::connect(notifier, &SleepNotifier::notifyAwake, [] { LOG(Info) << "listener woke"; });
  CapturedLog log;
  backend->Play(IPowerBackend::SystemWillPowerOn, 4);
  EXPECT_EQ(journal.entries, (QStringList{"register"}));
  backend->Play(IPowerBackend::SystemHasPoweredOn, 4);
  EXPECT_EQ(journal.entries, (QStringList{"register", "listeners: awake"}));
  const QStringList messages = Messages(log);
  const int started = messages.indexOf("System has started the wake up process...");
  const int listener = messages.indexOf("listener woke");
  const int finished = messages.indexOf("System has finished waking up...");
  EXPECT_GE(started, 0);
  EXPECT_LT(started, listener);
  EXPECT_LT(listener, finished);
}

TEST_F(SleepWatcher, OtherMessagesAreOnlyLogged)
{
  ASSERT_TRUE(watcher->ListenForSleep());
  CapturedLog log;
  backend->Play(0xE0000100, 0x10);
  EXPECT_EQ(journal.entries, (QStringList{"register"}));
  EXPECT_EQ(Messages(log), (QStringList{"callback messageType: 37580966400x10"}));
}

TEST_F(SleepWatcher, RefusedRegistrationIsAnError)
{
  journal.refuseRegistration = true;
  CapturedLog log;
  EXPECT_FALSE(watcher->ListenForSleep());
  const QStringList errors = log.Matching("IORegisterForSystemPower failed");
  ASSERT_EQ(errors.size(), 1);
  EXPECT_TRUE(errors[0].contains("|   Error |"));
  watcher.reset();
  EXPECT_EQ(journal.entries, (QStringList{"register"})) << "nothing to deregister";
}

TEST_F(SleepWatcher, DestructionDeregistersAndReleasesTheNotifier)
{
  QPointer<SleepNotifier> guard(notifier);
  ASSERT_TRUE(watcher->ListenForSleep());
  watcher.reset();
  EXPECT_EQ(journal.entries, (QStringList{"register", "deregister"}));
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(guard.isNull());
}

TEST_F(SleepWatcher, StoppingByHandLeavesNothingForTheDestructor)
{
  ASSERT_TRUE(watcher->ListenForSleep());
  EXPECT_TRUE(watcher->StopListeningForSleep());
  watcher.reset();
  EXPECT_EQ(journal.entries, (QStringList{"register", "deregister"}));
}
