#include "usb/StickCheck.h"
#include "usb/ChecksumList.h"

#include "StickFolder.h"
#include "TmpfsMount.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <boost/filesystem/operations.hpp>

#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

namespace fs = boost::filesystem;

namespace {

const std::string Ok = StickFolder::Md5("ok");

struct Stick
{
  QTemporaryDir dir;
  std::string mount = dir.path().toStdString() + "/stick";
  StickFolder folder{mount};

  Stick() { fs::create_directories(mount); }

  StickCheck::Result Check(unsigned threads = 0) const
  {
    StickCheck check(mount, "OrvaneNDSUpdate", "OrvaneNDSUpdate/CHECKSUMS.MD5");
    check.SetThreads(threads);
    return check.Run();
  }

  // Where a test puts what must never be read: beside the stick.
  std::string Outside() const { return dir.path().toStdString() + "/outside"; }
};

// A stick as the vehicle writes it.
void Typical(StickFolder& folder)
{
  folder.Add("meta_data/GENERAL.JSON", R"({"subscription_end_date": "2027-03-31"})");
  folder.Add("meta_data/EUR_2024_06.xml", "<tns:package/>");
  folder.Add("data/chunk 1.bin", std::string(300000, 'x'));
  folder.Add("data/deep/er/part2.bin", "second");
  folder.Add("empty", "");
}

// Runs `call` on a thread of its own that, like an ordinary user, cannot
// override file permissions (root can; the file-permission capabilities are
// dropped for this thread and the threads it starts).
template <typename Call>
auto WithoutPermissionOverride(Call call)
{
  decltype(call()) result{};
  bool dropped = false;
  std::thread thread([&] {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    if (::syscall(SYS_capget, &header, data) == 0) {
      data[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
      dropped = ::syscall(SYS_capset, &header, data) == 0;
    }
    result = call();
  });
  thread.join();
  EXPECT_TRUE(dropped || ::geteuid() != 0) << "could not drop the file-permission capabilities";
  return result;
}

std::string Describe(const StickCheck::Result& result)
{
  std::ostringstream text;
  text << result.state << ": " << result.reason;
  return text.str();
}

} // namespace

// ----- the checksum file's lines ---------------------------------------------------------------

TEST(ChecksumListTest, AcceptsWhatMd5sumWrites)
{
  const std::string hash = "0123456789abcdefABCDEF0123456789";
  const std::string text = hash + "  plain.bin\n" +                   // text mode
                           hash + " *binary.bin\r\n" +                // binary mode, CR LF
                           "\n   \r\n\t\n" +                          // blank lines
                           hash + "\tsub/tabbed\n" +                  // a tab as white space
                           "\\" + hash + "  back\\\\slash\\nline\n" + // escaped name
                           hash + "  ./dot//parts/x\n" +              // made plain
                           hash + "  name with  spaces ";
  std::vector<ChecksumList::Entry> entries;
  std::string error;
  ASSERT_TRUE(ChecksumList::Parse(text, entries, error)) << error;
  std::vector<std::string> paths;
  for (const auto& entry : entries)
    paths.push_back(entry.path);
  EXPECT_EQ(paths, std::vector<std::string>({"plain.bin", "binary.bin", "sub/tabbed", "back\\slash\nline",
                                             "dot/parts/x", "name with  spaces "}));
  const ChecksumList::Digest expected = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef,
                                         0xAB, 0xCD, 0xEF, 0x01, 0x23, 0x45, 0x67, 0x89};
  EXPECT_EQ(entries[0].digest, expected);
}

