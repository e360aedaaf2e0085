// The state machine driven by the reports a test gives in place of the
// update manager, by the USB manager's signals and by the recording user
// interface, and checked by the interface calls, the commands to the update
// manager and the machine's log.

#include "MachineHarness.h"

#include "fmu/MapStorage.h"
#include "sm/States/StartUp.h"

#include <QSignalSpy>

#include <stdexcept>

using Strings = std::vector<std::string>;
using Check = MetadataChecker;
using Download = MapDownloader;
using Steps = std::function<void(MachineHarness&)>;

namespace {

const UsbInfo::Id StickA = 11;
const UsbInfo::Id StickB = 22;
const UsbInfo::Id StickC = 33;

// Stick A active with valid metadata and an available map of each of the
// types stored (INSTALLED, EUR, MANDATORY); the related check ended with
// `result`, if given.
Steps Outcome(std::optional<Check::Result> result, std::vector<MapInfo::Type> maps)
{
  return [=](MachineHarness& h) {
    MachineHarness::StoreActive(StickA, UsbInfo::ValidMetadata);
    for (const MapInfo::Type type : maps) {
      const char* id = type == MapInfo::Installed  ? "INSTALLED"
                       : type == MapInfo::Optional ? "EUR"
                                                   : "MANDATORY";
      MachineHarness::StoreMap(id, type, MapInfo::Available);
    }
    h.Start();
    if (result)
      h.Related(*result);
  };
}

// From OptionalUpdate, the download of EUR, started and, if given, ended.
Steps Downloading(std::optional<Download::Result> result = std::nullopt)
{
  return [=](MachineHarness& h) {
    Outcome(Check::Ok, {MapInfo::Installed, MapInfo::Optional})(h);
    emit h.Ui().DownloadMap("EUR");
    MachineHarness::StoreMap("EUR", MapInfo::Optional, MapInfo::Downloading);
    h.OperationStarted();
    if (result)
      h.OperationFinished(*result);
  };
}

// The download of EUR cancelled, and the removal's start reported if `started`.
Steps Cancelled(bool started)
{
  return [=](MachineHarness& h) {
    Downloading()(h);
    emit h.Ui().CancelDownload();
    MachineHarness::StoreMap("EUR", MapInfo::Optional, MapInfo::Deleting);
    if (started)
      h.OperationStarted();
  };
}

// The root check (for no stick, or for stick A without metadata) ended with `result`.
Steps RootChecked(Check::Result result, bool stick = false)
{
  return [=](MachineHarness& h) {
    if (stick)
      MachineHarness::StoreActive(StickA, UsbInfo::NoMetadata);
    MachineHarness::StoreMap("EUR", MapInfo::Optional, MapInfo::Available);
    h.Start();
    h.Root(result);
  };
}

// The situations the tests start from, by the name of the state they reach;
// "+stick": stick A is active, "+download": a download failed, "+root": the
// root check ended so, "+asked": the removal was asked for and has not
// started yet.
const std::map<std::string, Steps> Situations = {
    {"MapUpdateCheck", [](MachineHarness& h) { h.Start(); }},
    {"MapUpdateCheck+stick", Outcome(std::nullopt, {})},
    {"RootUpdate", RootChecked(Check::Ok)},
    {"RootUpdate+stick", RootChecked(Check::Ok, true)},
    {"UsbCheck",
     [](MachineHarness& h) {
       RootChecked(Check::Ok, true)(h);
       h.StickCheckStarted();
     }},
    {"NoConnection", RootChecked(Check::NoConnection)},
    {"ServerError", RootChecked(Check::ServerError)},
    {"MetadataCorrupt+root", RootChecked(Check::InvalidMetadata)},
    {"NoConnection+stick", Outcome(Check::NoConnection, {})},
    {"ServerError+stick", Outcome(Check::ServerError, {})},
    {"ServerError+download", Downloading(Download::ServerError)},
    {"OptionalUpdate", Outcome(Check::Ok, {MapInfo::Installed, MapInfo::Optional})},
    {"MandatoryUpdate", Outcome(Check::Ok, {MapInfo::Installed, MapInfo::Optional, MapInfo::Mandatory})},
    {"UpToDate", Outcome(Check::Ok, {MapInfo::Installed})},
    {"SubscriptionExpired", Outcome(Check::SubscriptionExpired, {MapInfo::Installed})},
    {"MetadataCorrupt", Outcome(Check::InvalidMetadata, {})},
    {"NoSubscription", Outcome(Check::NoSubscription, {})},
    {"MapDownload", Downloading()},
    {"CancelDownload+asked", Cancelled(false)},
    {"CancelDownload", Cancelled(true)},
    {"UsbBlocked", Downloading(Download::UsbBlocked)},
    {"UsbFull", Downloading(Download::UsbFull)},
    {"UsbTooSmall", Downloading(Download::UsbTooSmall)},
    {"PendingUpdate", Downloading(Download::Ok)}};

void Reach(MachineHarness& h, const std::string& situation)
{
  ASSERT_EQ(Situations.count(situation), 1u) << situation;
  ASSERT_NO_FATAL_FAILURE(Situations.at(situation)(h));
  const std::string state = situation.substr(0, situation.find('+'));
  ASSERT_EQ(h.Leaf(), state);
  if (situation != "CancelDownload+asked") { // shown once the removal has started
    ASSERT_EQ(h.Ui().Shown(), state);
  }
}

// The value of an enumeration that prints (as the log writes it) as `name`
// among its `count` values; the number `count` names a value past them.
template <typename Enum>
Enum Named(const std::string& name, int count)
{
  for (int value = 0; value <= count; ++value)
    if (name == (value < count ? testing::PrintToString(static_cast<Enum>(value)) : std::to_string(value)))
      return static_cast<Enum>(value);
  ADD_FAILURE() << "no value named " << name;
  return Enum();
}

void Send(StateMachine& machine, ApplicationGuard::Event event)
{
  QMetaObject::invokeMethod(&machine, "HandleApplicationEvent", Qt::DirectConnection,
                            Q_ARG(ApplicationGuard::Event, event));
}

// Plays one event: the user's ("Quit", "ForcedQuit", "Locale", "Retry",
// "Cancel", "Download[:id]", EUR by default), the application's ("Activate"),
// the USB manager's ("Insert", "Checked:<metadata state>" of stick B,
// "Remove[:B]" of stick A or B) or the update manager's ("Root:<result>",
// "Related:<result>", "Names" before a result reported again for new map
// names, "Started", "Finished:<result>"; "Related:8" is a result past the
// known ones); "Store:<map>=<map state>" stores a map as the update
// manager does.
void Fire(MachineHarness& h, const std::string& event)
{
  const std::string name = event.substr(0, event.find(':'));
  const std::string value = event.find(':') == std::string::npos ? "" : event.substr(event.find(':') + 1);
  if (name == "Quit") {
    // Either the user is asked or the application quits at once.
    const auto code = QuitCodeOf([&] { emit h.Ui().Quit(); });
    const bool asked = !h.Ui().Calls().empty() && h.Ui().Calls().back() == "ConfirmQuit";
    EXPECT_EQ(code, asked ? std::nullopt : std::optional<int>(0));
  } else if (name == "ForcedQuit") {
    EXPECT_EQ(QuitCodeOf([&] { emit h.Ui().ForcedQuit(); }), 0) << "the user's confirmation quits at once";
  } else if (name == "Activate") {
    Send(h.Machine(), ApplicationGuard::Activate);
  } else if (name == "Locale") {
    emit h.Ui().UpdateLocale();
  } else if (name == "Retry") {
    emit h.Ui().Retry();
  } else if (name == "Cancel") {
    emit h.Ui().CancelDownload();
  } else if (name == "Download") {
    emit h.Ui().DownloadMap(value.empty() ? "EUR" : value);
  } else if (name == "Insert") {
    h.StickCheckStarted();
  } else if (name == "Checked") {
    h.StickChecked(MachineHarness::Stick(StickB, Named<UsbInfo::State>(value, 3), "/media/b"));
  } else if (name == "Remove") {
    h.StickRemoved(value == "B" ? StickB : StickA);
  } else if (name == "Root" || name == "Related") {
    const auto result = Named<Check::Result>(value, 8);
    name == "Root" ? h.Root(result) : h.Related(result);
  } else if (name == "Store") {
    const std::size_t at = value.find('=');
    MachineHarness::StoreMap(value.substr(0, at), MapInfo::Optional,
                             Named<MapInfo::State>(value.substr(at + 1), 5));
  } else if (name == "Names") {
    h.NamesUpdated();
  } else if (name == "Started") {
    h.OperationStarted();
  } else if (name == "Finished") {
    h.OperationFinished(Named<Download::Result>(value, 8));
  } else {
    ADD_FAILURE() << "no event " << event;
  }
}

std::string Joined(const Strings& texts)
{
  std::string joined;
  for (const std::string& text : texts)
    joined += (joined.empty() ? "" : " ") + text;
  return joined;
}

// From each of the situations (separated by spaces), events (separated by
// spaces) lead to a state ("" for the same), with these interface calls, and
// the first line the machine logs for them ("" for none: an event no state
// lists is dropped without a trace).
struct Reaction
{
  std::string from;
  std::string events;
  std::string to;
  std::string calls;
  std::string line;
};

void ExpectReactions(const std::vector<Reaction>& reactions)
{
  for (const Reaction& r : reactions) {
    std::istringstream situations(r.from);
    for (std::string from; situations >> from;) {
      SCOPED_TRACE(from + " <- " + r.events);
      MachineHarness h;
      ASSERT_NO_FATAL_FAILURE(Reach(h, from));
      h.Forget();
      std::istringstream events(r.events);
      for (std::string event; events >> event;)
        Fire(h, event);
      EXPECT_EQ(h.Leaf(), r.to.empty() ? from.substr(0, from.find('+')) : r.to);
      EXPECT_EQ(Joined(h.Ui().Calls()), r.calls);
      h.Stop();
      const Strings messages = h.Messages();
      EXPECT_EQ(messages.empty() ? "" : messages.front(), r.line);
    }
  }
}

const std::string Removed = "Got UsbRemove event: switching to MapUpdateCheck state";
const std::string RemovedAndShown = "UpdateUsbs SetState(UsbRemoved) SetState(MapUpdateCheck)";
const std::string Leaves = "UpdateUsbs SetState(MapUpdateCheck)";
const std::string Asked = "Got Quit event: confirming application quit";
const std::string Quitting = "Got Quit event: quitting application";
const std::string Cancelling = "Got CancelDownload event: switching to CancelDownload state";
const std::string Downloads = "Got DownloadMap event: switching to MapDownload state";

} // namespace

