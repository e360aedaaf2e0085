#include "usb/StickCheck.h"
#include "usb/ChecksumList.h"

#include "Files.h"
#include "MapStick.h"
#include "TmpfsMount.h"

#include <gtest/gtest.h>

#include <QProcess>
#include <QTemporaryDir>

#include <boost/filesystem/operations.hpp>

#include <linux/capability.h>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

namespace fs = boost::filesystem;

namespace {

void Put(const std::string& path, const std::string& content)
{
  ASSERT_TRUE(TestSupport::WriteFile(QString::fromStdString(path), QByteArray::fromStdString(content)));
}

struct Stick
{
  QTemporaryDir dir;
  std::string mount = dir.path().toStdString() + "/stick";
  TestSupport::MapStick folder{mount};

  Stick() { fs::create_directories(mount); }

  StickCheck::Result Check(unsigned threads = 0) const
  {
    StickCheck check(mount, "OrvaneNDSUpdate", "OrvaneNDSUpdate/CHECKSUMS.MD5");
    check.SetThreads(threads);
    return check.Run();
  }

  std::string Update() const { return folder.UpdateFolder(); }
  // Where a test puts what must never be read: beside the stick.
  std::string Outside() const { return dir.path().toStdString() + "/outside"; }
};

// A stick as the vehicle writes it.
void Typical(TestSupport::MapStick& folder)
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

TEST(ChecksumListTest, AcceptsWhatMd5sumWrites)
{
  const std::string hash = "0123456789abcdefABCDEF0123456789";
  const std::string text = hash + "  plain.bin\n" +                   // text mode
                           hash + " *binary.bin\r\n" +                // binary mode, CR LF
                           "\n   \r\n\t\n# a comment\n" +             // blank lines, a comment
                           hash + "\t sub/tabbed\n" +                 // a tab as separator
                           "\\" + hash + "  back\\\\slash\\nline\n" + // escaped name
                           "  " + hash + "  ./dot//parts/x\n" +       // made plain
                           hash + "  name with  spaces \n" +          //
                           hash + "  ./plain.bin";                    // the same file alike: once
  ChecksumList list;
  std::string error;
  ASSERT_TRUE(list.Parse(text, error)) << error;
  std::vector<std::string> paths;
  for (std::size_t i = 0; i < list.Count(); ++i)
    paths.emplace_back(list.Path(i));
  EXPECT_EQ(paths, std::vector<std::string>({"back\\slash\nline", "binary.bin", "dot/parts/x",
                                             "name with  spaces ", "plain.bin", "sub/tabbed"}));
  const ChecksumList::Digest expected = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef,
                                         0xAB, 0xCD, 0xEF, 0x01, 0x23, 0x45, 0x67, 0x89};
  EXPECT_EQ(list.DigestOf(list.Find("plain.bin")), expected);
  EXPECT_EQ(list.Find("plain"), ChecksumList::npos);

  // Split at every byte, the text reads the same.
  ChecksumList pieces;
  for (const char c : text)
    ASSERT_TRUE(pieces.Add(&c, 1, error)) << error;
  ASSERT_TRUE(pieces.Finish(error)) << error;
  ASSERT_EQ(pieces.Count(), list.Count());
  for (std::size_t i = 0; i < list.Count(); ++i)
    EXPECT_EQ(pieces.Path(i), list.Path(i));
}

