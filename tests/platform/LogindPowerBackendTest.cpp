// The sleep watcher against a stand-in login manager on a private message bus.

#include "platform/LogindPowerBackend.h"
#include "platform/PowerChange.h"
#include "platform/SleepNotifier.h"

#include <gtest/gtest.h>

#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>
#include <QThread>

#include <fcntl.h>
#include <mutex>
#include <unistd.h>

namespace {

// The login manager's Inhibit: each lock is the write end of a pipe, held
// until every copy of it is closed.
class FakeLogind : public QObject
{
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")

public:
  struct Lock
  {
    QString what, mode;
    int readEnd;
  };

  ~FakeLogind() override
  {
    for (const Lock& lock : locks)
      ::close(lock.readEnd);
  }

  std::vector<Lock> Locks()
  {
    std::lock_guard<std::mutex> guard(mutex);
    return locks;
  }

public slots:
  QDBusUnixFileDescriptor Inhibit(const QString& what, const QString&, const QString&, const QString& mode)
  {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0)
      return QDBusUnixFileDescriptor();
    QDBusUnixFileDescriptor handed(ends[1]); // a copy of the write end
    ::close(ends[1]);
    std::lock_guard<std::mutex> guard(mutex);
    locks.push_back({what, mode, ends[0]});
    return handed;
  }

private:
  std::mutex mutex;
  std::vector<Lock> locks;
};

const IPowerBackend::Handler Ignore = [](quint32, quintptr) {};

struct PrivateBus : ::testing::Test
{
  QProcess daemon;
  QString address;
  QThread serviceThread;
  FakeLogind* logind = nullptr;

  void SetUp() override
  {
    if (QStandardPaths::findExecutable("dbus-daemon").isEmpty())
      GTEST_SKIP() << "dbus-daemon is not installed";
    daemon.start("dbus-daemon", {"--session", "--nofork", "--nopidfile", "--print-address=1"});
    ASSERT_TRUE(daemon.waitForStarted(30000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return daemon.canReadLine() || daemon.waitForReadyRead(100); }, 30000));
    address = QString::fromUtf8(daemon.readLine()).trimmed();
    ASSERT_FALSE(address.isEmpty());
  }

  void TearDown() override
  {
    if (logind) {
      QDBusConnection::disconnectFromBus("logind");
      serviceThread.quit();
      serviceThread.wait();
      delete logind;
    }
    QDBusConnection::disconnectFromBus("client");
    daemon.kill();
    daemon.waitForFinished(30000);
  }

  void Announce(bool start)
  {
    QDBusMessage signal = QDBusMessage::createSignal("/org/freedesktop/login1",
                                                     "org.freedesktop.login1.Manager", "PrepareForSleep");
    signal << start;
    ASSERT_TRUE(QDBusConnection(QStringLiteral("logind")).send(signal));
  }

  QDBusConnection Client() { return QDBusConnection::connectToBus(address, "client"); }

  size_t HeldLocks(const QString& what)
  {
    size_t held = 0;
    char byte;
    for (const auto& lock : logind->Locks())
      if (lock.what == what && ::read(lock.readEnd, &byte, 1) != 0) // 0: every copy closed
        ++held;
    return held;
  }

  // Copies of a released lock may still sit in bus messages being freed on
  // the stand-in's thread: wait for them rather than look once.
  bool AllReleased(const QString& what)
  {
    return QTest::qWaitFor([&] { return HeldLocks(what) == 0; }, 30000);
  }
};

} // namespace

TEST_F(PrivateBus, SleepAndIdleAreHeldByInhibitorLocksUntilReleased)
{
  const QDBusConnection none = QDBusConnection::connectToBus("unix:path=/nonexistent/bus", "none");
  EXPECT_FALSE(LogindPowerBackend(none).Register(Ignore)) << "no bus";
  QDBusConnection::disconnectFromBus("none");
  EXPECT_FALSE(LogindPowerBackend(Client()).Register(Ignore)) << "no login manager on the bus";
  // The stand-in login manager, answering on a thread of its own.
  QDBusConnection service = QDBusConnection::connectToBus(address, "logind");
  ASSERT_TRUE(service.isConnected());
  logind = new FakeLogind;
  logind->moveToThread(&serviceThread);
  serviceThread.start();
  ASSERT_TRUE(service.registerObject("/org/freedesktop/login1", logind, QDBusConnection::ExportAllSlots));
  ASSERT_TRUE(service.registerService("org.freedesktop.login1"));
  ASSERT_TRUE(Client().connectionCapabilities() & QDBusConnection::UnixFileDescriptorPassing);
  auto* notifier = new SleepNotifier(nullptr);
  QSignalSpy sleeps(notifier, &SleepNotifier::notifySleep);
  QSignalSpy wakes(notifier, &SleepNotifier::notifyAwake);
  size_t heldWhenTold = 99;
  QObject::connect(notifier, &SleepNotifier::notifySleep, [&] { heldWhenTold = HeldLocks("sleep"); });

  auto watcher = std::make_unique<PowerChange>(notifier, std::make_unique<LogindPowerBackend>(Client()));
  ASSERT_TRUE(watcher->ListenForSleep());
  ASSERT_EQ(logind->Locks().size(), 1u);
  EXPECT_EQ(logind->Locks()[0].mode, QStringLiteral("delay"));
  EXPECT_EQ(HeldLocks("sleep"), 1u);

  Announce(true);
  ASSERT_TRUE(sleeps.wait(30000));
  EXPECT_EQ(heldWhenTold, 1u) << "the sleep waits while the listeners are told";
  EXPECT_TRUE(AllReleased("sleep")) << "then it is let go";
  Announce(false);
  ASSERT_TRUE(wakes.wait(30000));
  EXPECT_EQ(sleeps.count(), 1);
  EXPECT_EQ(HeldLocks("sleep"), 1u) << "the next sleep is held back again";

  watcher->SetCanSleep(false);
  watcher->SetCanSleep(false);
  EXPECT_EQ(HeldLocks("idle"), 1u) << "one lock, however often it is asked";
  EXPECT_EQ(logind->Locks().back().mode, QStringLiteral("block"));
  watcher->SetCanSleep(true);
  EXPECT_TRUE(AllReleased("idle"));

  watcher->SetCanSleep(false);
  watcher.reset();
  EXPECT_TRUE(AllReleased("idle")) << "destroying the watcher releases every lock";
  EXPECT_TRUE(AllReleased("sleep"));
}

#include "LogindPowerBackendTest.moc"
