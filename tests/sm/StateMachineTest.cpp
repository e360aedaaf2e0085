// The state machine's transitions, driven by the reports a test gives in
// place of the update manager, by the USB manager's signals and by the
// recording user interface, and checked by the user interface calls, the
// commands to the update manager and the machine's log.

#include "MachineHarness.h"

#include "fmu/MapStorage.h"
#include "sm/States/CancelDownload.h"
#include "sm/States/MandatoryUpdate.h"
#include "sm/States/MapDownload.h"
#include "sm/States/MapUpdateCheck.h"
#include "sm/States/MetadataCorrupt.h"
#include "sm/States/NoConnection.h"
#include "sm/States/NoSubscription.h"
#include "sm/States/OptionalUpdate.h"
#include "sm/States/PendingUpdate.h"
#include "sm/States/RootUpdate.h"
#include "sm/States/ServerError.h"
#include "sm/States/SubscriptionExpired.h"
#include "sm/States/UpToDate.h"
#include "sm/States/UsbBlocked.h"
#include "sm/States/UsbCheck.h"
#include "sm/States/UsbFull.h"
#include "sm/States/UsbTooSmall.h"
#include "usb/UsbStorage.h"

#include <gtest/gtest.h>

#include <QThread>

using Strings = std::vector<std::string>;

namespace {

const UsbInfo::Id StickA = 11;
const UsbInfo::Id StickB = 22;
const UsbInfo::Id StickC = 33;

// The id under which a map of each type is stored.
std::string MapId(MapInfo::Type type)
{
  switch (type) {
  case MapInfo::Installed:
    return "INSTALLED";
  case MapInfo::Optional:
    return "EUR";
  default:
    return "MANDATORY";
  }
}

// Stick A active with valid metadata and an available map of each of the
// types stored; the machine started and its related check ended with
// `result`.
void Checked(MachineHarness& harness, MetadataChecker::Result result,
             const std::vector<MapInfo::Type>& maps = {MapInfo::Installed})
{
  MachineHarness::StoreActive(StickA, UsbInfo::ValidMetadata);
  for (const MapInfo::Type type : maps)
    MachineHarness::StoreMap(MapId(type), type, MapInfo::Available);
  harness.Start();
  harness.Related(result);
}

// The related check found an installed and an optional map: OptionalUpdate.
void ToOptionalUpdate(MachineHarness& harness)
{
  Checked(harness, MetadataChecker::Ok, {MapInfo::Installed, MapInfo::Optional});
  ASSERT_TRUE(harness.In<States::OptionalUpdate>());
}

// From OptionalUpdate, the download of map EUR, reported started.
void ToMapDownload(MachineHarness& harness)
{
  ASSERT_NO_FATAL_FAILURE(ToOptionalUpdate(harness));
  emit harness.Ui().DownloadMap("EUR");
  ASSERT_TRUE(harness.In<States::MapDownload>());
  MachineHarness::StoreMap("EUR", MapInfo::Optional, MapInfo::Downloading);
  harness.OperationStarted();
}

// The calls and messages from now on.
void Forget(MachineHarness& harness)
{
  harness.Ui().Clear();
}

} // namespace

TEST(StateMachine, StartsWithTheMapCheckOnTheManagersThread)
{
  MachineHarness harness;
  harness.Start();
  EXPECT_EQ(harness.Ui().Calls(), Strings{"SetState(MapUpdateCheck)"});
  const auto commands = harness.Journal().Commands();
  ASSERT_EQ(commands.size(), 1u);
  EXPECT_EQ(commands[0].text, "CheckMapUpdates");
  EXPECT_NE(commands[0].thread, QThread::currentThread());
  harness.Root(MetadataChecker::Ok);
  EXPECT_TRUE(harness.In<States::RootUpdate>());
  harness.Stop();
  const Strings expected = {
      "Entered StartUp state",          "Got StartUp event; switching to Common state",
      "Entered Common state",           "Entered NetworkOperation state",
      "Entered MapUpdateCheck state",   "Got RootUpdate event: switching to RootUpdate state",
      "Entered MapUpdatePresent state", "Entered RootUpdate state"};
  EXPECT_EQ(harness.Messages(), expected);
}

TEST(StateMachine, EventsNoStateListsAreDroppedWithoutATrace)
{
  MachineHarness harness;
  harness.Start();
  harness.StickCheckStarted();
  emit harness.Ui().Retry();
  emit harness.Ui().CancelDownload();
  emit harness.Ui().DownloadMap("EUR");
  harness.OperationStarted();
  harness.OperationFinished(MapDownloader::UsbFull);
  EXPECT_TRUE(harness.In<States::MapUpdateCheck>());
  EXPECT_EQ(harness.Ui().Calls(), Strings{"SetState(MapUpdateCheck)"});
  EXPECT_EQ(harness.Commands(), Strings{"CheckMapUpdates"});
  harness.Stop();
  EXPECT_EQ(harness.Messages().back(), "Entered MapUpdateCheck state");
}