TEST(ChecksumListTest, RefusesMalformedLinesAndUnsafePaths)
{
  const std::string hash(32, 'a');
  const std::vector<std::pair<std::string, std::string>> cases = {
      {hash.substr(1) + "  short", "Malformed line 1"},
      {hash + "a  long", "Malformed line 1"},
      {std::string(31, 'a') + "g  nothex", "Malformed line 1"},
      {hash + "name", "Malformed line 1"},
      {hash + " ", "Malformed line 1"},
      {hash, "Malformed line 1"},
      {"good file\n", "Malformed line 1"},
      {"\xEF\xBB\xBF" + hash + "  ok\n", "Malformed line 1"},
      {"\\ " + hash + "  ok\n", "Malformed line 1"},
      {hash + "  ok\n" + "\\" + hash + "  bad\\escape", "Malformed line 2"},
      {hash + "  ok\n" + std::string("nul\0here", 8), "Malformed line 2"},
      // The kinds of line (with and without a type mark) never mix.
      {hash + "  ok\n" + hash + " no-mark", "Malformed line 2"},
      {hash + "  /etc/passwd", "Absolute path: /etc/passwd"},
      {hash + "  ../outside", "Path leaves the update folder: ../outside"},
      {hash + "  meta_data/../../outside", "Path leaves the update folder"},
      {hash + "  a/..", "Path leaves the update folder"},
      {hash + "  ./", "Path names no file"},
      {hash + "  a/", "Path names no file: a/"},
      {hash + "  a/.", "Path names no file: a/."},
      {hash + "  a\n" + std::string(32, 'b') + "  ./a", "Listed twice with different checksums: a"},
  };
  for (const auto& [text, expected] : cases) {
    ChecksumList list;
    std::string error;
    EXPECT_FALSE(list.Parse(text, error)) << text;
    EXPECT_EQ(error.rfind(expected, 0), 0u) << "for " << text << " got: " << error;
  }
}

// Names as md5sum -c reads them: one separator after the digest, then a type
// mark, and every character after that belongs to the name. Each stick is
// also given to the real md5sum -c, which must come to the same verdict.
TEST(StickCheckTest, ReadsTheListedNamesAsMd5sumDoes)
{
  const std::string star = TestSupport::MapStick::Md5("star"), blank = TestSupport::MapStick::Md5("blank");
  const std::string plain = TestSupport::MapStick::Md5("plain");
  const struct
  {
    const char* name;
    std::string list;
    bool valid;
    bool onlyPlain = false; // the stick holds "plain" alone
  } cases[] = {
      {"name beginning with a star", star + "  *star\n" + blank + "   blank\n" + plain + " *plain\n", true},
      {"binary mark before a star", star + " **star\n" + blank + " * blank\n" + plain + "  plain\n", true},
      {"no type marks", plain + " plain\n" + star + " *star\n" + blank + "  blank\n", true},
      {"tab separators, leading blanks, escapes",
       "  " + plain + "\t plain\n\\" + star + "  *star\n" + blank + "\t  blank\n", true},
      {"mark and no mark mixed", plain + "  plain\n" + star + " *star\n" + blank + " \tblank\n", false},
      {"a trailing slash", plain + "  plain/\n", false, true},
      {"a trailing dot", plain + "  plain/.\n", false, true},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    Stick stick;
    if (!test.onlyPlain) {
      stick.folder.AddUnlisted("*star", "star");
      stick.folder.AddUnlisted(" blank", "blank");
    }
    stick.folder.AddUnlisted("plain", "plain");
    stick.folder.WriteChecksumText(test.list);
    const auto result = stick.Check();
    EXPECT_EQ(result.state, test.valid ? UsbInfo::ValidMetadata : UsbInfo::InvalidMetadata)
        << Describe(result);

    QProcess md5sum;
    md5sum.setWorkingDirectory(QString::fromStdString(stick.Update()));
    md5sum.start("md5sum", {"-c", "--strict", "--status", "CHECKSUMS.MD5"});
    ASSERT_TRUE(md5sum.waitForFinished(30000));
    EXPECT_EQ(md5sum.exitCode() == 0, test.valid) << "md5sum -c disagrees";
  }
}