TEST(ChecksumListTest, RefusesMalformedLinesAndUnsafePaths)
{
  const std::string hash(32, 'a');
  const std::vector<std::pair<std::string, std::string>> cases = {
      {hash.substr(1) + "  short", "Malformed line 1"},
      {hash + "a  long", "Malformed line 1"},
      {std::string(31, 'a') + "g  nothex", "Malformed line 1"},
      {hash + "name", "Malformed line 1"},
      {hash + "  ", "Malformed line 1"},
      {hash + " *", "Malformed line 1"},
      {hash, "Malformed line 1"},
      {"good file\n", "Malformed line 1"},
      {hash + "  ok\n" + "\\" + hash + "  bad\\escape", "Malformed line 2"},
      {hash + "  ok\n" + std::string("nul\0here", 8), "Malformed line 2"},
      {hash + "  /etc/passwd", "Absolute path: /etc/passwd"},
      {hash + "  ../outside", "Path leaves the update folder: ../outside"},
      {hash + "  meta_data/../../outside", "Path leaves the update folder"},
      {hash + "  a/..", "Path leaves the update folder"},
      {hash + "  ./", "Path names no file"},
      {hash + "  a\n" + std::string(32, 'b') + "  ./a", "Listed twice with different checksums: a"},
  };
  for (const auto& [text, expected] : cases) {
    std::vector<ChecksumList::Entry> entries;
    std::string error;
    EXPECT_FALSE(ChecksumList::Parse(text, entries, error)) << text;
    EXPECT_EQ(error.rfind(expected, 0), 0u) << "for " << text << " got: " << error;
  }

  std::vector<ChecksumList::Entry> entries;
  std::string error;
  EXPECT_TRUE(ChecksumList::Parse(hash + "  a\n" + hash + "  ./a\n", entries, error)) << error;
  EXPECT_EQ(entries.size(), 1u) << "the same file listed twice alike is checked once";
}

// ----- verdicts ---------------------------------------------------------------------------------

TEST(StickCheckTest, ValidWhenEveryFileIsListedAndMatches)
{
  Stick stick;
  Typical(stick.folder);
  // What desktop file managers add need not be listed.
  stick.folder.AddUnlisted(".DS_Store", "finder");
  stick.folder.AddUnlisted("meta_data/._GENERAL.JSON", "resource fork");
  stick.folder.AddUnlisted(".Trashes/501/old.bin", "trash");
  stick.folder.WriteChecksums();
  // Files outside the update folder are not the check's business.
  StickFolder::WriteFile(stick.mount + "/OrvaneNDSFull/map.bin", "map");
  StickFolder::WriteFile(stick.mount + "/notes.txt", "notes");

  for (const unsigned threads : {1u, 3u, 0u}) {
    const auto result = stick.Check(threads);
    EXPECT_EQ(result.state, UsbInfo::ValidMetadata) << Describe(result);
    EXPECT_EQ(result.files, 5u);
    EXPECT_EQ(result.bytes, 300000u + 2 * 0 + 6 + 39 + 14);
  }
}

TEST(StickCheckTest, NoMetadataWithoutUpdateFolderOrChecksumFile)
{
  Stick stick;
  StickFolder::WriteFile(stick.mount + "/music/song.mp3", "la");
  EXPECT_EQ(stick.Check().state, UsbInfo::NoMetadata) << "no update folder";

  stick.folder.Add("meta_data/GENERAL.JSON", "{}");
  EXPECT_EQ(stick.Check().state, UsbInfo::NoMetadata) << "no checksum file";

  Stick file;
  StickFolder::WriteFile(file.mount + "/OrvaneNDSUpdate", "a file, not a folder");
  EXPECT_EQ(file.Check().state, UsbInfo::NoMetadata);
}

TEST(StickCheckTest, InvalidWhenAFileDiffersIsMissingOrUnlisted)
{
  {
    Stick stick;
    Typical(stick.folder);
    stick.folder.WriteChecksums();
    StickFolder::WriteFile(stick.folder.UpdateFolder() + "/data/deep/er/part2.bin", "secoNd");
    const auto result = stick.Check();
    EXPECT_EQ(result.state, UsbInfo::InvalidMetadata);
    EXPECT_EQ(result.reason, "Checksum mismatch: data/deep/er/part2.bin");
  }
  {
    Stick stick;
    Typical(stick.folder);
    stick.folder.WriteChecksums();
    fs::remove(stick.folder.UpdateFolder() + "/meta_data/EUR_2024_06.xml");
    const auto result = stick.Check();
    EXPECT_EQ(result.state, UsbInfo::InvalidMetadata);
    EXPECT_NE(result.reason.find("meta_data/EUR_2024_06.xml"), std::string::npos) << result.reason;
  }
  {
    Stick stick;
    Typical(stick.folder);
    stick.folder.AddUnlisted("meta_data/extra.xml", "<x/>");
    stick.folder.WriteChecksums();
    const auto result = stick.Check();
    EXPECT_EQ(result.state, UsbInfo::InvalidMetadata);
    EXPECT_EQ(result.reason, "File not listed in the checksum file: meta_data/extra.xml");
  }
  {
    // A hidden file is checked once it is listed.
    Stick stick;
    Typical(stick.folder);
    stick.folder.AddLine(StickFolder::Md5("other") + "  .hidden");
    stick.folder.AddUnlisted(".hidden", "content");
    stick.folder.WriteChecksums();
    EXPECT_EQ(stick.Check().state, UsbInfo::InvalidMetadata);
  }
  {
    // A folder where a listed file should be.
    Stick stick;
    Typical(stick.folder);
    stick.folder.AddLine(StickFolder::Md5("") + "  data/deep");
    stick.folder.WriteChecksums();
    const auto result = stick.Check();
    EXPECT_EQ(result.state, UsbInfo::InvalidMetadata);
    EXPECT_EQ(result.reason, "Not a regular file: data/deep");
  }
}