TEST(StateMachine, EachEntryLogsAsItsStateAndEachReactionAsReact)
{
  // Through both failure states, the reactions they share and the question
  // before quitting.
  MachineHarness harness;
  Checked(harness, MetadataChecker::NoConnection, {});
  EXPECT_EQ(QuitCodeOf([&] { emit harness.Ui().Quit(); }), std::nullopt);
  emit harness.Ui().Retry();
  harness.Related(MetadataChecker::ServerError);
  harness.StickRemoved(StickA);
  harness.Root(MetadataChecker::NoConnection);
  emit harness.Ui().CancelDownload();
  harness.OperationFinished(MapDownloader::Aborted);
  EXPECT_TRUE(harness.In<States::OptionalUpdate>());
  harness.Stop();

  Strings reactions;
  for (const MachineRecord& record : harness.Records()) {
    const std::string& text = record.message;
    if (text.rfind("Entered ", 0) == 0) {
      const std::string state = text.substr(8, text.size() - 8 - 6);
      EXPECT_EQ(record.function, state) << text;
      EXPECT_EQ(record.file, state + ".cpp") << text;
    } else if (text.rfind("Got ", 0) == 0) {
      EXPECT_EQ(record.function, "react") << text << " in " << record.file;
      reactions.push_back(text);
    }
  }
  for (const char* text :
       {"Got Quit event: confirming application quit", "Got Retry event: switching to NetworkOperation state",
        "Got UsbRemove event: switching to MapUpdateCheck state",
        "Got CancelDownload event: switching to CancelDownload state"})
    EXPECT_NE(std::find(reactions.begin(), reactions.end(), text), reactions.end()) << text;
}

TEST(MapUpdateCheck, EachRootResultLeadsToTheStateThatShowsIt)
{
  const std::vector<std::pair<MetadataChecker::Result, State>> cases = {
      {MetadataChecker::Ok, State::RootUpdate},
      {MetadataChecker::NoConnection, State::NoConnection},
      {MetadataChecker::ServerError, State::ServerError},
      {MetadataChecker::InvalidMetadata, State::MetadataCorrupt}};
  for (const auto& [result, shown] : cases) {
    MachineHarness harness;
    harness.Start();
    harness.Root(result);
    EXPECT_EQ(harness.Ui().States(), (std::vector<State>{State::MapUpdateCheck, shown})) << result;
  }
}

TEST(MapUpdateCheck, EachRelatedResultLeadsToTheStateThatShowsIt)
{
  struct Case
  {
    MetadataChecker::Result result;
    std::vector<MapInfo::Type> maps;
    State shown;
  };
  const std::vector<Case> cases = {
      {MetadataChecker::Ok,
       {MapInfo::Installed, MapInfo::Optional, MapInfo::Mandatory},
       State::MandatoryUpdate},
      {MetadataChecker::Ok, {MapInfo::Installed, MapInfo::Optional}, State::OptionalUpdate},
      {MetadataChecker::Ok, {MapInfo::Installed}, State::UpToDate},
      {MetadataChecker::NoSubscription, {}, State::NoSubscription},
      {MetadataChecker::SubscriptionExpired, {MapInfo::Installed}, State::SubscriptionExpired},
      {MetadataChecker::NoConnection, {}, State::NoConnection},
      {MetadataChecker::ServerError, {}, State::ServerError},
      {MetadataChecker::InvalidMetadata, {}, State::MetadataCorrupt}};
  for (const Case& c : cases) {
    MachineHarness harness;
    Checked(harness, c.result, c.maps);
    EXPECT_EQ(harness.Ui().States(), (std::vector<State>{State::MapUpdateCheck, c.shown})) << c.result;
  }
}

TEST(MapUpdateCheck, AStickWithoutMetadataTurnsTheCheckIntoARootCheck)
{
  MachineHarness harness;
  Checked(harness, MetadataChecker::NoMetadata, {});
  ASSERT_TRUE(harness.WaitForCommands(2));
  EXPECT_EQ(harness.Commands(), (Strings{"CheckMapUpdates", "CheckMapUpdates"}));
  const UsbInfo active = UsbStorage::Get().GetActiveUsb();
  EXPECT_EQ(active.id, StickA);
  EXPECT_EQ(active.state, UsbInfo::NoMetadata);
  EXPECT_EQ(active.path, "/media/stick") << "only the state changes";

  harness.Root(MetadataChecker::Ok);
  EXPECT_TRUE(harness.In<States::RootUpdate>());
  harness.Stop();
  const Strings messages = harness.Messages();
  const Strings expected = {"Got NoMetadata event: switching to RootUpdate state",
                            "Entered MapUpdateCheck state",
                            "Got RootUpdate event: switching to RootUpdate state",
                            "Entered MapUpdatePresent state", "Entered RootUpdate state"};
  EXPECT_EQ(Last(messages, 5), expected);
}

TEST(MapUpdateCheck, NoMetadataFromARootCheckNeitherStoresANonStickNorLoops)
{
  for (const bool withStick : {false, true}) {
    MachineHarness harness;
    if (withStick)
      MachineHarness::StoreActive(StickA, UsbInfo::NoMetadata);
    harness.Start();
    harness.Root(MetadataChecker::NoMetadata);
    EXPECT_TRUE(harness.In<States::RootUpdate>());
    EXPECT_EQ(harness.Commands(), Strings{"CheckMapUpdates"}) << "no second root check";
    EXPECT_FALSE(UsbStorage::Get().GetUsb(0).Valid());
    EXPECT_EQ(UsbStorage::Get().GetUsbs(UsbInfo::NoMetadata).size(), withStick ? 1u : 0u);
  }
}