// md5sum -c takes any depth; so does the check, without holding a
// descriptor per folder (the limit on open files is lowered meanwhile).
TEST(StickCheckTest, DeepSticksAreCheckedWhateverTheirDepth)
{
  Stick stick;
  std::string deep;
  for (int i = 0; i < 500; ++i)
    deep += "d/";
  stick.folder.Add(deep + "bottom.bin", "at the bottom");
  std::string empty = stick.Update();
  for (int i = 0; i < 1500; ++i)
    empty += "/e";
  fs::create_directories(empty);
  stick.folder.WriteChecksums();

  rlimit limit{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &limit), 0);
  const auto CheckWithFewDescriptors = [&] {
    rlimit lowered = limit;
    lowered.rlim_cur = 200;
    EXPECT_EQ(::setrlimit(RLIMIT_NOFILE, &lowered), 0);
    const auto result = stick.Check();
    ::setrlimit(RLIMIT_NOFILE, &limit);
    return result;
  };
  auto result = CheckWithFewDescriptors();
  EXPECT_EQ(result.state, UsbInfo::ValidMetadata) << Describe(result);
  QProcess md5sum;
  md5sum.setWorkingDirectory(QString::fromStdString(stick.Update()));
  md5sum.start("md5sum", {"-c", "--strict", "--status", "CHECKSUMS.MD5"});
  ASSERT_TRUE(md5sum.waitForFinished(30000));
  EXPECT_EQ(md5sum.exitCode(), 0);

  // An unlisted file at the bottom of the empty folders is found.
  Put(empty + "/stray.bin", "stray");
  result = CheckWithFewDescriptors();
  EXPECT_EQ(result.state, UsbInfo::InvalidMetadata);
  EXPECT_EQ(result.reason.rfind("File not listed in the checksum file: e/e/e/", 0), 0u) << result.reason;
  EXPECT_NE(result.reason.find("/e/stray.bin"), std::string::npos);
}

// A hostile checksum file of short lines: what the check holds for it, once
// read, stays below one and a half times its size (the digests kept as
// bytes, each path once, no index beyond an array of offsets).
TEST(StickCheckTest, AChecksumFileOfShortLinesTakesLittleMoreMemoryThanItsSize)
{
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer's allocator keeps books of its own";
#endif
  Stick stick;
  std::string text;
  for (int i = 0; i < 400000; ++i)
    text += TestSupport::MapStick::Md5(std::to_string(i % 7)) + "  " + std::to_string(i) + "\n";
  const std::size_t size = text.size();
  stick.folder.WriteChecksumText(text);
  std::string().swap(text);

  StickCheck check(stick.mount, "OrvaneNDSUpdate", "CHECKSUMS.MD5");
  check.SetThreads(1);
  const auto inUse = [] {
    const struct mallinfo2 info = ::mallinfo2();
    return info.uordblks + info.hblkhd;
  };
  const std::size_t before = inUse();
  std::size_t held = 0;
  check.SetBeforeHashing([&] { held = inUse() - before; });
  const auto result = check.Run();
  EXPECT_EQ(result.reason, "Cannot open: 0: No such file or directory");
  EXPECT_GT(held, size / 2);
  EXPECT_LT(held, size * 3 / 2) << "for a file of " << size << " bytes";
}

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
  Put(stick.mount + "/OrvaneNDSFull/map.bin", "map");
  Put(stick.mount + "/notes.txt", "notes");

  for (const unsigned threads : {1u, 3u, 0u}) {
    const auto result = stick.Check(threads);
    EXPECT_EQ(result.state, UsbInfo::ValidMetadata) << Describe(result);
    EXPECT_EQ(result.files, 5u);
    EXPECT_EQ(result.bytes, 300000u + 6 + 39 + 14);
  }

  // Mount paths and names with spaces, quotes and beyond ASCII.
  QTemporaryDir dir;
  const std::string mount = dir.path().toStdString() + "/Zoë's \"MAP\" stick\t\\ 地図";
  TestSupport::MapStick odd(mount);
  odd.Add("meta_data/GENERAL.JSON", "{}");
  odd.Add("données/карта \"1\".bin", "map");
  odd.Add("with space ", "trailing");
  odd.WriteChecksumText("\r\n" + TestSupport::MapStick::Md5("{}") + " *meta_data/GENERAL.JSON\r\n\n" +
                        TestSupport::MapStick::Md5("map") + "\t*./données//карта \"1\".bin\n" +
                        TestSupport::MapStick::Md5("trailing") + "  with space ");
  const auto result = StickCheck(mount, "OrvaneNDSUpdate", "OrvaneNDSUpdate/CHECKSUMS.MD5").Run();
  EXPECT_EQ(result.state, UsbInfo::ValidMetadata) << Describe(result);
  EXPECT_EQ(result.files, 3u);

  Stick empty;
  empty.folder.WriteChecksumText("");
  EXPECT_EQ(empty.Check().state, UsbInfo::ValidMetadata) << "an empty list for an empty folder";
}

