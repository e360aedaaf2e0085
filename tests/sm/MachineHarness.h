#pragma once

// The state machine as the application runs it: the real Common with its
// two worker threads, the real USB manager (whose discovery reads an empty
// made-up mount table), a recording user interface, and an update manager
// whose reports the test gives.
//
//   MachineHarness harness;          // data folder, stores emptied
//   harness.Start();                 // StartUp, Common, MapUpdateCheck
//   harness.Root(MetadataChecker::Ok);
//   EXPECT_TRUE(harness.In<States::RootUpdate>());

#include "FakeUpdateManager.h"
#include "RecordingUi.h"

#include "FakeVolumes.h"
#include "LogCapture.h"

#include "fmu/MapInfo.h"
#include "sm/StateMachine.h"
#include "usb/UsbInfo.h"

#include <QTemporaryDir>
#include <QThread>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class UsbManager;

// Points the data folder at a temporary folder (once per process) and builds
// the configuration from it.
void UseTestDataFolder();

// Empties the stick store and the map store.
void ClearStores();

// Runs the event loop while `action` runs inside it. Returns the code the
// loop was ended with when `action` ended it, or nothing when the loop was
// still running after it.
std::optional<int> QuitCodeOf(const std::function<void()>& action);

// A record that one of the state machine's own files wrote at Info or above.
struct MachineRecord
{
  std::string file;
  std::string function;
  std::string message;
};

// The state machine's records among the log lines, in order.
std::vector<MachineRecord> MachineRecords(const std::vector<std::string>& lines);
// Their messages alone.
std::vector<std::string> MachineMessages(const std::vector<std::string>& lines);

// The last `count` messages, or all of them when there are fewer.
std::vector<std::string> Last(const std::vector<std::string>& messages, std::size_t count);
// True when one of the messages is `text`.
bool Contains(const std::vector<std::string>& messages, const std::string& text);

class MachineHarness
{
public:
  MachineHarness();
  ~MachineHarness();

  MachineHarness(const MachineHarness&) = delete;
  MachineHarness& operator=(const MachineHarness&) = delete;

  // Builds the machine and runs it up to the first map check.
  void Start();
  // Ends the machine (as main does when the event loop returns).
  void Stop();

  StateMachine& Machine() { return *machine_; }
  RecordingUi& Ui();
  FakeUpdateManager::Journal& Journal() { return *journal_; }

  template <typename State>
  bool In() const
  {
    return machine_ && machine_->state_cast<const State*>() != nullptr;
  }

  // The update manager's reports, delivered through their queued connections.
  void Root(MetadataChecker::Result result);
  void Related(MetadataChecker::Result result);
  void OperationStarted();
  void OperationFinished(MapDownloader::Result result);

  // The USB manager's reports. StickChecked stores the stick (active flag
  // clear) as the manager does before it reports.
  void StickCheckStarted();
  void StickChecked(const UsbInfo& stick);
  void StickRemoved(UsbInfo::Id id);

  // Waits until the update manager has received `count` commands in all.
  bool WaitForCommands(std::size_t count);
  // The commands the update manager received, in order.
  std::vector<std::string> Commands() { return journal_->Texts(); }

  // What was deleted when the machine ended, in order, with the thread that
  // deleted it: "ui", "usb manager", "update manager".
  struct Deletion
  {
    std::string what;
    QThread* thread = nullptr;
  };
  std::vector<Deletion> Deletions() const;
  // The threads the managers ran on (known after Start).
  QThread* UsbThread() const { return usbThread_; }
  QThread* ManagerThread() const { return managerThread_; }

  // The machine's messages logged so far (closes the log capture), without
  // the last line of a machine that has ended ("Left Common state").
  std::vector<std::string> Messages();
  // The machine's records logged so far (closes the log capture).
  std::vector<MachineRecord> Records();
  // Every message logged so far, of every part.
  std::vector<std::string> AllMessages();

  // Stores a map record of a release of the region EUR.
  static MapInfo StoreMap(const std::string& id, MapInfo::Type type, MapInfo::State state);
  // A stick record as a check stores it.
  static UsbInfo Stick(UsbInfo::Id id, UsbInfo::State state, const std::string& path = "/media/stick");
  // Stores that stick as the active one.
  static void StoreActive(UsbInfo::Id id, UsbInfo::State state);

private:
  void DeliverQueued();

  std::unique_ptr<LogCapture> log_;
  FakeVolumes volumes_;
  std::shared_ptr<FakeUpdateManager::Journal> journal_;
  UsbManager* usbManager_ = nullptr;
  FakeUpdateManager* manager_ = nullptr;
  std::unique_ptr<StateMachine> machine_;
  QThread* usbThread_ = nullptr;
  QThread* managerThread_ = nullptr;
  struct DeletionLog
  {
    mutable std::mutex mutex;
    std::vector<Deletion> deletions;
    void Add(const std::string& what);
  };
  std::shared_ptr<DeletionLog> deletions_ = std::make_shared<DeletionLog>();
};