TEST(MapUpdateCheck, AnotherStickCheckedLeavesTheActiveStickAndTheCheckAlone)
{
  MachineHarness harness;
  MachineHarness::StoreActive(StickA, UsbInfo::ValidMetadata);
  MachineHarness::StoreMap("INSTALLED", MapInfo::Installed, MapInfo::Available);
  harness.Start();
  harness.StickChecked(MachineHarness::Stick(StickB, UsbInfo::InvalidMetadata, "/media/b"));
  harness.StickChecked(MachineHarness::Stick(StickC, UsbInfo::NoMetadata, "/media/c"));
  harness.StickChecked(MachineHarness::Stick(StickC + 1, UsbInfo::ValidMetadata, "/media/d"));
  EXPECT_TRUE(harness.In<States::MapUpdateCheck>());
  EXPECT_EQ(UsbStorage::Get().GetActiveUsb().id, StickA);
  EXPECT_EQ(UsbStorage::Get().GetActiveUsb().state, UsbInfo::ValidMetadata);
  EXPECT_EQ(harness.Commands(), Strings{"CheckMapUpdates"});

  harness.Related(MetadataChecker::Ok);
  EXPECT_TRUE(harness.In<States::UpToDate>());
  EXPECT_EQ(harness.Ui().Calls(), (Strings{"SetState(MapUpdateCheck)", "UpdateUsbs", "UpdateUsbs",
                                           "UpdateUsbs", "SetState(UpToDate)"}));
}

TEST(MapUpdateCheck, AStickThatBecameActiveDuringTheCheckIsCheckedAnew)
{
  // The stick was plugged in while the check for no stick ran: the outcome
  // shown is the one for the stick, not the root maps.
  MachineHarness harness;
  harness.Start();
  harness.StickChecked(MachineHarness::Stick(StickA, UsbInfo::ValidMetadata));
  EXPECT_EQ(UsbStorage::Get().GetActiveUsb().id, StickA);
  ASSERT_TRUE(harness.WaitForCommands(2));
  EXPECT_EQ(harness.Commands(), (Strings{"CheckMapUpdates", "CheckMapUpdates"}));
  MachineHarness::StoreMap("INSTALLED", MapInfo::Installed, MapInfo::Available);
  MachineHarness::StoreMap("EUR", MapInfo::Optional, MapInfo::Available);
  harness.Related(MetadataChecker::Ok);
  EXPECT_TRUE(harness.In<States::OptionalUpdate>());
  EXPECT_EQ(harness.Ui().States(),
            (std::vector<State>{State::MapUpdateCheck, State::MapUpdateCheck, State::OptionalUpdate}));
  harness.Stop();
  const Strings messages = harness.Messages();
  EXPECT_TRUE(Contains(messages, "Got ValidMetadata event: switching to MapUpdateCheck state"));
}

TEST(MapUpdateCheck, QuitAsksOnlyWhileAStickIsActive)
{
  {
    MachineHarness harness;
    harness.Start();
    EXPECT_EQ(QuitCodeOf([&] { emit harness.Ui().Quit(); }), 0);
    EXPECT_EQ(harness.Ui().Count("ConfirmQuit"), 0);
    harness.Stop();
    EXPECT_EQ(harness.Messages().back(), "Got Quit event: quitting application");
  }
  {
    MachineHarness harness;
    MachineHarness::StoreActive(StickA, UsbInfo::InvalidMetadata);
    harness.Start();
    EXPECT_EQ(QuitCodeOf([&] { emit harness.Ui().Quit(); }), std::nullopt);
    EXPECT_EQ(harness.Ui().Count("ConfirmQuit"), 1);
    EXPECT_TRUE(harness.In<States::MapUpdateCheck>());
    EXPECT_EQ(QuitCodeOf([&] { emit harness.Ui().ForcedQuit(); }), 0);
    harness.Stop();
    EXPECT_EQ(harness.Messages().back(), "Got Quit event: confirming application quit");
  }
}

TEST(NetworkOperation, RetryResumesTheCheckThatFailed)
{
  MachineHarness harness;
  harness.Start();
  harness.Root(MetadataChecker::NoConnection);
  emit harness.Ui().Retry();
  EXPECT_TRUE(harness.In<States::MapUpdateCheck>());
  ASSERT_TRUE(harness.WaitForCommands(2));
  harness.Root(MetadataChecker::ServerError);
  emit harness.Ui().Retry();
  ASSERT_TRUE(harness.WaitForCommands(3));
  EXPECT_EQ(harness.Ui().States(),
            (std::vector<State>{State::MapUpdateCheck, State::NoConnection, State::MapUpdateCheck,
                                State::ServerError, State::MapUpdateCheck}));
}

