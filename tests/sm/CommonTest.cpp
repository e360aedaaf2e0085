// The working state Common: its parts and threads, the commands, the choice
// of the active stick, and what it does with reports that no source should
// produce.

#include "MachineHarness.h"

#include "ApplicationGuard.h"
#include "fmu/MapStorage.h"
#include "sm/States/CancelDownload.h"
#include "sm/States/Common.h"
#include "sm/States/MapDownload.h"
#include "sm/States/MapUpdateCheck.h"
#include "sm/States/MetadataCorrupt.h"
#include "sm/States/OptionalUpdate.h"
#include "sm/States/RootUpdate.h"
#include "sm/States/ServerError.h"
#include "sm/States/StartUp.h"
#include "usb/UsbStorage.h"

#include <gtest/gtest.h>

#include <QTest>

using Strings = std::vector<std::string>;

namespace {

void SendApplicationEvent(StateMachine& machine, ApplicationGuard::Event event)
{
  QMetaObject::invokeMethod(&machine, "HandleApplicationEvent", Qt::DirectConnection,
                            Q_ARG(ApplicationGuard::Event, event));
}

} // namespace

TEST(Common, EndingTheMachineDeletesEachManagerOnItsThreadAndTheInterfaceLast)
{
  MachineHarness harness;
  harness.Start();
  ASSERT_NE(harness.UsbThread(), QThread::currentThread());
  ASSERT_NE(harness.ManagerThread(), QThread::currentThread());
  ASSERT_NE(harness.UsbThread(), harness.ManagerThread());

  // Commands queued just before the end still run before the manager goes.
  emit harness.Ui().UpdateLocale();
  emit harness.Ui().UpdateLocale();
  harness.Stop();
  EXPECT_EQ(harness.Commands(), (Strings{"CheckMapUpdates", "UpdateLocale", "UpdateLocale"}));
  for (const auto& command : harness.Journal().Commands())
    EXPECT_EQ(command.thread, harness.ManagerThread());

  const auto deletions = harness.Deletions();
  ASSERT_EQ(deletions.size(), 3u);
  EXPECT_EQ(deletions.back().what, "ui");
  EXPECT_EQ(deletions.back().thread, QThread::currentThread());
  for (const auto& deletion : deletions) {
    if (deletion.what == "usb manager") {
      EXPECT_EQ(deletion.thread, harness.UsbThread());
    } else if (deletion.what == "update manager") {
      EXPECT_EQ(deletion.thread, harness.ManagerThread());
    }
  }
}

TEST(Common, ActivateLocaleAndQuitReachItFromEveryStateThatLeavesThemAlone)
{
  {
    // Before the start event nothing but StartUp listens.
    StateMachine early;
    early.initiate();
    SendApplicationEvent(early, ApplicationGuard::Activate);
    EXPECT_NE(early.state_cast<const States::StartUp*>(), nullptr);
  }
  MachineHarness harness;
  harness.Start();

  harness.Root(MetadataChecker::Ok);
  SendApplicationEvent(harness.Machine(), ApplicationGuard::Activate);
  emit harness.Ui().UpdateLocale();
  EXPECT_TRUE(harness.In<States::RootUpdate>());
  EXPECT_EQ(harness.Ui().Calls(), (Strings{"SetState(MapUpdateCheck)", "SetState(RootUpdate)", "Activate"}));
  ASSERT_TRUE(harness.WaitForCommands(2));
  EXPECT_EQ(harness.Commands().back(), "UpdateLocale");

  // The user's confirmation quits without the quit event.
  EXPECT_EQ(QuitCodeOf([&] { emit harness.Ui().ForcedQuit(); }), 0);
  harness.Stop();
  const Strings messages = harness.Messages();
  EXPECT_TRUE(Contains(messages, "Got Activate event"));
  EXPECT_TRUE(Contains(messages, "Got LocaleUpdate event: updating map name"));
  EXPECT_FALSE(Contains(messages, "Got Quit event: quitting application"));
  EXPECT_EQ(std::count(messages.begin(), messages.end(), "Entered Common state"), 1);
}