TEST(Reactions, OfTheChecksAndTheirOutcomes)
{
  ExpectReactions({
      {"MapUpdateCheck", "Insert Retry Cancel Download Started", "", "", ""},
      {"MapUpdateCheck", "Finished:UsbFull", "", "",
       "Ignoring map operation result: UsbFull while no map operation runs"},
      // Nothing is in use: quitting needs no question, although a stick may be active.
      {"MapUpdateCheck RootUpdate MetadataCorrupt+root", "Retry Cancel Quit", "", "", Quitting},
      {"MapUpdateCheck+stick NoConnection+stick", "Quit", "", "ConfirmQuit", Asked},
      // Activation, the locale and the user's confirmed quit reach Common from any state.
      {"RootUpdate MapDownload CancelDownload", "Activate Locale ForcedQuit", "", "Activate",
       "Got Activate event"},
      {"RootUpdate", "Root:Ok", "", "SetState(RootUpdate)", "Got RootUpdate event: updating ui state"},
      {"RootUpdate NoConnection", "Insert", "UsbCheck", "SetState(UsbCheck)",
       "Got UsbInsert event: switching to UsbCheck state"},
      {"RootUpdate OptionalUpdate", "Download", "MapDownload", "", Downloads},
      // The start is read from the map store: shown once the map downloads, and
      // a map being deleted is not this operation's.
      {"OptionalUpdate", "Download Started Store:EUR=Downloading Store:OLD=Deleting Started", "MapDownload",
       "SetState(MapDownload)", Downloads},
      {"RootUpdate+stick", "Remove", "", "UpdateUsbs", "Got UsbRemove event: doing nothing"},
      {"UsbCheck NoConnection", "Checked:InvalidMetadata", "MetadataCorrupt",
       "UpdateUsbs SetState(MetadataCorrupt)",
       "Got InvalidMetadata event: switching to MetadataCorrupt state"},
      {"UsbCheck", "Checked:NoMetadata", "RootUpdate", "UpdateUsbs SetState(RootUpdate)",
       "Got NoMetadata event: switching to RootUpdate state"},
      {"UsbCheck", "Checked:ValidMetadata", "MapUpdateCheck", "UpdateUsbs SetState(MapUpdateCheck)",
       "Got ValidMetadata event: switching to MapUpdateCheck state"},
      // Another stick checked leaves the active stick and its check alone.
      {"MapUpdateCheck+stick",
       "Checked:InvalidMetadata Checked:NoMetadata Checked:ValidMetadata Store:EUR=Available Related:Ok",
       "OptionalUpdate", "UpdateUsbs UpdateUsbs UpdateUsbs SetState(OptionalUpdate)",
       "Got InvalidMetadata event of usb: 22, which is not active: doing nothing"},
      // A stick checked while the check for no stick ran is checked anew.
      {"MapUpdateCheck", "Checked:ValidMetadata", "", "UpdateUsbs SetState(MapUpdateCheck)",
       "Got ValidMetadata event: switching to MapUpdateCheck state"},
      {"UsbCheck", "Insert Cancel Root:Ok Quit", "", "ConfirmQuit", Asked},
      {"OptionalUpdate", "Related:Ok Related:NoConnection", "", "SetState(OptionalUpdate)",
       "Got OptionalUpdate event: updating ui state"},
      {"MandatoryUpdate", "Related:Ok", "", "SetState(MandatoryUpdate)",
       "Got MandatoryUpdate event: updating ui state"},
      {"UpToDate", "Related:Ok", "", "SetState(UpToDate)", "Got UpToDate event: updating ui state"},
      {"SubscriptionExpired", "Related:SubscriptionExpired", "", "SetState(SubscriptionExpired)",
       "Got SubscriptionExpired event: updating ui state"},
      {"MandatoryUpdate UpToDate", "Download:INSTALLED", "MapDownload", "", Downloads},
      {"SubscriptionExpired", "Download:INSTALLED", "MapDownload", "",
       "Got ResetMap event: switching to MapDownload state"},
      {"OptionalUpdate", "Insert Checked:InvalidMetadata Retry Cancel Quit", "", "UpdateUsbs", Quitting},
      {"MetadataCorrupt NoSubscription", "Cancel Retry Checked:ValidMetadata Remove:B Quit", "",
       "UpdateUsbs UpdateUsbs", Quitting},
      {"PendingUpdate", "Retry Quit", "", "", Quitting},
      {"NoConnection", "Download Quit", "", "", Quitting},
      // Only NoConnection takes a new stick or a corrupt one.
      {"ServerError+stick", "Insert Checked:InvalidMetadata Quit", "", "UpdateUsbs ConfirmQuit", Asked},
      {"NoConnection ServerError", "Retry", "MapUpdateCheck", "SetState(MapUpdateCheck)",
       "Got Retry event: switching to NetworkOperation state"},
      {"ServerError+download", "Retry", "MapDownload", "",
       "Got Retry event: switching to NetworkOperation state"},
      {"UsbFull UsbBlocked", "Retry Download Checked:ValidMetadata Quit", "", "UpdateUsbs ConfirmQuit",
       Asked},
      {"UsbTooSmall", "Retry Download Checked:ValidMetadata Quit", "", "UpdateUsbs", Quitting},
  });
}