TEST(NetworkOperation, RetryResumesTheDownloadThatFailedEveryTime)
{
  MachineHarness harness;
  ASSERT_NO_FATAL_FAILURE(ToMapDownload(harness));
  harness.OperationFinished(MapDownloader::NoConnection);
  EXPECT_TRUE(harness.In<States::NoConnection>());
  emit harness.Ui().Retry();
  EXPECT_TRUE(harness.In<States::MapDownload>());
  harness.OperationStarted();
  harness.OperationFinished(MapDownloader::ServerError);
  EXPECT_TRUE(harness.In<States::ServerError>());
  emit harness.Ui().Retry();
  EXPECT_TRUE(harness.In<States::MapDownload>());
  ASSERT_TRUE(harness.WaitForCommands(4));
  EXPECT_EQ(harness.Commands(),
            (Strings{"CheckMapUpdates", "DownloadMap(EUR)", "DownloadMap(EUR)", "DownloadMap(EUR)"}));
  EXPECT_EQ(harness.Ui().States(),
            (std::vector<State>{State::MapUpdateCheck, State::OptionalUpdate, State::MapDownload,
                                State::NoConnection, State::MapDownload, State::ServerError}));
}

TEST(NetworkOperation, ARemovedStickIsShownWhenItCutTheCheckOrDownloadShort)
{
  MachineHarness harness;
  MachineHarness::StoreActive(StickA, UsbInfo::ValidMetadata);
  harness.Start();
  Forget(harness);
  harness.StickRemoved(StickA);
  EXPECT_TRUE(harness.In<States::MapUpdateCheck>());
  EXPECT_EQ(harness.Ui().Calls(),
            (Strings{"UpdateUsbs", "SetState(UsbRemoved)", "SetState(MapUpdateCheck)"}));
  ASSERT_TRUE(harness.WaitForCommands(2));
  harness.Stop();
  const Strings messages = harness.Messages();
  EXPECT_EQ(Last(messages, 3), (Strings{"Got UsbRemove event: switching to MapUpdateCheck state",
                                        "Entered NetworkOperation state", "Entered MapUpdateCheck state"}));
}

TEST(FailureStates, ShowTheRemovalOnlyWhenAMapOperationWasCutShort)
{
  for (const bool downloading : {false, true}) {
    MachineHarness harness;
    if (downloading)
      MachineHarness::StoreMap("EUR", MapInfo::Optional, MapInfo::Downloading);
    Checked(harness, MetadataChecker::ServerError, {});
    Forget(harness);
    harness.StickRemoved(StickA);
    EXPECT_TRUE(harness.In<States::MapUpdateCheck>());
    const Strings expected = downloading
                                 ? Strings{"UpdateUsbs", "SetState(UsbRemoved)", "SetState(MapUpdateCheck)"}
                                 : Strings{"UpdateUsbs", "SetState(MapUpdateCheck)"};
    EXPECT_EQ(harness.Ui().Calls(), expected);
  }
}

TEST(FailureStates, OnlyNoConnectionTakesANewStickOrACorruptOne)
{
  {
    MachineHarness harness;
    harness.Start();
    harness.Root(MetadataChecker::ServerError);
    harness.StickCheckStarted();
    harness.StickChecked(MachineHarness::Stick(StickA, UsbInfo::InvalidMetadata));
    EXPECT_TRUE(harness.In<States::ServerError>());
    EXPECT_EQ(harness.Ui().States().back(), State::ServerError);
  }
  {
    MachineHarness harness;
    harness.Start();
    harness.Root(MetadataChecker::NoConnection);
    harness.StickCheckStarted();
    EXPECT_TRUE(harness.In<States::UsbCheck>());
  }
  {
    MachineHarness harness;
    harness.Start();
    harness.Root(MetadataChecker::NoConnection);
    harness.StickChecked(MachineHarness::Stick(StickA, UsbInfo::InvalidMetadata));
    EXPECT_TRUE(harness.In<States::MetadataCorrupt>());
  }
}

TEST(FailureStates, CancelAndQuit)
{
  MachineHarness harness;
  harness.Start();
  harness.Root(MetadataChecker::NoConnection);
  EXPECT_EQ(QuitCodeOf([&] { emit harness.Ui().Quit(); }), 0) << "no stick: quits at once";
  emit harness.Ui().CancelDownload();
  EXPECT_TRUE(harness.In<States::CancelDownload>());
  ASSERT_TRUE(harness.WaitForCommands(2));
  EXPECT_EQ(harness.Commands().back(), "AbortMapDownload");
  MachineHarness::StoreActive(StickA, UsbInfo::NoMetadata);
  EXPECT_EQ(QuitCodeOf([&] { emit harness.Ui().Quit(); }), std::nullopt);
  EXPECT_EQ(harness.Ui().Count("ConfirmQuit"), 1);
}

TEST(MapUpdatePresent, OutcomesShowThemselvesAgainOnTheirOwnEvent)
{
  MachineHarness harness;
  ASSERT_NO_FATAL_FAILURE(ToOptionalUpdate(harness));
  Forget(harness);
  harness.Related(MetadataChecker::Ok);
  harness.Related(MetadataChecker::NoConnection); // another outcome's event changes nothing
  EXPECT_TRUE(harness.In<States::OptionalUpdate>());
  EXPECT_EQ(harness.Ui().Calls(), Strings{"SetState(OptionalUpdate)"});
  harness.Stop();
  EXPECT_EQ(harness.Messages().back(), "Got OptionalUpdate event: updating ui state");
}