TEST(Common, TheFirstSuccessfulRootCheckStartsTheStickDiscovery)
{
  MachineHarness harness;
  harness.Start();
  harness.Root(MetadataChecker::NoConnection);
  emit harness.Ui().Retry();
  harness.Root(MetadataChecker::Ok);
  emit harness.Ui().UpdateLocale();
  harness.Root(MetadataChecker::Ok);
  EXPECT_TRUE(harness.In<States::RootUpdate>());
  harness.Stop();
  const Strings messages = harness.AllMessages();
  const auto started = std::find(messages.begin(), messages.end(), "Starting USB discovery");
  ASSERT_NE(started, messages.end());
  EXPECT_TRUE(std::find(messages.begin(), started, "Got RootUpdate event: switching to RootUpdate state") !=
              started)
      << "no stick before the service answered";
  EXPECT_EQ(std::count(messages.begin(), messages.end(), "Starting USB discovery"), 1);
  EXPECT_EQ(std::count(messages.begin(), messages.end(), "USB discovery is already in progress"), 1);
  EXPECT_EQ(std::count(messages.begin(), messages.end(), "Got RootUpdate event: updating ui state"), 1);
}

TEST(Common, ChoosesTheActiveStickWhenAStickIsChecked)
{
  struct Case
  {
    std::string name;
    UsbInfo::State active; // the stick active before; NoMetadata with id 0 below means none
    bool noActive;
    UsbInfo::State added;
    MapInfo::State mapInWork; // Unknown: none
    bool becomesActive;
  };
  const std::vector<Case> cases = {
      {"first stick", UsbInfo::NoMetadata, true, UsbInfo::NoMetadata, MapInfo::Unknown, true},
      {"valid replaces none", UsbInfo::NoMetadata, false, UsbInfo::ValidMetadata, MapInfo::Unknown, true},
      {"invalid replaces none", UsbInfo::NoMetadata, false, UsbInfo::InvalidMetadata, MapInfo::Unknown, true},
      {"not while pending", UsbInfo::NoMetadata, false, UsbInfo::ValidMetadata, MapInfo::Pending, false},
      {"not while downloading", UsbInfo::NoMetadata, false, UsbInfo::ValidMetadata, MapInfo::Downloading,
       false},
      {"not while deleting", UsbInfo::NoMetadata, false, UsbInfo::ValidMetadata, MapInfo::Deleting, false},
      {"none never replaces", UsbInfo::ValidMetadata, false, UsbInfo::NoMetadata, MapInfo::Unknown, false},
      {"valid keeps invalid", UsbInfo::InvalidMetadata, false, UsbInfo::ValidMetadata, MapInfo::Unknown,
       false}};
  for (const Case& c : cases) {
    MachineHarness harness;
    if (!c.noActive)
      MachineHarness::StoreActive(1, c.active);
    if (c.mapInWork != MapInfo::Unknown)
      MachineHarness::StoreMap("EUR", MapInfo::Optional, c.mapInWork);
    harness.Start();
    harness.Root(MetadataChecker::ServerError); // a state that drops the stick's event
    harness.StickChecked(MachineHarness::Stick(2, c.added, "/media/new"));
    EXPECT_EQ(UsbStorage::Get().GetActiveUsb().id, c.becomesActive ? 2u : 1u) << c.name;
    EXPECT_EQ(UsbStorage::Get().GetUsb(2).state, c.added) << c.name;
    EXPECT_EQ(harness.Ui().Calls().back(), "UpdateUsbs") << c.name;
  }
}