// A large file is read ahead on a thread of its own: every byte of it still
// counts, the last one too.
TEST(StickCheckTest, ALargeFileIsHashedToItsLastByte)
{
  Stick stick;
  std::string big(17 * 1024 * 1024 + 5, 'b');
  for (std::size_t i = 0; i < big.size(); i += 4093)
    big[i] = static_cast<char>(i >> 12);
  stick.folder.Add("big.bin", big);
  stick.folder.Add("small.bin", "small");
  stick.folder.WriteChecksums();
  auto result = stick.Check(1);
  EXPECT_EQ(result.state, UsbInfo::ValidMetadata) << Describe(result);
  EXPECT_EQ(result.bytes, big.size() + 5);

  big.back() = 'x';
  Put(stick.Update() + "/big.bin", big);
  result = stick.Check(1);
  EXPECT_EQ(result.reason, "Checksum mismatch: big.bin");
}

TEST(StickCheckTest, FindsOneBadFileAmongMany)
{
  Stick stick;
  for (int i = 0; i < 400; ++i)
    stick.folder.Add("tiles/" + std::to_string(i % 7) + "/tile" + std::to_string(i),
                     std::to_string(i * 7919));
  stick.folder.WriteChecksums();
  EXPECT_EQ(stick.Check().state, UsbInfo::ValidMetadata);

  Put(stick.Update() + "/tiles/3/tile213", "changed");
  for (const unsigned threads : {1u, 8u}) {
    const auto result = stick.Check(threads);
    EXPECT_EQ(result.state, UsbInfo::InvalidMetadata);
    EXPECT_EQ(result.reason, "Checksum mismatch: tiles/3/tile213");
  }
}