TEST(MapUpdatePresent, EachOutcomeAnswersARemovedStickItsOwnWay)
{
  struct Case
  {
    MetadataChecker::Result result;
    std::vector<MapInfo::Type> maps;
    std::string line; // the machine's line for the removal
  };
  const std::vector<Case> cases = {
      {MetadataChecker::Ok, {MapInfo::Installed}, "Switching to MapUpdateCheck state"},
      {MetadataChecker::SubscriptionExpired, {MapInfo::Installed}, "Switching to MapUpdateCheck state"},
      {MetadataChecker::Ok,
       {MapInfo::Installed, MapInfo::Optional},
       "Got UsbRemove event: switching to MapUpdateCheck state"},
      {MetadataChecker::Ok,
       {MapInfo::Installed, MapInfo::Mandatory},
       "Got UsbRemove event: switching to MapUpdateCheck state"}};
  for (const Case& c : cases) {
    MachineHarness harness;
    Checked(harness, c.result, c.maps);
    Forget(harness);
    harness.StickRemoved(StickA);
    EXPECT_TRUE(harness.In<States::MapUpdateCheck>());
    EXPECT_EQ(harness.Ui().Calls(), (Strings{"UpdateUsbs", "SetState(MapUpdateCheck)"}));
    harness.Stop();
    const Strings messages = harness.Messages();
    EXPECT_EQ(Last(messages, 3),
              (Strings{c.line, "Entered NetworkOperation state", "Entered MapUpdateCheck state"}));
  }

  // The root maps stay on screen: they do not depend on a stick.
  MachineHarness harness;
  harness.Start();
  harness.Root(MetadataChecker::Ok);
  MachineHarness::StoreActive(StickA, UsbInfo::NoMetadata);
  Forget(harness);
  harness.StickRemoved(StickA);
  EXPECT_TRUE(harness.In<States::RootUpdate>());
  EXPECT_EQ(harness.Ui().Calls(), Strings{"UpdateUsbs"});
  harness.Stop();
  EXPECT_EQ(harness.Messages().back(), "Got UsbRemove event: doing nothing");
}

TEST(MapUpdatePresent, OnlyTheRootMapsTakeANewStickAndNoneAsksBeforeQuitting)
{
  {
    MachineHarness harness;
    ASSERT_NO_FATAL_FAILURE(ToOptionalUpdate(harness));
    harness.StickCheckStarted();
    harness.StickChecked(MachineHarness::Stick(StickB, UsbInfo::InvalidMetadata));
    EXPECT_TRUE(harness.In<States::OptionalUpdate>());
    EXPECT_EQ(QuitCodeOf([&] { emit harness.Ui().Quit(); }), 0);
    EXPECT_EQ(harness.Ui().Count("ConfirmQuit"), 0);
  }
  MachineHarness harness;
  harness.Start();
  harness.Root(MetadataChecker::Ok);
  harness.StickCheckStarted();
  EXPECT_TRUE(harness.In<States::UsbCheck>());
  harness.StickChecked(MachineHarness::Stick(StickA, UsbInfo::NoMetadata));
  EXPECT_TRUE(harness.In<States::RootUpdate>());
  EXPECT_EQ(harness.Commands(), Strings{"CheckMapUpdates"})
      << "a stick without metadata asks the service nothing";
  harness.StickCheckStarted();
  harness.StickChecked(MachineHarness::Stick(StickB, UsbInfo::ValidMetadata));
  EXPECT_TRUE(harness.In<States::MapUpdateCheck>());
  EXPECT_EQ(UsbStorage::Get().GetActiveUsb().id, StickB) << "a stick with metadata replaces one without";
  EXPECT_EQ(harness.Ui().States(),
            (std::vector<State>{State::MapUpdateCheck, State::RootUpdate, State::UsbCheck, State::RootUpdate,
                                State::UsbCheck, State::MapUpdateCheck}));
}

TEST(MapUpdatePresent, EveryOutcomeStartsTheChosenDownload)
{
  for (const MetadataChecker::Result result : {MetadataChecker::Ok, MetadataChecker::SubscriptionExpired}) {
    MachineHarness harness;
    MachineHarness::StoreMap("OTHER", MapInfo::Optional, MapInfo::Downloading);
    Checked(harness, result);
    Forget(harness);
    emit harness.Ui().DownloadMap("INSTALLED");
    EXPECT_TRUE(harness.In<States::MapDownload>());
    EXPECT_TRUE(harness.Ui().Calls().empty()) << "shown once the manager reports the start";
    ASSERT_TRUE(harness.WaitForCommands(2));
    EXPECT_EQ(harness.Commands().back(), "DownloadMap(INSTALLED)")
        << "the chosen map, not the one downloading";
    harness.Stop();
    const Strings messages = harness.Messages();
    const Strings expected = {result == MetadataChecker::Ok
                                  ? "Got DownloadMap event: switching to MapDownload state"
                                  : "Got ResetMap event: switching to MapDownload state",
                              "Entered NetworkOperation state", "Entered MapDownload state"};
    EXPECT_EQ(Last(messages, 3), expected);
  }
}