// A new language: the update manager fetches the map names again and then
// reports the last check's result once more. Every state keeps itself; those
// that show the check's outcome show it anew, with the new names.
TEST(Reactions, OfTheLastChecksResultReportedAgainInANewLanguage)
{
  const std::string locale = "Got LocaleUpdate event: updating map name";
  ExpectReactions({
      {"RootUpdate RootUpdate+stick", "Locale Root:Ok", "", "SetState(RootUpdate)", locale},
      {"UsbCheck", "Locale Root:Ok", "", "", locale},
      {"OptionalUpdate", "Locale Related:Ok", "", "SetState(OptionalUpdate)", locale},
      {"MandatoryUpdate", "Locale Related:Ok", "", "SetState(MandatoryUpdate)", locale},
      {"UpToDate", "Locale Related:Ok", "", "SetState(UpToDate)", locale},
      {"SubscriptionExpired", "Locale Related:SubscriptionExpired", "", "SetState(SubscriptionExpired)",
       locale},
      {"MapDownload CancelDownload PendingUpdate UsbBlocked UsbFull UsbTooSmall ServerError+download",
       "Locale Related:Ok", "", "", locale},
      // Reported again just before the manager took up a check asked for
      // since: that check's own result counts, whatever kind it is.
      {"RootUpdate", "Locale Names Root:Ok", "", "SetState(RootUpdate)", locale},
      {"MapUpdateCheck", "Names Related:Ok Root:Ok", "RootUpdate", "SetState(RootUpdate)",
       "Ignoring related updates check result: Ok reported again for new map names while a map update "
       "check runs"},
      // Reported again where no check's outcome is on show: dropped.
      {"MetadataCorrupt+root UsbCheck PendingUpdate NoConnection", "Names Related:Ok", "", "",
       "Ignoring related updates check result: Ok reported again for new map names while no check result "
       "is on show"},
      {"MapUpdateCheck+stick", "Store:EUR=Available Names Root:Ok Related:Ok", "OptionalUpdate",
       "SetState(OptionalUpdate)",
       "Ignoring root updates check result: Ok reported again for new map names while a map update check "
       "runs"},
  });
}