TEST(StickCheckTest, FindsOneBadFileAmongMany)
{
  Stick stick;
  for (int i = 0; i < 400; ++i)
    stick.folder.Add("tiles/" + std::to_string(i % 7) + "/tile" + std::to_string(i),
                     std::to_string(i * 7919));
  stick.folder.WriteChecksums();
  EXPECT_EQ(stick.Check().state, UsbInfo::ValidMetadata);

  StickFolder::WriteFile(stick.folder.UpdateFolder() + "/tiles/3/tile213", "changed");
  for (const unsigned threads : {1u, 8u}) {
    const auto result = stick.Check(threads);
    EXPECT_EQ(result.state, UsbInfo::InvalidMetadata);
    EXPECT_EQ(result.reason, "Checksum mismatch: tiles/3/tile213");
  }
}

TEST(StickCheckTest, MalformedChecksumFileIsInvalid)
{
  for (const std::string& text : {std::string("not a checksum line\n"), Ok + "\n", Ok.substr(2) + "  ok\n",
                                  std::string("\xEF\xBB\xBF") + Ok + "  ok\n"}) {
    Stick stick;
    stick.folder.AddUnlisted("ok", "ok");
    stick.folder.WriteChecksumText(text);
    const auto result = stick.Check();
    EXPECT_EQ(result.state, UsbInfo::InvalidMetadata) << text;
    EXPECT_EQ(result.reason.rfind("Malformed line 1", 0), 0u) << result.reason;
  }

  // Well-formed variants of the same list.
  Stick stick;
  stick.folder.AddUnlisted("ok", "ok");
  stick.folder.AddUnlisted("sub/b", "ok");
  stick.folder.WriteChecksumText("\r\n" + Ok + " *ok\r\n\n" + Ok + "\t./sub//b\r\n");
  EXPECT_EQ(stick.Check().state, UsbInfo::ValidMetadata) << Describe(stick.Check());
}

TEST(StickCheckTest, EmptyChecksumFileForAnEmptyFolderIsValid)
{
  Stick stick;
  stick.folder.WriteChecksumText("");
  EXPECT_EQ(stick.Check().state, UsbInfo::ValidMetadata);
}

// ----- nothing outside the folder is read ---------------------------------------------------

TEST(StickCheckTest, PathsOutsideTheFolderAreInvalidEvenWhenTheirChecksumMatches)
{
  Stick stick;
  StickFolder::WriteFile(stick.mount + "/beside.txt", "beside");
  StickFolder::WriteFile(stick.Outside(), "secret");

  const std::vector<std::string> lines = {
      StickFolder::Md5("beside") + "  ../beside.txt",
      StickFolder::Md5("secret") + "  ../../outside",
      StickFolder::Md5("secret") + "  " + stick.Outside(),
      StickFolder::Md5("beside") + "  meta_data/../../beside.txt",
  };
  for (const auto& line : lines) {
    StickFolder folder(stick.mount);
    folder.Add("meta_data/GENERAL.JSON", "{}");
    folder.AddLine(line);
    folder.WriteChecksums();
    const auto result = stick.Check();
    EXPECT_EQ(result.state, UsbInfo::InvalidMetadata) << line;
  }
}