TEST(MapDownload, ShowsTheDownloadOnceStartedAndLeavesForEachResult)
{
  const std::vector<std::pair<MapDownloader::Result, State>> cases = {
      {MapDownloader::Ok, State::PendingUpdate},        {MapDownloader::UsbBlocked, State::UsbBlocked},
      {MapDownloader::UsbFull, State::UsbFull},         {MapDownloader::UsbTooSmall, State::UsbTooSmall},
      {MapDownloader::ServerError, State::ServerError}, {MapDownloader::NoConnection, State::NoConnection},
      {MapDownloader::UsbRemoved, State::UsbRemoved}};
  for (const auto& [result, shown] : cases) {
    MachineHarness harness;
    ASSERT_NO_FATAL_FAILURE(ToMapDownload(harness));
    harness.OperationStarted(); // shown again, no transition
    harness.StickCheckStarted();
    harness.StickChecked(MachineHarness::Stick(StickB, UsbInfo::ValidMetadata));
    emit harness.Ui().Retry();
    EXPECT_EQ(QuitCodeOf([&] { emit harness.Ui().Quit(); }), std::nullopt);
    Forget(harness);
    harness.OperationFinished(result);
    EXPECT_EQ(harness.Ui().States().front(), shown) << result;
    EXPECT_EQ(harness.Ui().Count("ConfirmQuit"), 0);
  }
  MachineHarness harness;
  ASSERT_NO_FATAL_FAILURE(ToMapDownload(harness));
  harness.OperationStarted();
  EXPECT_EQ(harness.Ui().Count("SetState(MapDownload)"), 2);
  emit harness.Ui().CancelDownload();
  EXPECT_TRUE(harness.In<States::CancelDownload>());
}

TEST(MapDownload, WithoutAMapToDownloadGoesBackToTheCheck)
{
  // A retry after the map left the download (here: it was removed meanwhile).
  MachineHarness harness;
  ASSERT_NO_FATAL_FAILURE(ToMapDownload(harness));
  harness.OperationFinished(MapDownloader::NoConnection);
  MapStorage::Get().Clear();
  emit harness.Ui().Retry();
  EXPECT_TRUE(harness.In<States::MapUpdateCheck>());
  ASSERT_TRUE(harness.WaitForCommands(3));
  EXPECT_EQ(harness.Commands(), (Strings{"CheckMapUpdates", "DownloadMap(EUR)", "CheckMapUpdates"}));

  // A map that is already on the stick cannot be downloaded.
  MachineHarness::StoreMap("EUR", MapInfo::Optional, MapInfo::Available);
  MachineHarness::StoreMap("INSTALLED", MapInfo::Installed, MapInfo::Available);
  MachineHarness::StoreMap("DONE", MapInfo::Optional, MapInfo::Pending);
  harness.Related(MetadataChecker::Ok);
  emit harness.Ui().DownloadMap("DONE");
  EXPECT_TRUE(harness.In<States::MapUpdateCheck>());
  ASSERT_TRUE(harness.WaitForCommands(4));
  EXPECT_EQ(harness.Commands().back(), "CheckMapUpdates");

  harness.Stop();
  const Strings messages = harness.Messages();
  EXPECT_TRUE(Contains(messages, "No map to download"));
  EXPECT_TRUE(Contains(messages, "Map: DONE cannot be downloaded in state: Pending"));
  EXPECT_EQ(std::count(messages.begin(), messages.end(),
                       "Got NoMapToDownload event: switching to MapUpdateCheck state"),
            2);
}

TEST(CancelDownload, ShowsTheRemovalAndReturnsToTheOutcomeShownBefore)
{
  MachineHarness harness;
  ASSERT_NO_FATAL_FAILURE(ToMapDownload(harness));
  emit harness.Ui().CancelDownload();
  ASSERT_TRUE(harness.WaitForCommands(3));
  EXPECT_EQ(harness.Commands().back(), "AbortMapDownload");
  Forget(harness);
  MachineHarness::StoreMap("EUR", MapInfo::Optional, MapInfo::Deleting);
  harness.OperationStarted();
  harness.OperationStarted();
  emit harness.Ui().Retry();
  emit harness.Ui().DownloadMap("EUR");
  harness.StickCheckStarted();
  EXPECT_EQ(QuitCodeOf([&] { emit harness.Ui().Quit(); }), std::nullopt);
  MachineHarness::StoreMap("EUR", MapInfo::Optional, MapInfo::Available);
  harness.OperationFinished(MapDownloader::Aborted);
  EXPECT_TRUE(harness.In<States::OptionalUpdate>());
  EXPECT_EQ(harness.Ui().Calls(), (Strings{"SetState(CancelDownload)", "SetState(CancelDownload)",
                                           "ConfirmQuit", "SetState(OptionalUpdate)"}));
  EXPECT_EQ(UsbStorage::Get().GetActiveUsb().id, StickA);
  harness.Stop();
  const Strings messages = harness.Messages();
  EXPECT_EQ(Last(messages, 4), (Strings{"Got CancelDownload event", "Switching to OptionalUpdate state",
                                        "Entered MapUpdatePresent state", "Entered OptionalUpdate state"}));
}