// The removal of the active stick, and the cancel of a map operation.
TEST(Reactions, OfTheStickRemovedAndTheCancel)
{
  ExpectReactions({
      // The removal is shown when it cut a map operation short (or might have).
      {"MapUpdateCheck+stick UsbCheck MapDownload CancelDownload ServerError+download", "Remove",
       "MapUpdateCheck", RemovedAndShown, Removed},
      {"OptionalUpdate MandatoryUpdate MetadataCorrupt NoSubscription PendingUpdate NoConnection+stick "
       "ServerError+stick",
       "Remove", "MapUpdateCheck", Leaves, Removed},
      // A download stopped by the stick: the next stick gets a check of its own.
      {"UpToDate SubscriptionExpired UsbFull UsbBlocked UsbTooSmall", "Remove", "MapUpdateCheck", Leaves,
       "Switching to MapUpdateCheck state"},
      {"MapDownload PendingUpdate NoConnection ServerError+stick UsbBlocked UsbFull UsbTooSmall", "Cancel",
       "CancelDownload", "", Cancelling},
  });
}

TEST(Reactions, OfTheDownloadAndTheRemoval)
{
  std::vector<Reaction> reactions = {
      {"MapDownload", "Started", "", "SetState(MapDownload)", "Got MapDownloadStarted event"},
      {"MapDownload", "Finished:Ok", "PendingUpdate", "SetState(PendingUpdate)",
       "Got FinishDownload event: switching to PendingUpdate state"},
      // A stick whose mount path has gone is forgotten at once, as its
      // removal from the mount table will be.
      {"MapDownload CancelDownload", "Finished:UsbRemoved", "MapUpdateCheck", RemovedAndShown,
       "Usb: 11 has gone: its mount path is no more"},
      {"MapDownload", "Insert Checked:ValidMetadata Retry Quit", "", "UpdateUsbs ConfirmQuit", Asked},
      // A check report that arrives meanwhile is not the operation's result.
      {"MapDownload", "Related:NoConnection Related:UsbRemoved Root:ServerError", "", "",
       "Ignoring related updates check result: NoConnection while a map operation runs"},
      {"CancelDownload", "Root:NoConnection", "", "",
       "Ignoring root updates check result: NoConnection while a map operation runs"},
      {"CancelDownload", "Started", "", "SetState(CancelDownload)", "Got MapDeletionStarted event"},
      // The operation's own report of a removal already acted on is stale.
      {"MapDownload", "Remove Finished:UsbRemoved", "MapUpdateCheck", RemovedAndShown, Removed},
      {"CancelDownload", "Remove Finished:Aborted", "MapUpdateCheck", RemovedAndShown, Removed},
      // A result before the removal started is the cancelled download's,
      // which ended just as the user cancelled; the removal's own ends it.
      {"CancelDownload+asked", "Finished:Ok Finished:UsbBlocked Finished:Aborted Started Finished:Aborted",
       "OptionalUpdate", "SetState(CancelDownload) SetState(OptionalUpdate)",
       "Ignoring map operation result: Ok of the download being cancelled"},
      {"CancelDownload+asked", "Remove", "MapUpdateCheck", RemovedAndShown, Removed},
      // A removal that left files behind is told, and can be cancelled again.
      {"CancelDownload", "Finished:UsbBlocked Cancel", "CancelDownload", "SetState(UsbBlocked)",
       "Got UsbBlocked event: switching to UsbBlocked state"},
      {"CancelDownload", "Retry Download Insert Quit", "", "ConfirmQuit", Asked},
      // Without a map to download (gone from the store, or already on the
      // stick) the download goes back to the check.
      {"MapDownload", "Finished:NoConnection Store:EUR=Unknown Retry", "MapUpdateCheck",
       "SetState(NoConnection) SetState(MapUpdateCheck)",
       "Got NoConnection event: switching to NoConnection state"},
      {"OptionalUpdate", "Store:DONE=Pending Download:DONE", "MapUpdateCheck", "SetState(MapUpdateCheck)",
       Downloads},
      // Before any outcome was ever left the return shows the optional update.
      {"NoConnection", "Cancel Started Finished:Aborted", "OptionalUpdate", "SetState(OptionalUpdate)",
       Cancelling},
  };
  // Each failure of the download shows its state.
  for (const std::string result : {"UsbBlocked", "UsbFull", "UsbTooSmall", "ServerError", "NoConnection"})
    reactions.push_back({"MapDownload", "Finished:" + result, result, "SetState(" + result + ")",
                         "Got " + result + " event: switching to " + result + " state"});
  // Any other end of the removal leads to the outcome shown before.
  for (const std::string result :
       {"Aborted", "Ok", "UsbFull", "UsbTooSmall", "NoConnection", "ServerError"}) {
    const std::string event = result == "Aborted" ? "CancelDownload"
                              : result == "Ok"    ? "FinishDownload"
                                                  : result;
    reactions.push_back({"CancelDownload", "Finished:" + result, "OptionalUpdate", "SetState(OptionalUpdate)",
                         "Got " + event + " event"});
  }
  ExpectReactions(reactions);
}

