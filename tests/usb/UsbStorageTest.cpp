#include "usb/UsbStorage.h"
#include "usb/UsbInfo.h"

#include "LogCapture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace {

UsbInfo Stick(UsbInfo::Id id, UsbInfo::State state, bool active = false)
{
  UsbInfo usb;
  usb.id = id;
  usb.path = "/media/stick" + std::to_string(id);
  usb.capacity = 1000 * id;
  usb.available = 10 * id;
  usb.state = state;
  usb.active = active;
  return usb;
}

void ExpectLogicError(const std::function<void()>& call, const std::string& message)
{
  try {
    call();
    ADD_FAILURE() << "no exception, expected: " << message;
  } catch (const std::logic_error& error) {
    EXPECT_EQ(error.what(), message);
  }
}

} // namespace

TEST(UsbStorageTest, StoresWholeRecordsListedOnlyUnderTheirCurrentState)
{
  LogCapture log;
  UsbStorage store;
  EXPECT_TRUE(store.Empty());
  EXPECT_FALSE(store.GetUsb(5).Valid());
  store.UpdateUsb(Stick(1, UsbInfo::ValidMetadata));
  store.UpdateUsb(Stick(2, UsbInfo::NoMetadata));
  store.UpdateUsb(Stick(3, UsbInfo::InvalidMetadata));
  EXPECT_EQ(store.GetUsb(1), Stick(1, UsbInfo::ValidMetadata));
  EXPECT_EQ(store.GetUsbs(UsbInfo::NoMetadata).count(2), 1u);

  // The stick with valid metadata is marked as having none (as the state
  // machine does when the update check finds no metadata): it leaves the
  // list of valid sticks, and the whole record is replaced.
  UsbInfo changed = Stick(1, UsbInfo::NoMetadata);
  changed.path = "/media/other";
  store.UpdateUsb(changed);
  EXPECT_EQ(store.GetUsb(1), changed);
  EXPECT_TRUE(store.GetUsbs(UsbInfo::ValidMetadata).empty());
  const auto noMetadata = store.GetUsbs(UsbInfo::NoMetadata);
  ASSERT_EQ(noMetadata.size(), 2u);
  EXPECT_EQ(noMetadata.at(1).state, UsbInfo::NoMetadata);
  EXPECT_EQ(store.GetUsbs(UsbInfo::InvalidMetadata).size(), 1u);

  for (const UsbInfo::Id id : {2, 1, 3})
    store.RemoveUsb(id);
  EXPECT_TRUE(store.GetUsbs(UsbInfo::NoMetadata).empty());
  EXPECT_TRUE(store.GetUsbs(UsbInfo::InvalidMetadata).empty());
  EXPECT_TRUE(store.Empty());
  EXPECT_TRUE(log.Contains("Removing usb: 3"));

  std::ostringstream names;
  names << UsbInfo::ValidMetadata << "|" << static_cast<UsbInfo::State>(3) << "|";
  EXPECT_EQ(names.str(), "ValidMetadata||");
}

TEST(UsbStorageTest, OneActiveStickAtATime)
{
  UsbStorage store;
  store.UpdateUsb(Stick(1, UsbInfo::NoMetadata));
  EXPECT_FALSE(store.GetActiveUsb().Valid()) << "a record with the flag clear activates nothing";

  store.UpdateUsb(Stick(1, UsbInfo::NoMetadata, true));
  EXPECT_EQ(store.GetActiveUsb().id, 1u);
  store.UpdateUsb(Stick(2, UsbInfo::ValidMetadata, true));
  EXPECT_EQ(store.GetActiveUsb().id, 2u);
  EXPECT_FALSE(store.GetUsb(1).active) << "the stick active before loses its flag";

  // Storing another stick with the flag clear, or the active stick from a
  // copy taken before it became active, leaves the active stick alone.
  store.UpdateUsb(Stick(3, UsbInfo::ValidMetadata));
  store.UpdateUsb(Stick(2, UsbInfo::InvalidMetadata));
  EXPECT_EQ(store.GetActiveUsb().id, 2u);
  EXPECT_EQ(store.GetActiveUsb().state, UsbInfo::InvalidMetadata);
  EXPECT_TRUE(store.GetUsb(2).active);
  EXPECT_FALSE(store.GetUsb(3).active);

  store.RemoveUsb(2);
  EXPECT_FALSE(store.GetActiveUsb().Valid());
  EXPECT_FALSE(store.GetActiveUsb().active);
  EXPECT_FALSE(store.GetUsb(1).active || store.GetUsb(3).active);

  // What the state machine would write back when it marks the active stick
  // after that stick was removed: the default record, flag set. A record
  // without id is never stored.
  UsbInfo none = store.GetActiveUsb();
  none.state = UsbInfo::NoMetadata;
  none.active = true;
  store.UpdateUsb(none);
  EXPECT_FALSE(store.GetActiveUsb().Valid());
  EXPECT_EQ(store.GetUsbs(UsbInfo::NoMetadata).size(), 1u);
}

TEST(UsbStorageTest, UnsupportedStatesAndUnknownSticksAreRefused)
{
  UsbStorage store;
  store.UpdateUsb(Stick(1, UsbInfo::ValidMetadata, true));
  ExpectLogicError([&] { store.GetUsbs(static_cast<UsbInfo::State>(3)); },
                   "Failed to get usbs: usb state is not supported");
  ExpectLogicError([&] { store.UpdateUsb(Stick(1, static_cast<UsbInfo::State>(-1))); },
                   "Failed to update usb: usb state is not supported");
  EXPECT_EQ(store.GetUsb(1).state, UsbInfo::ValidMetadata) << "a refused record changes nothing";
  ExpectLogicError([&] { store.RemoveUsb(9); }, "Failed to remove usb: usb is not found");
  // The lock was released: the store still works.
  EXPECT_EQ(store.GetActiveUsb().id, 1u);
}