TEST(CancelDownload, ReturnsThroughTheHistoryOfTheOutcomes)
{
  // A download that failed to NoConnection from the up-to-date outcome, retried
  // and then cancelled, returns to the up-to-date outcome.
  MachineHarness harness;
  Checked(harness, MetadataChecker::Ok);
  emit harness.Ui().DownloadMap("INSTALLED");
  MachineHarness::StoreMap("INSTALLED", MapInfo::Installed, MapInfo::Downloading);
  harness.OperationFinished(MapDownloader::NoConnection);
  emit harness.Ui().Retry();
  harness.OperationFinished(MapDownloader::ServerError);
  emit harness.Ui().CancelDownload();
  harness.OperationFinished(MapDownloader::Aborted);
  EXPECT_TRUE(harness.In<States::UpToDate>());

  // Before any outcome was ever left the return shows the optional update.
  MachineHarness fresh;
  fresh.Start();
  fresh.Root(MetadataChecker::NoConnection);
  emit fresh.Ui().CancelDownload();
  fresh.OperationFinished(MapDownloader::Aborted);
  EXPECT_TRUE(fresh.In<States::OptionalUpdate>());
}

TEST(CancelDownload, ChecksAnotherStickWithMetadataWhenTheActiveOneHasNone)
{
  struct Case
  {
    UsbInfo::State active;
    std::vector<std::pair<UsbInfo::Id, UsbInfo::State>> others;
    UsbInfo::Id nowActive; // 0: no change, the history is entered
  };
  const std::vector<Case> cases = {
      {UsbInfo::NoMetadata, {{StickB, UsbInfo::InvalidMetadata}, {StickC, UsbInfo::ValidMetadata}}, StickC},
      {UsbInfo::NoMetadata, {{StickB, UsbInfo::InvalidMetadata}}, StickB},
      {UsbInfo::NoMetadata, {{StickB, UsbInfo::NoMetadata}}, 0},
      {UsbInfo::InvalidMetadata, {{StickB, UsbInfo::ValidMetadata}}, 0}};
  for (const Case& c : cases) {
    MachineHarness harness;
    MachineHarness::StoreActive(StickA, c.active);
    for (const auto& [id, state] : c.others)
      UsbStorage::Get().UpdateUsb(MachineHarness::Stick(id, state));
    MachineHarness::StoreMap("ROOT", MapInfo::Optional, MapInfo::Available);
    harness.Start();
    harness.Root(MetadataChecker::Ok);
    emit harness.Ui().DownloadMap("ROOT");
    harness.Root(MetadataChecker::ServerError); // a late check report is not the download's
    harness.OperationFinished(MapDownloader::UsbTooSmall);
    emit harness.Ui().CancelDownload();
    Forget(harness);
    harness.OperationFinished(MapDownloader::Aborted);
    if (c.nowActive) {
      EXPECT_TRUE(harness.In<States::MapUpdateCheck>());
      EXPECT_EQ(UsbStorage::Get().GetActiveUsb().id, c.nowActive);
      EXPECT_EQ(harness.Ui().Calls(), Strings{"SetState(MapUpdateCheck)"})
          << "no stick list refresh of its own";
    } else {
      EXPECT_TRUE(harness.In<States::RootUpdate>());
      EXPECT_EQ(UsbStorage::Get().GetActiveUsb().id, StickA);
    }
  }
}

TEST(CancelDownload, EndsWithWhateverResultTheRemovalEnds)
{
  for (const MapDownloader::Result result :
       {MapDownloader::Ok, MapDownloader::UsbBlocked, MapDownloader::UsbFull, MapDownloader::UsbTooSmall,
        MapDownloader::NoConnection, MapDownloader::ServerError}) {
    MachineHarness harness;
    ASSERT_NO_FATAL_FAILURE(ToMapDownload(harness));
    emit harness.Ui().CancelDownload();
    harness.OperationFinished(result);
    EXPECT_TRUE(harness.In<States::OptionalUpdate>()) << result;
  }
  MachineHarness harness;
  ASSERT_NO_FATAL_FAILURE(ToMapDownload(harness));
  emit harness.Ui().CancelDownload();
  Forget(harness);
  harness.OperationFinished(MapDownloader::UsbRemoved);
  EXPECT_TRUE(harness.In<States::MapUpdateCheck>());
  EXPECT_EQ(harness.Ui().Calls(), (Strings{"SetState(UsbRemoved)", "SetState(MapUpdateCheck)"}));
}

TEST(MapDownload, ACheckReportDuringTheDownloadIsNotItsResult)
{
  MachineHarness harness;
  ASSERT_NO_FATAL_FAILURE(ToMapDownload(harness));
  emit harness.Ui().UpdateLocale(); // the names are fetched again and the check reports anew
  harness.Related(MetadataChecker::NoConnection);
  harness.Related(MetadataChecker::UsbRemoved);
  EXPECT_TRUE(harness.In<States::MapDownload>());
  harness.OperationFinished(MapDownloader::Ok);
  EXPECT_TRUE(harness.In<States::PendingUpdate>());
  harness.Stop();
  const Strings messages = harness.Messages();
  EXPECT_TRUE(
      Contains(messages, "Ignoring related updates check result: NoConnection while a map operation runs"));
}