TEST(StickCheckTest, SymbolicLinksAreInvalidWhereverTheyPoint)
{
  const auto check = [](const std::function<void(Stick&)>& arrange) {
    Stick stick;
    StickFolder::WriteFile(stick.Outside(), "secret");
    stick.folder.Add("meta_data/GENERAL.JSON", "{}");
    arrange(stick);
    return stick.Check();
  };

  // A listed link whose target's checksum matches: following it would
  // make the stick valid.
  auto result = check([](Stick& stick) {
    fs::create_symlink(stick.Outside(), stick.folder.UpdateFolder() + "/link");
    stick.folder.AddLine(StickFolder::Md5("secret") + "  link");
    stick.folder.WriteChecksums();
  });
  EXPECT_EQ(result.state, UsbInfo::InvalidMetadata);
  EXPECT_EQ(result.reason.rfind("Symbolic link: link", 0), 0u) << result.reason;

  // A linked folder on the way to a listed file.
  result = check([](Stick& stick) {
    fs::create_directories(stick.Outside() + "-dir");
    StickFolder::WriteFile(stick.Outside() + "-dir/file", "secret");
    fs::create_directory_symlink(stick.Outside() + "-dir", stick.folder.UpdateFolder() + "/linked");
    stick.folder.AddLine(StickFolder::Md5("secret") + "  linked/file");
    stick.folder.WriteChecksums();
  });
  EXPECT_EQ(result.state, UsbInfo::InvalidMetadata);

  // An unlisted link, even one that points inside the folder.
  result = check([](Stick& stick) {
    fs::create_symlink("GENERAL.JSON", stick.folder.UpdateFolder() + "/meta_data/alias.json");
    stick.folder.WriteChecksums();
  });
  EXPECT_EQ(result.state, UsbInfo::InvalidMetadata);
  EXPECT_EQ(result.reason, "Symbolic link: meta_data/alias.json");

  // The checksum file itself, and the update folder itself.
  result = check([](Stick& stick) {
    StickFolder::WriteFile(stick.Outside(), StickFolder::Md5("{}") + "  meta_data/GENERAL.JSON\n");
    fs::create_symlink(stick.Outside(), stick.folder.ChecksumPath());
  });
  EXPECT_EQ(result.state, UsbInfo::InvalidMetadata);

  Stick linked;
  StickFolder elsewhere(linked.dir.path().toStdString() + "/real");
  elsewhere.Add("meta_data/GENERAL.JSON", "{}");
  elsewhere.WriteChecksums();
  fs::create_directory_symlink(elsewhere.UpdateFolder(), linked.folder.UpdateFolder());
  result = linked.Check();
  EXPECT_EQ(result.state, UsbInfo::InvalidMetadata);
  EXPECT_EQ(result.reason, "The update folder is a symbolic link");
}

TEST(StickCheckTest, PipesAndDevicesAreInvalidAndNeverBlock)
{
  {
    Stick stick;
    stick.folder.Add("meta_data/GENERAL.JSON", "{}");
    ASSERT_EQ(::mkfifo((stick.folder.UpdateFolder() + "/pipe").c_str(), 0600), 0);
    stick.folder.AddLine(StickFolder::Md5("") + "  pipe");
    stick.folder.WriteChecksums();
    const auto result = stick.Check();
    EXPECT_EQ(result.state, UsbInfo::InvalidMetadata);
    EXPECT_EQ(result.reason, "Not a regular file: pipe");
  }
  {
    // The checksum file as a pipe with no writer.
    Stick stick;
    fs::create_directories(stick.folder.UpdateFolder());
    ASSERT_EQ(::mkfifo(stick.folder.ChecksumPath().c_str(), 0600), 0);
    EXPECT_EQ(stick.Check().state, UsbInfo::InvalidMetadata);
  }
}

TEST(StickCheckTest, UnreadableFilesAndFoldersAreInvalid)
{
  Stick stick;
  Typical(stick.folder);
  stick.folder.WriteChecksums();
  const std::string file = stick.folder.UpdateFolder() + "/data/chunk 1.bin";
  ASSERT_EQ(::chmod(file.c_str(), 0), 0);
  auto result = WithoutPermissionOverride([&] { return stick.Check(); });
  EXPECT_EQ(result.state, UsbInfo::InvalidMetadata);
  EXPECT_EQ(result.reason, "Cannot open: data/chunk 1.bin: Permission denied");
  ASSERT_EQ(::chmod(file.c_str(), 0644), 0);
  EXPECT_EQ(stick.Check().state, UsbInfo::ValidMetadata);

  // A folder that cannot be listed may hide unlisted files.
  const std::string folder = stick.folder.UpdateFolder() + "/data/deep";
  ASSERT_EQ(::chmod(folder.c_str(), 0), 0);
  result = WithoutPermissionOverride([&] { return stick.Check(); });
  EXPECT_EQ(result.state, UsbInfo::InvalidMetadata);
  ASSERT_EQ(::chmod(folder.c_str(), 0755), 0);

  ASSERT_EQ(::chmod(stick.folder.ChecksumPath().c_str(), 0), 0);
  result = WithoutPermissionOverride([&] { return stick.Check(); });
  EXPECT_EQ(result.state, UsbInfo::InvalidMetadata);
  EXPECT_EQ(result.reason.rfind("Checksum file: Cannot open", 0), 0u) << result.reason;
}

