// The names a download writes under and the folders it may empty or remove.

#include "fmu/FullMapFolder.h"
#include "DownloadSupport.h"
#include "usb/UsbStorage.h"

#include <gtest/gtest.h>

using namespace TestSupport;
using Check = FullMapFolder::Check;

TEST(FullMapFolderTest, TheArchiveFolderIsTheLastUrlComponentWithoutItsExtension)
{
  const std::pair<const char*, const char*> cases[] = {
      {"https://cdn.example/maps/EUR_2024.06.tar", "EUR_2024.06"},
      {"https://cdn.example/maps/EUR.tar?token=a.b/c#x.y", "EUR"},
      {"https://cdn.example/maps/map%20v2.tar", "map v2"},
      // No single safe component: refused.
      {"https://cdn.example/maps/", ""},
      {"https://cdn.example/..", ""},
      {"https://cdn.example/...tar", ""},
      {"https://cdn.example/a/..%2F..%2Fetc.tar", ""},
      {"https://cdn.example/a/x%5Cy.tar", ""},
      {"https://cdn.example/a/x%0Ay.tar", ""},
      {"no url", ""},
  };
  for (const auto& [url, name] : cases)
    EXPECT_EQ(FullMapFolder::ArchiveName(url), name) << url;
}

TEST(FullMapFolderTest, OnlyTheFullMapFolderOfAKnownStickMayBeRemoved)
{
  DataHome home;
  ActiveStick stick;
  const std::string mount = stick.Path();
  // A stick whose mount path is written with a trailing slash, one at the
  // root and one without mount path: the last two hold nothing.
  const std::pair<UsbInfo::Id, std::string> others[] = {{99, mount + "-slash/"}, {7, "/"}, {8, ""}};
  for (const auto& [id, path] : others)
    UsbStorage::Get().UpdateUsb({id, path});

  const std::pair<std::string, Check> cases[] = {
      {stick.FullMapFolder().string(), Check::Safe},
      {mount + "/sub/OrvaneNDSFull", Check::Safe},
      {mount + "-slash/OrvaneNDSFull", Check::Safe},
      // Malformed whatever the stick store holds.
      {"OrvaneNDSFull", Check::Malformed},
      {mount, Check::Malformed},
      {mount + "/OrvaneNDSUpdate", Check::Malformed},
      {mount + "/x/../OrvaneNDSFull", Check::Malformed},
      {mount + "/./OrvaneNDSFull", Check::Malformed},
      // Well formed, but on no stick: a folder beside the stick, a stick
      // whose name only starts like the mount path, the computer's own folders.
      {mount + "-other/OrvaneNDSFull", Check::NotOnStick},
      {"/OrvaneNDSFull", Check::NotOnStick},
      {"/tmp/OrvaneNDSFull", Check::NotOnStick},
  };
  for (const auto& [path, expected] : cases) {
    std::string why;
    EXPECT_EQ(FullMapFolder::CheckRemovalTarget(path, &why), expected) << path << ": " << why;
  }

  // Once the stick has left the store, its folder is no target any more.
  ClearStores();
  std::string why;
  EXPECT_EQ(FullMapFolder::CheckRemovalTarget(stick.FullMapFolder(), &why), Check::NotOnStick);
  EXPECT_FALSE(why.empty());
}
