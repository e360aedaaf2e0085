// The names a download writes under and the folders it may empty or remove.

#include "fmu/FullMapFolder.h"
#include "DownloadSupport.h"
#include "usb/UsbStorage.h"

#include <gtest/gtest.h>

using namespace DownloadSupport;
using Check = FullMapFolder::Check;

TEST(FullMapFolderTest, TheArchiveFolderIsTheLastUrlComponentWithoutItsExtension)
{
  EXPECT_EQ(FullMapFolder::ArchiveName("https://cdn.example/maps/EUR_2024.06.tar"), "EUR_2024.06");
  EXPECT_EQ(FullMapFolder::ArchiveName("https://cdn.example/maps/EUR.tar?token=a.b/c#x.y"), "EUR");
  EXPECT_EQ(FullMapFolder::ArchiveName("https://cdn.example/maps/NAM"), "NAM");
  EXPECT_EQ(FullMapFolder::ArchiveName("https://cdn.example/maps/map%20v2.tar"), "map v2");
}

TEST(FullMapFolderTest, AnArchiveNameThatIsNoSingleSafeComponentIsRefused)
{
  for (const char* url :
       {"https://cdn.example/maps/", "https://cdn.example/maps/.tar", "https://cdn.example/..",
        "https://cdn.example/...tar", "https://cdn.example/a/..%2F..%2Fetc.tar",
        "https://cdn.example/a/x%5Cy.tar", "https://cdn.example/a/x%0Ay.tar", "", "no url"})
    EXPECT_EQ(FullMapFolder::ArchiveName(url), "") << url;
}

TEST(FullMapFolderTest, OnlyTheFullMapFolderOfAKnownStickMayBeRemoved)
{
  DataHome home;
  Stick stick;
  const std::string mount = stick.Path();
  std::string why;

  EXPECT_EQ(FullMapFolder::CheckRemovalTarget(stick.FullMapFolder(), &why), Check::Safe) << why;
  EXPECT_EQ(FullMapFolder::CheckRemovalTarget(mount + "/sub/OrvaneNDSFull"), Check::Safe);

  // Malformed whatever the stick store holds.
  EXPECT_EQ(FullMapFolder::CheckRemovalTarget("OrvaneNDSFull"), Check::Malformed);
  EXPECT_EQ(FullMapFolder::CheckRemovalTarget(mount), Check::Malformed);
  EXPECT_EQ(FullMapFolder::CheckRemovalTarget(mount + "/OrvaneNDSUpdate"), Check::Malformed);
  EXPECT_EQ(FullMapFolder::CheckRemovalTarget(mount + "/x/../OrvaneNDSFull"), Check::Malformed);
  EXPECT_EQ(FullMapFolder::CheckRemovalTarget(mount + "/./OrvaneNDSFull"), Check::Malformed);
  EXPECT_EQ(FullMapFolder::CheckRemovalTarget(""), Check::Malformed);

  // Well formed, but on no stick: a folder beside the stick, a stick whose
  // name only starts like the mount path, the computer's own folders.
  EXPECT_EQ(FullMapFolder::CheckRemovalTarget(mount + "-other/OrvaneNDSFull"), Check::NotOnStick);
  EXPECT_EQ(FullMapFolder::CheckRemovalTarget("/OrvaneNDSFull"), Check::NotOnStick);
  EXPECT_EQ(FullMapFolder::CheckRemovalTarget("/home/OrvaneNDSFull"), Check::NotOnStick);

  // A mount path written with a trailing slash still holds its folder.
  UsbInfo slash;
  slash.id = 99;
  slash.path = mount + "-slash/";
  UsbStorage::Get().UpdateUsb(slash);
  EXPECT_EQ(FullMapFolder::CheckRemovalTarget(mount + "-slash/OrvaneNDSFull"), Check::Safe);
  UsbStorage::Get().RemoveUsb(99);

  // Once the stick has left the store, its folder is no target any more.
  stick.Forget();
  EXPECT_EQ(FullMapFolder::CheckRemovalTarget(stick.FullMapFolder(), &why), Check::NotOnStick);
  EXPECT_FALSE(why.empty());
}

TEST(FullMapFolderTest, AStickWithoutMountPathOrAtTheRootHoldsNothing)
{
  DataHome home;
  UsbInfo root;
  root.id = 7;
  root.path = "/";
  UsbStorage::Get().UpdateUsb(root);
  UsbInfo empty;
  empty.id = 8;
  UsbStorage::Get().UpdateUsb(empty);
  EXPECT_EQ(FullMapFolder::CheckRemovalTarget("/tmp/OrvaneNDSFull"), Check::NotOnStick);
  EXPECT_EQ(FullMapFolder::CheckRemovalTarget("/OrvaneNDSFull"), Check::NotOnStick);
  UsbStorage::Get().RemoveUsb(7);
  UsbStorage::Get().RemoveUsb(8);
}