// Every verdict but a valid one. Each case starts from a typical stick:
// `listed` changes it before the checksum file is written, `spoil` after.
// Nothing outside the update folder may be read, whatever the checksum file
// names and wherever links point.
TEST(StickCheckTest, Verdicts)
{
  using Arrange = std::function<void(Stick&)>;
  const auto line = [](std::string text) -> Arrange { return [=](Stick& s) { s.folder.AddLine(text); }; };
  const auto unreadable = [](std::string path) -> Arrange {
    return [=](Stick& s) { ASSERT_EQ(::chmod((s.Update() + "/" + path).c_str(), 0), 0); };
  };
  const std::string beside = TestSupport::MapStick::Md5("beside");
  const std::string secret = TestSupport::MapStick::Md5("secret");
  const auto none = [](Stick&) {};
  const struct
  {
    const char* name;
    Arrange listed;
    Arrange spoil;
    UsbInfo::State state;
    std::string reason; // the start of it; empty: any
  } cases[] = {
      {"no update folder", none, [](Stick& s) { fs::remove_all(s.Update()); }, UsbInfo::NoMetadata, ""},
      {"no checksum file", none, [](Stick& s) { fs::remove(s.folder.ChecksumPath()); }, UsbInfo::NoMetadata,
       ""},
      {"update folder is a file", none,
       [](Stick& s) {
         fs::remove_all(s.Update());
         Put(s.Update(), "a file, not a folder");
       },
       UsbInfo::NoMetadata, ""},
      {"changed file", none, [](Stick& s) { s.folder.AddUnlisted("data/deep/er/part2.bin", "secoNd"); },
       UsbInfo::InvalidMetadata, "Checksum mismatch: data/deep/er/part2.bin"},
      {"missing file", none, [](Stick& s) { fs::remove(s.Update() + "/meta_data/EUR_2024_06.xml"); },
       UsbInfo::InvalidMetadata, "Cannot open: meta_data/EUR_2024_06.xml"},
      {"unlisted file", [](Stick& s) { s.folder.AddUnlisted("meta_data/extra.xml", "<x/>"); }, none,
       UsbInfo::InvalidMetadata, "File not listed in the checksum file: meta_data/extra.xml"},
      {"listed hidden file", line(TestSupport::MapStick::Md5("other") + "  .hidden"),
       [](Stick& s) { s.folder.AddUnlisted(".hidden", "content"); }, UsbInfo::InvalidMetadata,
       "Checksum mismatch: .hidden"},
      {"folder listed as a file", line(TestSupport::MapStick::Md5("") + "  data/deep"), none,
       UsbInfo::InvalidMetadata, "Not a regular file: data/deep"},
      {"malformed list", none, [](Stick& s) { s.folder.WriteChecksumText("not a checksum line\n"); },
       UsbInfo::InvalidMetadata, "Malformed line 1"},
      {"list with a byte order mark", none,
       [](Stick& s) {
         s.folder.WriteChecksumText("\xEF\xBB\xBF" + TestSupport::MapStick::Md5("") + "  empty\n");
       },
       UsbInfo::InvalidMetadata, "Malformed line 1"},
      {"parent path", line(beside + "  ../beside.txt"), none, UsbInfo::InvalidMetadata, "Path leaves"},
      {"grandparent path", line(secret + "  ../../outside"), none, UsbInfo::InvalidMetadata, "Path leaves"},
      {"absolute path", [&](Stick& s) { line(secret + "  " + s.Outside())(s); }, none,
       UsbInfo::InvalidMetadata, "Absolute path"},
      {"path out through a folder", line(beside + "  meta_data/../../beside.txt"), none,
       UsbInfo::InvalidMetadata, "Path leaves"},
      // Listed links whose target's checksum matches: following them would
      // make the stick valid.
      {"listed link", line(secret + "  link"),
       [](Stick& s) { fs::create_symlink(s.Outside(), s.Update() + "/link"); }, UsbInfo::InvalidMetadata,
       "Symbolic link: link"},
      {"linked folder on the way", line(secret + "  linked/file"),
       [](Stick& s) {
         Put(s.Outside() + "-dir/file", "secret");
         fs::create_directory_symlink(s.Outside() + "-dir", s.Update() + "/linked");
       },
       UsbInfo::InvalidMetadata, ""},
      {"unlisted link inside", none,
       [](Stick& s) { fs::create_symlink("GENERAL.JSON", s.Update() + "/meta_data/alias.json"); },
       UsbInfo::InvalidMetadata, "Symbolic link: meta_data/alias.json"},
      {"checksum file a link", none,
       [](Stick& s) {
         fs::rename(s.folder.ChecksumPath(), s.Outside());
         fs::create_symlink(s.Outside(), s.folder.ChecksumPath());
       },
       UsbInfo::InvalidMetadata, ""},
      {"update folder a link", none,
       [](Stick& s) {
         fs::rename(s.Update(), s.dir.path().toStdString() + "/real");
         fs::create_directory_symlink(s.dir.path().toStdString() + "/real", s.Update());
       },
       UsbInfo::InvalidMetadata, "The update folder is a symbolic link"},
      {"pipe", line(TestSupport::MapStick::Md5("") + "  pipe"),
       [](Stick& s) { ASSERT_EQ(::mkfifo((s.Update() + "/pipe").c_str(), 0600), 0); },
       UsbInfo::InvalidMetadata, "Not a regular file: pipe"},
      {"checksum file a pipe without writer", none,
       [](Stick& s) {
         fs::remove(s.folder.ChecksumPath());
         ASSERT_EQ(::mkfifo(s.folder.ChecksumPath().c_str(), 0600), 0);
       },
       UsbInfo::InvalidMetadata, ""},
      {"unreadable file", none, unreadable("data/chunk 1.bin"), UsbInfo::InvalidMetadata,
       "Cannot open: data/chunk 1.bin: Permission denied"},
      // A folder that cannot be listed may hide unlisted files.
      {"unreadable folder", none, unreadable("data/deep"), UsbInfo::InvalidMetadata, ""},
      {"unreadable checksum file", none, unreadable("CHECKSUMS.MD5"), UsbInfo::InvalidMetadata,
       "Checksum file: Cannot open"},
      {"stick gone", none, [](Stick& s) { fs::remove_all(s.mount); }, UsbInfo::InvalidMetadata, ""},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    Stick stick;
    Typical(stick.folder);
    Put(stick.mount + "/beside.txt", "beside");
    Put(stick.Outside(), "secret");
    test.listed(stick);
    stick.folder.WriteChecksums();
    test.spoil(stick);
    const auto result = WithoutPermissionOverride([&] { return stick.Check(); });
    EXPECT_EQ(result.state, test.state) << Describe(result);
    EXPECT_EQ(result.reason.rfind(test.reason, 0), 0u) << result.reason;
    // Everything made unreadable is readable again for the clean-up.
    for (const char* path : {"data/chunk 1.bin", "data/deep", "CHECKSUMS.MD5"})
      ::chmod((stick.Update() + "/" + path).c_str(), 0755);
  }
}

