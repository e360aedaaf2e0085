#include "util/Descriptor.h"

#include "TmpfsMount.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <boost/filesystem/operations.hpp>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <fstream>
#include <functional>

namespace fs = boost::filesystem;

namespace {

// Records a walk: each folder's path, then "<path> left <name>", each failure.
struct Recorder : Descriptor::Visitor
{
  bool Visit(const Descriptor&, const std::string& path, const std::vector<Descriptor::Entry>& entries,
             std::vector<std::string>& enter) override
  {
    lines.push_back("visit " + path);
    for (const auto& entry : entries)
      if (S_ISDIR(entry.status.st_mode))
        enter.push_back(entry.name);
    if (onVisit)
      onVisit(path);
    return true;
  }
  bool Leave(const Descriptor&, const std::string& path, const std::string& name) override
  {
    lines.push_back("leave " + path + " " + name);
    return true;
  }
  bool Failed(const std::string& path, int error) override
  {
    errors.push_back({path, error});
    return true;
  }

  std::vector<std::string> lines;
  std::vector<std::pair<std::string, int>> errors;
  std::function<void(const std::string&)> onVisit;
};

} // namespace

TEST(DescriptorTest, RefusesLinksOtherKindsAndWrongTypes)
{
  QTemporaryDir dir;
  const std::string root = dir.path().toStdString();
  fs::create_directories(root + "/folder");
  ASSERT_EQ(::mkfifo((root + "/pipe").c_str(), 0600), 0);
  fs::create_directory_symlink(root + "/folder", root + "/folder-link");
  std::ofstream(root + "/file") << "x";
  fs::create_symlink(root + "/file", root + "/file-link");

  const Descriptor folder = Descriptor::OpenFolderPath(root);
  ASSERT_TRUE(folder.Valid());
  // The name, opened as a folder or as a file, and the error (0: opens).
  const std::tuple<const char*, bool, int> cases[] = {
      {"folder", true, 0},        {"folder-link", true, ENOTDIR},
      {"file", true, ENOTDIR},    {"missing", true, ENOENT},
      {"file", false, 0},         {"file-link", false, ELOOP},
      {"folder", false, EINVAL},  {"pipe", false, EINVAL},
      {"missing", false, ENOENT},
  };
  for (const auto& [name, asFolder, error] : cases) {
    SCOPED_TRACE(std::string(name) + (asFolder ? " as folder" : " as file"));
    errno = 0;
    const Descriptor opened = asFolder ? folder.OpenFolder(name) : folder.OpenFile(name, O_RDONLY);
    EXPECT_EQ(opened.Valid(), error == 0);
    if (error != 0) {
      EXPECT_EQ(errno, error);
    }
  }
  // Made when missing, and a file in place of a folder is not one.
  EXPECT_TRUE(folder.MakeFolder("new").Valid());
  EXPECT_TRUE(fs::is_directory(root + "/new"));
  EXPECT_FALSE(folder.MakeFolder("file").Valid());
  EXPECT_EQ(errno, ENOTDIR);

  // Another file system mounted inside is never entered.
  if (TmpfsMount::Allowed()) {
    TmpfsMount other(root + "/folder");
    ASSERT_TRUE(other.Mounted()) << other.Error();
    errno = 0;
    EXPECT_FALSE(folder.OpenFolder("folder").Valid());
    EXPECT_EQ(errno, EXDEV);
  }
}

// Deeper than the folders a walk keeps open: the way back goes through "..",
// and a folder moved away meanwhile ends the walk instead of leading it
// somewhere else.
TEST(DescriptorTest, AWalkFindsItsWayBackFromAnyDepthOrStops)
{
  QTemporaryDir dir;
  const std::string root = dir.path().toStdString();
  std::string deep = root + "/top";
  for (int i = 0; i < 60; ++i)
    deep += "/d";
  fs::create_directories(deep);
  fs::create_directories(root + "/top/side");

  Recorder walk;
  ASSERT_TRUE(Descriptor::OpenFolderPath(root).Walk(walk));
  EXPECT_EQ(walk.lines.size(), 2u * 63 - 1); // 63 folders, each left but the start
  EXPECT_TRUE(walk.errors.empty());
  EXPECT_EQ(walk.lines.back(), "leave  top");

  // At the bottom, the folder three levels down is moved beside the tree:
  // its ".." is no longer the folder the walk came from.
  Recorder moved;
  moved.onVisit = [&](const std::string& path) {
    if (std::count(path.begin(), path.end(), '/') == 60)
      fs::rename(root + "/top/d/d", root + "/elsewhere");
  };
  EXPECT_FALSE(Descriptor::OpenFolderPath(root).Walk(moved));
  ASSERT_EQ(moved.errors.size(), 1u);
  EXPECT_EQ(moved.errors[0], std::make_pair(std::string("top/d"), ESTALE));
}
