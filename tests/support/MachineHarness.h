#pragma once

// The state machine as the application runs it: the real Common with its
// two worker threads, the real USB manager (whose discovery reads an empty
// made-up mount table), a recording user interface, and an update manager
// whose reports the test gives.
//
//   MachineHarness harness;          // data folder, stores emptied
//   harness.Start();                 // StartUp, Common, MapUpdateCheck
//   harness.Root(MetadataChecker::Ok);
//   EXPECT_EQ(harness.Leaf(), "RootUpdate");

#include "FakeUpdateManager.h"
#include "RecordingUi.h"

#include "DownloadSupport.h"
#include "FakeVolumes.h"
#include "LogCapture.h"

#include "sm/StateMachine.h"
#include "usb/UsbManager.h"
#include "usb/UsbStorage.h"

#include <QCoreApplication>
#include <QTest>

using TestSupport::ClearStores;

// Runs the event loop while `action` runs inside it. Returns the code the
// loop was ended with, or nothing when the loop was still running after it.
std::optional<int> QuitCodeOf(const std::function<void()>& action);

// The messages that the state machine's own files logged at Info or above
// among the log lines, in order.
std::vector<std::string> MachineMessages(const std::vector<std::string>& lines);

class MachineHarness
{
public:
  MachineHarness();
  ~MachineHarness();

  // Builds the machine and runs it up to the first map check.
  void Start();
  // Ends the machine (as main does when the event loop returns).
  void Stop()
  {
    machine.reset();
    ui = nullptr;
    usbManager = nullptr;
    manager = nullptr;
  }

  StateMachine& Machine() { return *machine; }
  RecordingUi& Ui() { return *ui; }
  // The innermost state's name ("MapUpdateCheck").
  std::string Leaf() const;

  // The update manager's reports, emitted on its thread and delivered.
  void Root(MetadataChecker::Result result) { Report(&FakeUpdateManager::RootUpdatesChecked, result); }
  void Related(MetadataChecker::Result result) { Report(&FakeUpdateManager::RelatedUpdatesChecked, result); }
  void NamesUpdated() { Report(&FakeUpdateManager::MapNamesUpdated); }
  void OperationStarted() { Report(&FakeUpdateManager::OperationStarted); }
  void OperationFinished(MapDownloader::Result result)
  {
    Report(&FakeUpdateManager::OperationFinished, result);
  }

  // The USB manager's reports. StickChecked stores the stick (not active, as
  // Stick makes it) as the manager does before it reports.
  void StickCheckStarted() { Deliver(&UsbManager::UsbCheckStarted); }
  void StickChecked(const UsbInfo& stick)
  {
    UsbStorage::Get().UpdateUsb(stick);
    Deliver(&UsbManager::UsbCheckComplete, stick.id);
  }
  void StickRemoved(UsbInfo::Id id) { Deliver(&UsbManager::UsbRemoved, id); }

  // The commands the update manager received, in order, with their threads.
  std::vector<FakeUpdateManager::Command> Journal() const { return journal->Commands(); }
  std::vector<std::string> Commands() const;
  // Waits until the update manager has received `count` commands in all.
  bool WaitForCommands(std::size_t count)
  {
    return QTest::qWaitFor([&] { return journal->Commands().size() >= count; }, 20000);
  }

  // Forgets the interface calls and log records so far.
  void Forget()
  {
    Ui().Clear();
    log = std::make_unique<LogCapture>();
  }
  // The machine's messages logged since the start or the last Forget (closes
  // the log capture), without the "Left Common state" of a machine that ended.
  std::vector<std::string> Messages();
  // Every message logged, of every part.
  std::vector<std::string> AllMessages() { return log->Messages(); }

  // What was deleted when the machine ended, in order ("ui", "usb manager",
  // "update manager"), with the thread that deleted it; and the threads the
  // managers ran on (known after Start).
  std::vector<FakeUpdateManager::Command> Deletions() const { return deletions->Commands(); }
  QThread* UsbThread() const { return usbThread; }
  QThread* ManagerThread() const { return managerThread; }

  // Stores a map record of a release of the region EUR.
  static void StoreMap(const std::string& id, MapInfo::Type type, MapInfo::State state);
  // A stick record as a check stores it.
  static UsbInfo Stick(UsbInfo::Id id, UsbInfo::State state, const std::string& path = "/media/stick");
  // Stores that stick as the active one.
  static void StoreActive(UsbInfo::Id id, UsbInfo::State state);

private:
  // Emits the update manager's signal on its thread and delivers it here.
  template <typename... Args>
  void Report(void (FakeUpdateManager::*signal)(Args...), Args... args)
  {
    QMetaObject::invokeMethod(
        manager, [=] { (manager->*signal)(args...); }, Qt::BlockingQueuedConnection);
    QCoreApplication::sendPostedEvents();
  }
  // Emits the USB manager's signal here and delivers it.
  template <typename... Args>
  void Deliver(void (UsbManager::*signal)(Args...), Args... args)
  {
    (usbManager->*signal)(args...);
    QCoreApplication::sendPostedEvents();
  }

  std::unique_ptr<LogCapture> log = std::make_unique<LogCapture>();
  FakeVolumes volumes;
  std::shared_ptr<FakeUpdateManager::Journal> journal = std::make_shared<FakeUpdateManager::Journal>();
  RecordingUi* ui = nullptr;
  UsbManager* usbManager = nullptr;
  FakeUpdateManager* manager = nullptr;
  std::unique_ptr<StateMachine> machine;
  QThread* usbThread = nullptr;
  QThread* managerThread = nullptr;
  std::shared_ptr<FakeUpdateManager::Journal> deletions = std::make_shared<FakeUpdateManager::Journal>();
};