TEST(StickCheckTest, StickPulledDuringTheCheckIsInvalid)
{
  Stick stick;
  Typical(stick.folder);
  stick.folder.WriteChecksums();
  StickCheck check(stick.mount, "OrvaneNDSUpdate", "CHECKSUMS.MD5");
  check.SetBeforeHashing([&] { fs::remove_all(stick.mount); });
  EXPECT_EQ(check.Run().state, UsbInfo::InvalidMetadata);
}

TEST(StickCheckTest, RealStickUnmountedDuringTheCheckOrAnotherMountInsideIsInvalid)
{
  if (!TmpfsMount::Allowed())
    GTEST_SKIP() << "mounting needs root";
  Stick stick;
  TmpfsMount tmpfs(stick.mount);
  if (!tmpfs.Mounted())
    GTEST_SKIP() << tmpfs.Error();
  Typical(stick.folder);
  fs::create_directories(stick.Update() + "/mounted");
  stick.folder.WriteChecksums();
  StickCheck check(stick.mount, "OrvaneNDSUpdate", "CHECKSUMS.MD5");
  EXPECT_EQ(check.Run().state, UsbInfo::ValidMetadata);

  {
    TmpfsMount inner(stick.Update() + "/mounted");
    ASSERT_TRUE(inner.Mounted()) << inner.Error();
    Put(stick.Update() + "/mounted/file", "x");
    const auto result = check.Run();
    EXPECT_EQ(result.state, UsbInfo::InvalidMetadata);
    EXPECT_EQ(result.reason, "Leaves the stick's file system: mounted");
  }

  // Detached, the files stay readable through what the check holds open;
  // the check still learns that the stick went.
  check.SetBeforeHashing([&] { ASSERT_TRUE(tmpfs.Unmount(true)) << tmpfs.Error(); });
  const auto result = check.Run();
  EXPECT_EQ(result.state, UsbInfo::InvalidMetadata);
  EXPECT_EQ(result.reason, "The stick went away during the check");
}