TEST(MapUpdateCheck, AStickWithoutMetadataTurnsTheCheckIntoARootCheckOnce)
{
  MachineHarness h;
  Outcome(Check::NoMetadata, {})(h);
  ASSERT_TRUE(h.WaitForCommands(2));
  EXPECT_EQ(h.Commands(), (Strings{"CheckMapUpdates", "CheckMapUpdates"}));
  const UsbInfo active = UsbStorage::Get().GetActiveUsb();
  EXPECT_EQ(active.id, StickA);
  EXPECT_EQ(active.state, UsbInfo::NoMetadata);
  EXPECT_EQ(active.path, "/media/stick") << "only the state changes";
  h.Root(Check::Ok);
  EXPECT_EQ(h.Leaf(), "RootUpdate");

  // A root check that finds no metadata neither stores a stick without id nor checks again.
  for (const bool stick : {false, true}) {
    MachineHarness root;
    RootChecked(Check::NoMetadata, stick)(root);
    EXPECT_EQ(root.Leaf(), "RootUpdate");
    EXPECT_EQ(root.Commands(), Strings{"CheckMapUpdates"});
    EXPECT_FALSE(UsbStorage::Get().GetUsb(0).Valid());
    EXPECT_EQ(UsbStorage::Get().GetUsbs(UsbInfo::NoMetadata).size(), stick ? 1u : 0u);
  }
}