TEST(UsbStorageTest, SpaceRefreshTouchesOnlyTheSpaceOfAStoredStick)
{
  UsbStorage store;
  store.UpdateUsb(Stick(1, UsbInfo::ValidMetadata, true));
  // The main thread marks the stick meanwhile; the refresh must keep that.
  UsbInfo marked = store.GetActiveUsb();
  marked.state = UsbInfo::NoMetadata;
  store.UpdateUsb(marked);

  EXPECT_TRUE(store.UpdateUsbSpace(1, 4096, 1024));
  UsbInfo expected = marked;
  expected.capacity = 4096;
  expected.available = 1024;
  const UsbInfo after = store.GetUsb(1);
  EXPECT_EQ(after, expected);
  EXPECT_EQ(after.state, UsbInfo::NoMetadata);
  EXPECT_TRUE(after.active);

  // The stick was removed meanwhile: nothing comes back.
  store.RemoveUsb(1);
  EXPECT_FALSE(store.UpdateUsbSpace(1, 4096, 1024));
  EXPECT_TRUE(store.Empty());
}

TEST(UsbStorageTest, ModifyChangesOnlyWhatTheChangeTouchesAndKeepsOneActiveStick)
{
  UsbStorage store;
  store.UpdateUsb(Stick(1, UsbInfo::ValidMetadata, true));
  store.UpdateUsb(Stick(2, UsbInfo::NoMetadata));

  int calls = 0;
  EXPECT_FALSE(store.ModifyUsb(9, [&](UsbInfo&) { ++calls; })) << "an unknown stick is not stored";
  EXPECT_FALSE(store.ActivateUsb(0));
  EXPECT_EQ(calls, 0);
  EXPECT_FALSE(store.GetUsb(9).Valid());

  // The id stays, and clearing the flag of the active stick keeps it active.
  EXPECT_TRUE(store.ModifyUsb(1, [](UsbInfo& usb) {
    usb.id = 7;
    usb.state = UsbInfo::NoMetadata;
    usb.active = false;
  }));
  UsbInfo expected = Stick(1, UsbInfo::NoMetadata, true);
  EXPECT_EQ(store.GetUsb(1), expected);
  EXPECT_FALSE(store.GetUsb(7).Valid());
  EXPECT_EQ(store.GetActiveUsb().id, 1u);

  EXPECT_TRUE(store.ActivateUsb(2));
  EXPECT_EQ(store.GetActiveUsb(), Stick(2, UsbInfo::NoMetadata, true)) << "only the flag changed";
  EXPECT_FALSE(store.GetUsb(1).active);

  ExpectLogicError(
      [&] { store.ModifyUsb(2, [](UsbInfo& usb) { usb.state = static_cast<UsbInfo::State>(5); }); },
      "Failed to update usb: usb state is not supported");
  EXPECT_EQ(store.GetUsb(2).state, UsbInfo::NoMetadata) << "a refused change changes nothing";
  EXPECT_TRUE(store.UpdateUsbSpace(2, 1, 2)) << "the lock was released";
}

// The USB thread refreshes a stick's space while the main thread changes its
// state and flag: each changes its own fields of the one record, many times
// at once. A change made as a read, a change and a write back would lose
// some of the other thread's changes.
TEST(UsbStorageTest, ConcurrentChangesOfDifferentFieldsAreNeverLost)
{
  constexpr int rounds = 20000;
  UsbStorage store;
  const UsbInfo before = Stick(1, UsbInfo::ValidMetadata, true);
  store.UpdateUsb(before);
  store.UpdateUsb(Stick(2, UsbInfo::ValidMetadata));

  std::atomic<int> ready{0};
  const auto startTogether = [&ready] {
    ++ready;
    while (ready < 2)
      std::this_thread::yield();
  };
  std::thread usbThread([&] {
    startTogether();
    for (int i = 0; i < rounds; ++i)
      store.ModifyUsb(1, [](UsbInfo& usb) {
        std::this_thread::yield(); // the other thread may run in the middle of the change
        ++usb.capacity;
        usb.available += 2;
      });
  });
  startTogether();
  std::uint64_t path = 0;
  for (int i = 0; i < rounds; ++i) {
    store.ModifyUsb(1, [&path](UsbInfo& usb) {
      std::this_thread::yield();
      usb.path = std::to_string(++path);
      usb.state = usb.state == UsbInfo::ValidMetadata ? UsbInfo::InvalidMetadata : UsbInfo::ValidMetadata;
    });
    store.ActivateUsb(i % 2 ? 1 : 2);
  }
  usbThread.join();

  const UsbInfo usb = store.GetUsb(1);
  EXPECT_EQ(usb.capacity, before.capacity + rounds);
  EXPECT_EQ(usb.available, before.available + 2 * rounds);
  EXPECT_EQ(usb.path, std::to_string(rounds));
  EXPECT_EQ(usb.state, UsbInfo::ValidMetadata);
  EXPECT_EQ(store.GetActiveUsb().id, 1u);
  EXPECT_FALSE(store.GetUsb(2).active);
}
