#include "ApplicationGuard.h"
#include "sm/StateMachine.h"
#include "sm/States/Common.h"
#include "sm/States/StartUp.h"

#include "Files.h"
#include "LogCapture.h"

#include <gtest/gtest.h>

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <stdexcept>

using namespace TestSupport;

namespace {

// The working state builds the managers, which read the configuration: keep
// it in a data folder of the test's own.
class DataFolder : public ::testing::Environment
{
public:
  void SetUp() override { qputenv("XDG_DATA_HOME", home.path().toUtf8()); }

private:
  QTemporaryDir home;
};

const auto* const g_dataFolder = ::testing::AddGlobalTestEnvironment(new DataFolder);

void Send(StateMachine& machine, ApplicationGuard::Event event)
{
  QMetaObject::invokeMethod(&machine, "HandleApplicationEvent", Qt::DirectConnection,
                            Q_ARG(ApplicationGuard::Event, event));
}

} // namespace

TEST(ApplicationGuard, EmitsTheStartEventOnceAndOnlyThroughTheQueue)
{
  QObject owner;
  auto* guard = new ApplicationGuard(&owner);
  QSignalSpy direct(guard, &ApplicationGuard::ApplicationEvent);
  int queued = 0;
  QObject::connect(
      guard, &ApplicationGuard::ApplicationEvent, &owner,
      [&](ApplicationGuard::Event event) {
        EXPECT_EQ(event, ApplicationGuard::Start);
        ++queued;
      },
      Qt::QueuedConnection);
  guard->Run();
  guard->Run();
  EXPECT_EQ(direct.count(), 1);
  EXPECT_EQ(queued, 0) << "a queued receiver hears it from the event loop only";
  EXPECT_TRUE(QTest::qWaitFor([&] { return queued == 1; }));
  guard->Run();
  QCoreApplication::processEvents();
  EXPECT_EQ(queued, 1);
}

TEST(StateMachine, EntersCommonWhenTheLoopDeliversTheStartEventAndLeavesEveryStateOnQuit)
{
  LogCapture log;
  {
    StateMachine machine;
    EXPECT_TRUE(machine.terminated()) << "construction enters no state";
    machine.initiate();
    EXPECT_NE(machine.state_cast<const States::StartUp*>(), nullptr);
    EXPECT_EQ(machine.state_cast<const States::Common*>(), nullptr) << "the start event waits for the loop";
    EXPECT_TRUE(QTest::qWaitFor([&] { return machine.state_cast<const States::Common*>() != nullptr; }));

    QTimer::singleShot(0, &machine, [&] { Send(machine, ApplicationGuard::Quit); });
    EXPECT_EQ(QCoreApplication::exec(), 0);
    EXPECT_TRUE(machine.terminated());
    EXPECT_THROW(Send(machine, static_cast<ApplicationGuard::Event>(7)), std::logic_error);
  }
  // The state machine's own lines; the managers it starts log too.
  const QStringList expected = {
      "Entered StartUp state",        "Got StartUp event; switching to Common state",
      "Entered Common state",         "Entered NetworkOperation state",
      "Entered MapUpdateCheck state", "Left Common state"};
  QStringList messages;
  for (const std::string& message : log.Messages())
    messages += QString::fromStdString(message);
  EXPECT_EQ(messages.filter(QRegularExpression("^(Entered|Got|Left) ")), expected);
}