// The map the user chose is downloaded, not one still downloading.
TEST(MapDownload, StartsTheChosenMap)
{
  MachineHarness chosen;
  MachineHarness::StoreMap("OTHER", MapInfo::Optional, MapInfo::Downloading);
  Outcome(Check::Ok, {MapInfo::Installed})(chosen);
  emit chosen.Ui().DownloadMap("INSTALLED");
  ASSERT_TRUE(chosen.WaitForCommands(2));
  EXPECT_EQ(chosen.Commands().back(), "DownloadMap(INSTALLED)");
}

TEST(CancelDownload, AbortsAndReturnsThroughTheHistoryToTheOutcomeShownBefore)
{
  // A download from the up-to-date outcome that failed, was retried (the
  // download starts anew each time), failed again and was cancelled.
  MachineHarness h;
  Outcome(Check::Ok, {MapInfo::Installed})(h);
  emit h.Ui().DownloadMap("INSTALLED");
  MachineHarness::StoreMap("INSTALLED", MapInfo::Installed, MapInfo::Downloading);
  h.OperationFinished(Download::NoConnection);
  emit h.Ui().Retry();
  h.OperationStarted();
  h.OperationFinished(Download::ServerError);
  emit h.Ui().Retry();
  h.OperationFinished(Download::ServerError);
  emit h.Ui().CancelDownload();
  h.OperationStarted();
  ASSERT_TRUE(h.WaitForCommands(5));
  EXPECT_EQ(h.Commands(), (Strings{"CheckMapUpdates", "DownloadMap(INSTALLED)", "DownloadMap(INSTALLED)",
                                   "DownloadMap(INSTALLED)", "AbortMapDownload"}));
  EXPECT_EQ(Joined(h.Ui().Calls()), "SetState(MapUpdateCheck) SetState(UpToDate) SetState(NoConnection) "
                                    "SetState(MapDownload) SetState(ServerError) SetState(ServerError)");
  h.OperationFinished(Download::Aborted);
  EXPECT_EQ(h.Leaf(), "UpToDate");
  EXPECT_EQ(UsbStorage::Get().GetActiveUsb().id, StickA);
}

TEST(CancelDownload, ChecksAnotherStickWithMetadataWhenTheActiveOneHasNone)
{
  // The state of the active stick, the other sticks, and the stick active
  // after the cancel (0: no change, the history is entered).
  using Others = std::vector<std::pair<UsbInfo::Id, UsbInfo::State>>;
  const std::vector<std::tuple<UsbInfo::State, Others, UsbInfo::Id>> cases = {
      {UsbInfo::NoMetadata, {{StickB, UsbInfo::InvalidMetadata}, {StickC, UsbInfo::ValidMetadata}}, StickC},
      {UsbInfo::NoMetadata, {{StickB, UsbInfo::InvalidMetadata}}, StickB},
      {UsbInfo::NoMetadata, {{StickB, UsbInfo::NoMetadata}}, 0},
      {UsbInfo::InvalidMetadata, {{StickB, UsbInfo::ValidMetadata}}, 0}};
  for (const auto& [activeState, others, nowActive] : cases) {
    MachineHarness h;
    MachineHarness::StoreActive(StickA, activeState);
    for (const auto& [id, state] : others)
      UsbStorage::Get().UpdateUsb(MachineHarness::Stick(id, state));
    RootChecked(Check::Ok)(h);
    emit h.Ui().DownloadMap("EUR");
    h.OperationFinished(Download::UsbTooSmall);
    emit h.Ui().CancelDownload();
    h.OperationStarted();
    h.Forget();
    h.OperationFinished(Download::Aborted);
    EXPECT_EQ(h.Leaf(), nowActive ? "MapUpdateCheck" : "RootUpdate");
    EXPECT_EQ(UsbStorage::Get().GetActiveUsb().id, nowActive ? nowActive : StickA);
    if (nowActive) {
      EXPECT_EQ(h.Ui().Calls(), Strings{"SetState(MapUpdateCheck)"}) << "no stick list refresh of its own";
    }
  }
}

TEST(ApplicationGuard, EmitsTheStartEventOnce)
{
  ApplicationGuard guard(nullptr);
  QSignalSpy events(&guard, &ApplicationGuard::ApplicationEvent);
  guard.Run();
  guard.Run();
  ASSERT_EQ(events.count(), 1);
  EXPECT_EQ(events[0][0].value<ApplicationGuard::Event>(), ApplicationGuard::Start);
}