TEST(StickCheckTest, MountPathsAndNamesWithSpacesQuotesAndNonAscii)
{
  QTemporaryDir dir;
  const std::string mount = dir.path().toStdString() + "/Zoë's \"MAP\" stick\t\\ 地図";
  fs::create_directories(mount);
  StickFolder folder(mount);
  folder.Add("meta_data/GENERAL.JSON", "{}");
  folder.Add("données/карта \"1\".bin", "map");
  folder.Add("with space ", "trailing");
  folder.WriteChecksums();
  StickCheck check(mount, "OrvaneNDSUpdate", "OrvaneNDSUpdate/CHECKSUMS.MD5");
  const auto result = check.Run();
  EXPECT_EQ(result.state, UsbInfo::ValidMetadata) << Describe(result);
  EXPECT_EQ(result.files, 3u);
}

// ----- the stick goes ---------------------------------------------------------------------------

TEST(StickCheckTest, StickPulledDuringTheCheckIsInvalid)
{
  Stick stick;
  Typical(stick.folder);
  stick.folder.WriteChecksums();
  StickCheck check(stick.mount, "OrvaneNDSUpdate", "CHECKSUMS.MD5");
  check.SetBeforeHashing([&] { fs::remove_all(stick.mount); });
  const auto result = check.Run();
  EXPECT_EQ(result.state, UsbInfo::InvalidMetadata) << Describe(result);

  Stick gone;
  fs::remove_all(gone.mount);
  EXPECT_EQ(gone.Check().state, UsbInfo::InvalidMetadata);
}

TEST(StickCheckTest, RealStickUnmountedDuringTheCheckIsInvalid)
{
  if (!TmpfsMount::Allowed())
    GTEST_SKIP() << "mounting needs root";
  QTemporaryDir dir;
  const std::string mount = dir.path().toStdString() + "/stick";
  fs::create_directories(mount);
  TmpfsMount tmpfs(mount);
  if (!tmpfs.Mounted())
    GTEST_SKIP() << tmpfs.Error();

  StickFolder folder(mount);
  Typical(folder);
  folder.WriteChecksums();
  StickCheck check(mount, "OrvaneNDSUpdate", "CHECKSUMS.MD5");
  EXPECT_EQ(check.Run().state, UsbInfo::ValidMetadata);

  // Detached, the files stay readable through what the check holds open;
  // the check still learns that the stick went.
  check.SetBeforeHashing([&] { ASSERT_TRUE(tmpfs.Unmount(true)) << tmpfs.Error(); });
  const auto result = check.Run();
  EXPECT_EQ(result.state, UsbInfo::InvalidMetadata);
  EXPECT_EQ(result.reason, "The stick went away during the check");
}

TEST(StickCheckTest, AnotherFileSystemMountedInsideTheFolderIsInvalid)
{
  if (!TmpfsMount::Allowed())
    GTEST_SKIP() << "mounting needs root";
  Stick stick;
  Typical(stick.folder);
  fs::create_directories(stick.folder.UpdateFolder() + "/mounted");
  stick.folder.WriteChecksums();
  TmpfsMount inner(stick.folder.UpdateFolder() + "/mounted");
  if (!inner.Mounted())
    GTEST_SKIP() << inner.Error();
  StickFolder::WriteFile(stick.folder.UpdateFolder() + "/mounted/file", "x");

  const auto result = stick.Check();
  EXPECT_EQ(result.state, UsbInfo::InvalidMetadata);
  EXPECT_EQ(result.reason, "Leaves the stick's file system: mounted");
}