TEST(UsbCheck, LeavesForTheStickCheckOutcome)
{
  struct Case
  {
    UsbInfo::State state;
    State shown;
    std::size_t commands;
  };
  for (const Case& c : {Case{UsbInfo::InvalidMetadata, State::MetadataCorrupt, 1},
                        Case{UsbInfo::NoMetadata, State::RootUpdate, 1},
                        Case{UsbInfo::ValidMetadata, State::MapUpdateCheck, 2}}) {
    MachineHarness harness;
    harness.Start();
    harness.Root(MetadataChecker::Ok);
    harness.StickCheckStarted();
    harness.StickCheckStarted(); // a second stick while the first is checked
    EXPECT_EQ(QuitCodeOf([&] { emit harness.Ui().Quit(); }), std::nullopt);
    emit harness.Ui().CancelDownload();
    harness.Root(MetadataChecker::Ok);
    Forget(harness);
    harness.StickChecked(MachineHarness::Stick(StickA, c.state));
    EXPECT_EQ(harness.Ui().Calls(), (Strings{"UpdateUsbs", "SetState(" + Name(c.shown) + ")"}));
    EXPECT_TRUE(harness.WaitForCommands(c.commands));
    EXPECT_EQ(harness.Commands().size(), c.commands);
    EXPECT_EQ(UsbStorage::Get().GetActiveUsb().state, c.state) << "the check's record is kept";
  }
  MachineHarness harness;
  harness.Start();
  harness.Root(MetadataChecker::Ok);
  MachineHarness::StoreActive(StickA, UsbInfo::ValidMetadata);
  harness.StickCheckStarted();
  Forget(harness);
  harness.StickRemoved(StickA);
  EXPECT_TRUE(harness.In<States::MapUpdateCheck>());
  EXPECT_EQ(harness.Ui().Calls(),
            (Strings{"UpdateUsbs", "SetState(UsbRemoved)", "SetState(MapUpdateCheck)"}));
}

TEST(StickFailureStates, OnlyACancelMovesThemOnAndTheyDifferInRemovalAndQuit)
{
  struct Case
  {
    MapDownloader::Result result;
    State shown;
    bool leavesOnRemoval;
    bool asksBeforeQuitting;
  };
  for (const Case& c : {Case{MapDownloader::UsbBlocked, State::UsbBlocked, false, true},
                        Case{MapDownloader::UsbFull, State::UsbFull, true, true},
                        Case{MapDownloader::UsbTooSmall, State::UsbTooSmall, false, false}}) {
    MachineHarness harness;
    ASSERT_NO_FATAL_FAILURE(ToMapDownload(harness));
    harness.OperationFinished(c.result);
    UsbStorage::Get().UpdateUsb(MachineHarness::Stick(StickB, UsbInfo::ValidMetadata));
    emit harness.Ui().Retry();
    emit harness.Ui().DownloadMap("EUR");
    harness.StickChecked(MachineHarness::Stick(StickC, UsbInfo::ValidMetadata));
    EXPECT_EQ(harness.Ui().Current(), c.shown);
    EXPECT_EQ(QuitCodeOf([&] { emit harness.Ui().Quit(); }),
              c.asksBeforeQuitting ? std::nullopt : std::optional<int>(0))
        << c.result;
    EXPECT_EQ(harness.Ui().Count("ConfirmQuit"), c.asksBeforeQuitting ? 1 : 0);

    Forget(harness);
    harness.StickRemoved(StickA);
    EXPECT_EQ(harness.In<States::MapUpdateCheck>(), c.leavesOnRemoval) << c.result;
    EXPECT_EQ(harness.Ui().Count("SetState(UsbRemoved)"), 0);
    if (!c.leavesOnRemoval) {
      EXPECT_EQ(harness.Ui().Current(), State::Unknown) << "nothing shown anew";
      emit harness.Ui().CancelDownload();
      EXPECT_TRUE(harness.In<States::CancelDownload>());
    }
  }
}

TEST(ResultStates, LeaveWhenTheStickIsRemovedAndQuitAtOnce)
{
  for (const MetadataChecker::Result result :
       {MetadataChecker::InvalidMetadata, MetadataChecker::NoSubscription}) {
    MachineHarness harness;
    UsbStorage::Get().UpdateUsb(MachineHarness::Stick(StickB, UsbInfo::InvalidMetadata));
    Checked(harness, result, {});
    EXPECT_EQ(QuitCodeOf([&] { emit harness.Ui().Quit(); }), 0) << "no question although a stick is active";
    emit harness.Ui().CancelDownload();
    emit harness.Ui().Retry();
    harness.StickChecked(MachineHarness::Stick(StickC, UsbInfo::ValidMetadata));
    Forget(harness);
    harness.StickRemoved(StickC); // not the active stick
    EXPECT_EQ(harness.Ui().Calls(), Strings{"UpdateUsbs"});
    harness.StickRemoved(StickA);
    EXPECT_TRUE(harness.In<States::MapUpdateCheck>());
    EXPECT_EQ(UsbStorage::Get().GetActiveUsb().id, StickB);
  }
  MachineHarness harness;
  ASSERT_NO_FATAL_FAILURE(ToMapDownload(harness));
  harness.OperationFinished(MapDownloader::Ok);
  EXPECT_TRUE(harness.In<States::PendingUpdate>());
  EXPECT_EQ(QuitCodeOf([&] { emit harness.Ui().Quit(); }), 0) << "the map is on the stick: nothing in use";
  emit harness.Ui().CancelDownload();
  EXPECT_TRUE(harness.In<States::CancelDownload>());
}