// A later start of the application asks for the activation through the
// guard; the queued event reaches Common from every state, which brings the
// interface forward and leaves the state as it is.
TEST(ApplicationGuard, EmitsActivateOnEveryRequestAndCommonBringsTheInterfaceForwardFromEveryState)
{
  ApplicationGuard guard(nullptr);
  QSignalSpy events(&guard, &ApplicationGuard::ApplicationEvent);
  guard.RequestActivation();
  guard.Run();
  guard.RequestActivation();
  ASSERT_EQ(events.count(), 3);
  EXPECT_EQ(events[0][0].value<ApplicationGuard::Event>(), ApplicationGuard::Activate);
  EXPECT_EQ(events[1][0].value<ApplicationGuard::Event>(), ApplicationGuard::Start);
  EXPECT_EQ(events[2][0].value<ApplicationGuard::Event>(), ApplicationGuard::Activate);

  for (const auto& [situation, steps] : Situations) {
    SCOPED_TRACE(situation);
    MachineHarness h;
    ASSERT_NO_FATAL_FAILURE(Reach(h, situation));
    const std::string leaf = h.Leaf();
    h.Forget();
    h.Machine().RequestActivation();
    EXPECT_TRUE(h.Ui().Calls().empty()) << "queued, not processed at once";
    EXPECT_TRUE(QTest::qWaitFor([&] { return !h.Ui().Calls().empty(); }, 20000));
    EXPECT_EQ(h.Ui().Calls(), Strings{"Activate"});
    EXPECT_EQ(h.Leaf(), leaf);
    h.Stop();
    EXPECT_EQ(h.Messages(), Strings{"Got Activate event"});
  }
}

TEST(StateMachine, EntersCommonWhenTheLoopDeliversTheStartEventAndLeavesEveryStateOnQuit)
{
  {
    // Before the loop delivers the start event nothing but StartUp listens.
    StateMachine early;
    EXPECT_TRUE(early.terminated()) << "construction enters no state";
    early.initiate();
    Send(early, ApplicationGuard::Activate);
    EXPECT_NE(early.state_cast<const States::StartUp*>(), nullptr);
  }
  MachineHarness h;
  h.Start();
  EXPECT_EQ(QuitCodeOf([&] { Send(h.Machine(), ApplicationGuard::Quit); }), 0);
  EXPECT_TRUE(h.Machine().terminated());
  EXPECT_THROW(Send(h.Machine(), static_cast<ApplicationGuard::Event>(7)), std::logic_error);
  h.Stop();
  EXPECT_EQ(h.Messages(), (Strings{"Entered StartUp state", "Got StartUp event; switching to Common state",
                                   "Entered Common state", "Entered NetworkOperation state",
                                   "Entered MapUpdateCheck state"}));
}

TEST(Common, EndingTheMachineDeletesEachManagerOnItsThreadAndTheInterfaceLast)
{
  MachineHarness h;
  h.Start();
  ASSERT_NE(h.UsbThread(), QThread::currentThread());
  ASSERT_NE(h.ManagerThread(), QThread::currentThread());
  ASSERT_NE(h.UsbThread(), h.ManagerThread());
  // Commands queued just before the end still run before the manager goes.
  emit h.Ui().UpdateLocale();
  emit h.Ui().UpdateLocale();
  h.Stop();
  EXPECT_EQ(h.Commands(), (Strings{"CheckMapUpdates", "UpdateLocale", "UpdateLocale"}));
  for (const auto& command : h.Journal())
    EXPECT_EQ(command.thread, h.ManagerThread());
  const std::map<std::string, QThread*> threads = {{"ui", QThread::currentThread()},
                                                   {"usb manager", h.UsbThread()},
                                                   {"update manager", h.ManagerThread()}};
  const auto deletions = h.Deletions();
  ASSERT_EQ(deletions.size(), 3u);
  EXPECT_EQ(deletions.back().text, "ui");
  for (const auto& [what, thread] : deletions)
    EXPECT_EQ(thread, threads.at(what)) << what;
}

TEST(Common, TheFirstSuccessfulRootCheckStartsTheStickDiscoveryOnce)
{
  MachineHarness h;
  Reach(h, "NoConnection");
  emit h.Ui().Retry();
  h.Root(Check::Ok);
  emit h.Ui().UpdateLocale();
  h.Root(Check::Ok);
  EXPECT_EQ(h.Leaf(), "RootUpdate");
  h.Stop();
  const Strings messages = h.AllMessages();
  const auto started = std::find(messages.begin(), messages.end(), "Starting USB discovery");
  ASSERT_NE(started, messages.end());
  EXPECT_NE(std::find(messages.begin(), started, "Got RootUpdate event: switching to RootUpdate state"),
            started)
      << "no stick before the service answered";
  EXPECT_EQ(std::count(messages.begin(), messages.end(), "Starting USB discovery"), 1);
}

