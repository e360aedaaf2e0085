#include "usb/UsbStorage.h"
#include "usb/UsbInfo.h"

#include "LogCapture.h"

#include <gtest/gtest.h>

#include <QMetaType>

#include <sstream>
#include <stdexcept>

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

std::string Text(UsbInfo::State state)
{
  std::ostringstream os;
  os << state;
  return os.str();
}

void ExpectLogicError(const std::function<void()>& call, const std::string& message)
{
  try {
    call();
    FAIL() << "no exception, expected: " << message;
  } catch (const std::logic_error& error) {
    EXPECT_EQ(error.what(), message);
  }
}

} // namespace

TEST(UsbInfoTest, StateNamesAndNothingForOtherValues)
{
  EXPECT_EQ(Text(UsbInfo::InvalidMetadata), "InvalidMetadata");
  EXPECT_EQ(Text(UsbInfo::NoMetadata), "NoMetadata");
  EXPECT_EQ(Text(UsbInfo::ValidMetadata), "ValidMetadata");
  EXPECT_EQ(Text(static_cast<UsbInfo::State>(3)), "");
  EXPECT_EQ(Text(static_cast<UsbInfo::State>(-1)), "");
}

TEST(UsbInfoTest, MetaTypesAreRegisteredByTheirNames)
{
  UsbInfo::RegisterMetaTypes();
  EXPECT_EQ(QMetaType::type("UsbInfo::Id"), qMetaTypeId<std::uint64_t>());
  EXPECT_EQ(QMetaType::type("uint64_t"), qMetaTypeId<std::uint64_t>());
  EXPECT_NE(QMetaType::type("UsbInfo"), 0);
  EXPECT_NE(QMetaType::type("UsbInfo::State"), 0);
}

TEST(UsbStorageTest, StoresCopiesAndReplacesWholeRecords)
{
  UsbStorage store;
  EXPECT_TRUE(store.Empty());
  EXPECT_FALSE(store.GetUsb(5).Valid());

  store.UpdateUsb(Stick(5, UsbInfo::ValidMetadata));
  EXPECT_FALSE(store.Empty());
  EXPECT_EQ(store.GetUsb(5), Stick(5, UsbInfo::ValidMetadata));

  UsbInfo changed = Stick(5, UsbInfo::InvalidMetadata);
  changed.path = "/media/other";
  changed.capacity = 1;
  changed.available = 0;
  store.UpdateUsb(changed);
  EXPECT_EQ(store.GetUsb(5), changed);

  // Changing a copy does not reach into the store.
  UsbInfo copy = store.GetUsb(5);
  copy.path = "/elsewhere";
  EXPECT_EQ(store.GetUsb(5).path, "/media/other");
}

TEST(UsbStorageTest, StickIsListedOnlyUnderItsCurrentState)
{
  UsbStorage store;
  store.UpdateUsb(Stick(1, UsbInfo::ValidMetadata));
  store.UpdateUsb(Stick(2, UsbInfo::NoMetadata));
  store.UpdateUsb(Stick(3, UsbInfo::InvalidMetadata));

  EXPECT_EQ(store.GetUsbs(UsbInfo::ValidMetadata).size(), 1u);
  EXPECT_EQ(store.GetUsbs(UsbInfo::NoMetadata).count(2), 1u);

  // The stick with valid metadata is marked as having none (as the state
  // machine does when the update check finds no metadata): it leaves the
  // list of valid sticks.
  UsbInfo changed = store.GetUsb(1);
  changed.state = UsbInfo::NoMetadata;
  store.UpdateUsb(changed);
  EXPECT_TRUE(store.GetUsbs(UsbInfo::ValidMetadata).empty());
  const auto noMetadata = store.GetUsbs(UsbInfo::NoMetadata);
  ASSERT_EQ(noMetadata.size(), 2u);
  EXPECT_EQ(noMetadata.at(1).state, UsbInfo::NoMetadata);
  for (const auto& entry : store.GetUsbs(UsbInfo::InvalidMetadata))
    EXPECT_EQ(entry.second.state, UsbInfo::InvalidMetadata);

  store.RemoveUsb(2);
  EXPECT_EQ(store.GetUsbs(UsbInfo::NoMetadata).size(), 1u);
  store.RemoveUsb(1);
  store.RemoveUsb(3);
  EXPECT_TRUE(store.GetUsbs(UsbInfo::NoMetadata).empty());
  EXPECT_TRUE(store.GetUsbs(UsbInfo::InvalidMetadata).empty());
  EXPECT_TRUE(store.Empty());
}

TEST(UsbStorageTest, OneActiveStickAtATime)
{
  UsbStorage store;
  store.UpdateUsb(Stick(1, UsbInfo::NoMetadata));
  EXPECT_FALSE(store.GetActiveUsb().Valid()) << "a record with the flag clear activates nothing";

  store.UpdateUsb(Stick(1, UsbInfo::NoMetadata, true));
  EXPECT_EQ(store.GetActiveUsb().id, 1u);
  EXPECT_TRUE(store.GetUsb(1).active);

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
  EXPECT_FALSE(store.GetUsb(1).active);
  EXPECT_FALSE(store.GetUsb(3).active);
}

TEST(UsbStorageTest, UnsupportedStatesAndUnknownSticksAreRefused)
{
  UsbStorage store;
  store.UpdateUsb(Stick(1, UsbInfo::ValidMetadata, true));

  ExpectLogicError([&] { store.GetUsbs(static_cast<UsbInfo::State>(3)); },
                   "Failed to get usbs: usb state is not supported");
  ExpectLogicError([&] { store.UpdateUsb(Stick(1, static_cast<UsbInfo::State>(-1))); },
                   "Failed to update usb: usb state is not supported");
  EXPECT_EQ(store.GetUsb(1), Stick(1, UsbInfo::ValidMetadata, true)) << "a refused record changes nothing";

  ExpectLogicError([&] { store.RemoveUsb(9); }, "Failed to remove usb: usb is not found");
  // The lock was released: the store still works.
  EXPECT_EQ(store.GetActiveUsb().id, 1u);
}

TEST(UsbStorageTest, RecordWithoutIdIsNeverStored)
{
  UsbStorage store;
  // What the state machine would write back when it marks the active stick
  // after that stick was removed: the default record, flag set.
  UsbInfo none = store.GetActiveUsb();
  none.state = UsbInfo::NoMetadata;
  none.active = true;
  store.UpdateUsb(none);
  EXPECT_TRUE(store.Empty());
  EXPECT_FALSE(store.GetActiveUsb().Valid());
  EXPECT_TRUE(store.GetUsbs(UsbInfo::NoMetadata).empty());
}

TEST(UsbStorageTest, RemovalIsLogged)
{
  LogCapture log;
  UsbStorage store;
  store.UpdateUsb(Stick(42, UsbInfo::NoMetadata));
  store.RemoveUsb(42);
  EXPECT_TRUE(log.Contains("Removing usb: 42"));
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
  const UsbInfo after = store.GetUsb(1);
  EXPECT_EQ(after.capacity, 4096u);
  EXPECT_EQ(after.available, 1024u);
  EXPECT_EQ(after.state, UsbInfo::NoMetadata);
  EXPECT_TRUE(after.active);
  EXPECT_EQ(after.path, "/media/stick1");

  // The stick was removed meanwhile: nothing comes back.
  store.RemoveUsb(1);
  EXPECT_FALSE(store.UpdateUsbSpace(1, 4096, 1024));
  EXPECT_TRUE(store.Empty());
  EXPECT_FALSE(store.GetActiveUsb().Valid());
}