TEST(Common, ARemovedActiveStickHandsOverToTheBestStickLeft)
{
  MachineHarness harness;
  harness.Start();
  harness.Root(MetadataChecker::ServerError);
  for (const auto& [id, state] : {std::pair{1u, UsbInfo::ValidMetadata},
                                  {2u, UsbInfo::NoMetadata},
                                  {3u, UsbInfo::InvalidMetadata},
                                  {4u, UsbInfo::NoMetadata}})
    harness.StickChecked(MachineHarness::Stick(id, state));
  ASSERT_EQ(UsbStorage::Get().GetActiveUsb().id, 1u);

  harness.Ui().Clear();
  harness.StickRemoved(99); // gone before its check stored it
  harness.StickRemoved(2);  // not the active stick
  EXPECT_EQ(harness.Ui().Calls(), (Strings{"UpdateUsbs", "UpdateUsbs"}));
  EXPECT_EQ(UsbStorage::Get().GetActiveUsb().id, 1u);
  EXPECT_TRUE(harness.In<States::ServerError>()) << "no event for a stick that was not active";

  harness.StickRemoved(1);
  EXPECT_EQ(UsbStorage::Get().GetActiveUsb().id, 3u) << "invalid metadata before none";
  EXPECT_EQ(harness.Ui().Calls(),
            (Strings{"UpdateUsbs", "UpdateUsbs", "UpdateUsbs", "SetState(MapUpdateCheck)"}));
  harness.Related(MetadataChecker::InvalidMetadata);
  EXPECT_TRUE(harness.In<States::MetadataCorrupt>());

  harness.Ui().Clear();
  harness.StickRemoved(3);
  EXPECT_EQ(UsbStorage::Get().GetActiveUsb().id, 4u) << "a stick without metadata when no other is left";
  EXPECT_EQ(harness.Ui().Calls(), (Strings{"UpdateUsbs", "SetState(MapUpdateCheck)"}));
  harness.Root(MetadataChecker::ServerError);

  harness.Ui().Clear();
  harness.StickRemoved(4);
  EXPECT_FALSE(UsbStorage::Get().GetActiveUsb().Valid()) << "the last stick is gone";
  EXPECT_EQ(harness.Ui().Calls(), (Strings{"UpdateUsbs", "SetState(MapUpdateCheck)"}))
      << "and its removal is still an event";
}

TEST(Common, AnOperationStartIsReadFromTheMapStore)
{
  MachineHarness harness;
  MachineHarness::StoreActive(1, UsbInfo::ValidMetadata);
  MachineHarness::StoreMap("INSTALLED", MapInfo::Installed, MapInfo::Available);
  MachineHarness::StoreMap("EUR", MapInfo::Optional, MapInfo::Available);
  harness.Start();
  harness.Related(MetadataChecker::Ok);
  emit harness.Ui().DownloadMap("EUR");
  harness.Ui().Clear();
  harness.OperationStarted(); // nothing downloading or deleting yet
  EXPECT_TRUE(harness.Ui().Calls().empty());
  MachineHarness::StoreMap("EUR", MapInfo::Optional, MapInfo::Downloading);
  MachineHarness::StoreMap("OLD", MapInfo::Optional, MapInfo::Deleting);
  harness.OperationStarted();
  EXPECT_EQ(harness.Ui().Calls(), Strings{"SetState(MapDownload)"}) << "the deletion is not this state's";
  emit harness.Ui().CancelDownload();
  harness.OperationStarted();
  EXPECT_EQ(harness.Ui().Calls(), (Strings{"SetState(MapDownload)", "SetState(CancelDownload)"}));
  harness.Stop();
  EXPECT_EQ(harness.Messages().back(), "Got MapDeletionStarted event");
}

TEST(Common, AReportNoSourceShouldProduceEndsTheApplicationInOrderWithExitCodeOne)
{
  struct Case
  {
    std::function<void(MachineHarness&)> report;
    std::string error;
  };
  const std::vector<Case> cases = {
      {[](MachineHarness& h) { h.Root(MetadataChecker::NoSubscription); },
       "Failed to check root updates: result is not supported"},
      {[](MachineHarness& h) { h.Related(static_cast<MetadataChecker::Result>(8)); },
       "Failed to check related updates: result is not supported"},
      {[](MachineHarness& h) { h.Related(MetadataChecker::Ok); },
       "Failed to check related updates: no valid map found"}};
  for (const Case& c : cases) {
    MachineHarness harness;
    harness.Start();
    EXPECT_EQ(QuitCodeOf([&] { c.report(harness); }), 1) << c.error;
    EXPECT_TRUE(harness.In<States::MapUpdateCheck>()) << "no event was delivered: " << c.error;
    EXPECT_EQ(harness.Ui().Calls(), Strings{"SetState(MapUpdateCheck)"});
    harness.Stop();
    EXPECT_TRUE(Contains(harness.Messages(), "Caught unhandled error: " + c.error));
  }
}