TEST(Common, ChoosesTheActiveStickWhenAStickIsChecked)
{
  // By name: the state of the stick active before (if any), the state of the
  // stick checked, the state of a map in work (Unknown: none), and whether
  // the stick checked becomes active.
  const std::vector<
      std::tuple<std::string, std::optional<UsbInfo::State>, UsbInfo::State, MapInfo::State, bool>>
      cases = {
          {"first stick", std::nullopt, UsbInfo::NoMetadata, MapInfo::Unknown, true},
          {"valid replaces none", UsbInfo::NoMetadata, UsbInfo::ValidMetadata, MapInfo::Unknown, true},
          {"invalid replaces none", UsbInfo::NoMetadata, UsbInfo::InvalidMetadata, MapInfo::Unknown, true},
          {"not while pending", UsbInfo::NoMetadata, UsbInfo::ValidMetadata, MapInfo::Pending, false},
          {"not while downloading", UsbInfo::NoMetadata, UsbInfo::ValidMetadata, MapInfo::Downloading, false},
          {"not while deleting", UsbInfo::NoMetadata, UsbInfo::ValidMetadata, MapInfo::Deleting, false},
          {"none never replaces", UsbInfo::ValidMetadata, UsbInfo::NoMetadata, MapInfo::Unknown, false},
          {"valid keeps invalid", UsbInfo::InvalidMetadata, UsbInfo::ValidMetadata, MapInfo::Unknown, false}};
  for (const auto& [name, active, added, mapInWork, becomesActive] : cases) {
    MachineHarness h;
    if (active)
      MachineHarness::StoreActive(1, *active);
    if (mapInWork != MapInfo::Unknown)
      MachineHarness::StoreMap("EUR", MapInfo::Optional, mapInWork);
    h.Start();
    h.Root(Check::ServerError); // a state that drops the stick's event
    h.StickChecked(MachineHarness::Stick(2, added, "/media/new"));
    EXPECT_EQ(UsbStorage::Get().GetActiveUsb().id, becomesActive ? 2u : 1u) << name;
  }
}

TEST(Common, ARemovedActiveStickHandsOverToTheBestStickLeft)
{
  MachineHarness h;
  RootChecked(Check::ServerError)(h);
  for (const auto& [id, state] : {std::pair{1u, UsbInfo::ValidMetadata},
                                  {2u, UsbInfo::NoMetadata},
                                  {3u, UsbInfo::InvalidMetadata},
                                  {4u, UsbInfo::NoMetadata}})
    h.StickChecked(MachineHarness::Stick(id, state));
  ASSERT_EQ(UsbStorage::Get().GetActiveUsb().id, 1u);

  h.Forget();
  h.StickRemoved(99); // gone before its check stored it
  h.StickRemoved(2);  // not the active stick
  EXPECT_EQ(Joined(h.Ui().Calls()), "UpdateUsbs UpdateUsbs");
  EXPECT_EQ(UsbStorage::Get().GetActiveUsb().id, 1u);
  EXPECT_EQ(h.Leaf(), "ServerError") << "no event for a stick that was not active";

  const std::vector<std::pair<UsbInfo::Id, UsbInfo::Id>> handovers = {
      {1, 3},  // invalid metadata before none
      {3, 4},  // a stick without metadata when no other is left
      {4, 0}}; // the last stick is gone, and its removal is still an event
  for (const auto& [removed, next] : handovers) {
    h.Forget();
    h.StickRemoved(removed);
    EXPECT_EQ(UsbStorage::Get().GetActiveUsb().id, next) << removed;
    EXPECT_EQ(Joined(h.Ui().Calls()), "UpdateUsbs SetState(MapUpdateCheck)") << removed;
    h.Related(Check::ServerError);
  }
}

TEST(Common, AReportNoSourceShouldProduceEndsTheApplicationInOrderWithExitCodeOne)
{
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"Root:NoSubscription", "Failed to check root updates: result is not supported"},
      {"Related:8", "Failed to check related updates: result is not supported"},
      {"Related:Ok", "Failed to check related updates: no valid map found"}};
  for (const auto& [report, error] : cases) {
    MachineHarness h;
    h.Start();
    EXPECT_EQ(QuitCodeOf([&, report = report] { Fire(h, report); }), 1) << error;
    EXPECT_EQ(h.Leaf(), "MapUpdateCheck") << "no event was delivered: " << error;
    EXPECT_EQ(h.Ui().Calls(), Strings{"SetState(MapUpdateCheck)"});
    h.Stop();
    EXPECT_EQ(h.Messages().back(), "Caught unhandled error: " + error);
  }
}

TEST(UiInterface, AStateTravelsThroughAQueuedCallByItsName)
{
  RecordingUi ui;
  ASSERT_TRUE(QMetaObject::invokeMethod(&ui, "SetState", Qt::QueuedConnection, Q_ARG(State, State::UsbFull)));
  QCoreApplication::sendPostedEvents();
  EXPECT_EQ(ui.Calls(), Strings{"SetState(UsbFull)"});
}
