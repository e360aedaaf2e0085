#include "usb/UsbStorage.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

UsbInfo Stick(UsbInfo::Id id, UsbInfo::State state, bool active = false)
{
  return {id, "/media/stick" + std::to_string(id), 1000 * id, 10 * id, state, active};
}

} // namespace

TEST(UsbStorageTest, StoresWholeRecordsUnderTheirCurrentStateChangesOnlyTheFieldsAskedAndRefusesOthers)
{
  UsbStorage store;
  store.UpdateUsb(Stick(1, UsbInfo::ValidMetadata));
  store.UpdateUsb(Stick(2, UsbInfo::NoMetadata));
  // Marked as having no metadata, the stick leaves the list of valid sticks
  // and the whole record is replaced.
  UsbInfo changed = Stick(1, UsbInfo::NoMetadata);
  changed.path = "/media/other";
  store.UpdateUsb(changed);
  EXPECT_EQ(store.GetUsb(1), changed);
  EXPECT_TRUE(store.GetUsbs(UsbInfo::ValidMetadata).empty());
  EXPECT_EQ(store.GetUsbs(UsbInfo::NoMetadata).size(), 2u);

  EXPECT_THROW(store.GetUsbs(static_cast<UsbInfo::State>(3)), std::logic_error);
  EXPECT_THROW(store.UpdateUsb(Stick(1, static_cast<UsbInfo::State>(-1))), std::logic_error);
  EXPECT_THROW(store.ModifyUsb(2, [](UsbInfo& usb) { usb.state = static_cast<UsbInfo::State>(5); }),
               std::logic_error);
  EXPECT_THROW(store.RemoveUsb(9), std::logic_error);
  EXPECT_EQ(store.GetUsb(1), changed) << "a refused record changes nothing";
  EXPECT_EQ(store.GetUsb(2).state, UsbInfo::NoMetadata);
  store.RemoveUsb(1);
  store.RemoveUsb(2); // the lock was released after each refusal
  EXPECT_TRUE(store.Empty());

  // Modify and the space refresh change only their fields of a stored stick.
  store.UpdateUsb(Stick(1, UsbInfo::ValidMetadata, true));
  EXPECT_FALSE(store.ModifyUsb(9, [](UsbInfo&) { ADD_FAILURE(); })) << "an unknown stick is not stored";
  EXPECT_FALSE(store.UpdateUsbSpace(9, 1, 2));
  EXPECT_FALSE(store.GetUsb(9).Valid());
  // The id stays, and clearing the flag of the active stick keeps it active.
  EXPECT_TRUE(store.ModifyUsb(1, [](UsbInfo& usb) {
    usb.id = 7;
    usb.state = UsbInfo::NoMetadata;
    usb.active = false;
  }));
  UsbInfo expected = Stick(1, UsbInfo::NoMetadata, true);
  EXPECT_EQ(store.GetUsb(1), expected);
  EXPECT_TRUE(store.UpdateUsbSpace(1, 4096, 1024));
  expected.capacity = 4096;
  expected.available = 1024;
  EXPECT_EQ(store.GetUsb(1), expected) << "the state and the flag set meanwhile are kept";
}

TEST(UsbStorageTest, OneActiveStickAtATime)
{
  UsbStorage store;
  store.UpdateUsb(Stick(1, UsbInfo::NoMetadata));
  EXPECT_FALSE(store.GetActiveUsb().Valid()) << "a record with the flag clear activates nothing";
  store.UpdateUsb(Stick(1, UsbInfo::NoMetadata, true));
  store.UpdateUsb(Stick(2, UsbInfo::ValidMetadata, true));
  EXPECT_FALSE(store.GetUsb(1).active) << "the stick active before loses its flag";
  // Storing another stick with the flag clear, or the active stick from a
  // copy taken before it became active, leaves the active stick alone.
  store.UpdateUsb(Stick(3, UsbInfo::ValidMetadata));
  store.UpdateUsb(Stick(2, UsbInfo::InvalidMetadata));
  EXPECT_EQ(store.GetActiveUsb(), Stick(2, UsbInfo::InvalidMetadata, true));
  EXPECT_TRUE(store.ActivateUsb(1));
  EXPECT_EQ(store.GetActiveUsb(), Stick(1, UsbInfo::NoMetadata, true)) << "only the flag changed";
  EXPECT_FALSE(store.GetUsb(2).active);
  EXPECT_FALSE(store.ActivateUsb(0));
  store.RemoveUsb(1);
  EXPECT_FALSE(store.GetActiveUsb().Valid());

  // What the state machine would write back when it marks the active stick
  // after that stick was removed: the default record, flag set. A record
  // without id is never stored.
  UsbInfo none = store.GetActiveUsb();
  none.state = UsbInfo::NoMetadata;
  none.active = true;
  store.UpdateUsb(none);
  EXPECT_FALSE(store.GetActiveUsb().Valid());
  EXPECT_TRUE(store.GetUsbs(UsbInfo::NoMetadata).empty());
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
  for (int i = 0; i < rounds; ++i) {
    store.ModifyUsb(1, [i](UsbInfo& usb) {
      std::this_thread::yield();
      usb.path = std::to_string(i);
    });
    store.ActivateUsb(i % 2 ? 1 : 2);
  }
  usbThread.join();
  const UsbInfo usb = store.GetUsb(1);
  EXPECT_EQ(usb.capacity, before.capacity + rounds);
  EXPECT_EQ(usb.available, before.available + 2 * rounds);
  EXPECT_EQ(usb.path, std::to_string(rounds - 1));
  EXPECT_EQ(store.GetActiveUsb().id, 1u);
}
