#include "usb/StickCheck.h"
#include "usb/ChecksumList.h"

#include "Archives.h"
#include "Files.h"
#include "MapStick.h"
#include "TmpfsMount.h"

#include <gtest/gtest.h>

#include <QProcess>

#include <boost/filesystem/operations.hpp>

#include <sys/stat.h>

namespace fs = boost::filesystem;
using TestSupport::MapStick;

namespace {

void Put(const std::string& path, const std::string& content)
{
  ASSERT_TRUE(TestSupport::WriteFile(QString::fromStdString(path), QByteArray::fromStdString(content)));
}

// A stick below a temporary folder, with room beside it for what must never be read.
struct Stick
{
  QTemporaryDir dir;
  std::string mount = dir.path().toStdString() + "/stick";
  MapStick folder{mount};

  StickCheck::Result Check(unsigned threads = 0) const
  {
    StickCheck check(mount, "OrvaneNDSUpdate", "OrvaneNDSUpdate/CHECKSUMS.MD5");
    check.SetThreads(threads);
    return check.Run();
  }
  std::string Update() const { return folder.UpdateFolder(); }
  std::string Outside() const { return dir.path().toStdString() + "/outside"; }
  // What md5sum -c makes of the stick.
  bool Md5sumAgrees() const
  {
    QProcess md5sum;
    md5sum.setWorkingDirectory(QString::fromStdString(Update()));
    md5sum.start("md5sum", {"-c", "--strict", "--status", "CHECKSUMS.MD5"});
    return md5sum.waitForFinished(30000) && md5sum.exitCode() == 0;
  }
};

// A stick as the vehicle writes it.
void Typical(MapStick& folder)
{
  folder.Add("meta_data/GENERAL.JSON", R"({"subscription_end_date": "2027-03-31"})");
  folder.Add("meta_data/EUR_2024_06.xml", "<tns:package/>");
  folder.Add("data/chunk 1.bin", std::string(300000, 'x'));
  folder.Add("data/deep/er/part2.bin", "second");
  folder.Add("empty", "");
}

} // namespace

TEST(ChecksumListTest, AcceptsWhatMd5sumWritesSplitAtAnyByte)
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
  ChecksumList list, pieces;
  std::string error;
  ASSERT_TRUE(list.Parse(text, error)) << error;
  for (const char c : text)
    ASSERT_TRUE(pieces.Add(&c, 1, error)) << error;
  ASSERT_TRUE(pieces.Finish(error)) << error;
  std::vector<std::string> paths;
  for (std::size_t i = 0; i < list.Count(); ++i) {
    paths.emplace_back(list.Path(i));
    EXPECT_EQ(pieces.Path(i), list.Path(i));
  }
  EXPECT_EQ(paths, std::vector<std::string>({"back\\slash\nline", "binary.bin", "dot/parts/x",
                                             "name with  spaces ", "plain.bin", "sub/tabbed"}));
  const ChecksumList::Digest expected = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef,
                                         0xAB, 0xCD, 0xEF, 0x01, 0x23, 0x45, 0x67, 0x89};
  EXPECT_EQ(list.DigestOf(list.Find("plain.bin")), expected);
  EXPECT_EQ(list.Find("plain"), ChecksumList::npos);
}

TEST(ChecksumListTest, RefusesMalformedLinesAndUnsafePaths)
{
  const std::string hash(32, 'a');
  const std::pair<std::string, std::string> cases[] = {
      {hash.substr(1) + "  short", "Malformed line 1"},
      {std::string(31, 'a') + "g  nothex", "Malformed line 1"},
      {hash + "name", "Malformed line 1"},
      {"\xEF\xBB\xBF" + hash + "  ok\n", "Malformed line 1"},
      {hash + "  ok\n" + "\\" + hash + "  bad\\escape", "Malformed line 2"},
      {hash + "  ok\n" + std::string("nul\0here", 8), "Malformed line 2"},
      // The kinds of line (with and without a type mark) never mix.
      {hash + "  ok\n" + hash + " no-mark", "Malformed line 2"},
      {hash + "  /etc/passwd", "Absolute path: /etc/passwd"},
      {hash + "  meta_data/../../outside", "Path leaves the update folder"},
      {hash + "  a/..", "Path leaves the update folder"},
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
// mark, and every character after that belongs to the name. The real
// md5sum -c must come to the same verdict.
TEST(StickCheckTest, ReadsTheListedNamesAsMd5sumDoes)
{
  const std::string star = MapStick::Md5("star"), blank = MapStick::Md5("blank"),
                    plain = MapStick::Md5("plain");
  const std::tuple<const char*, std::string, bool> cases[] = {
      {"name beginning with a star", star + "  *star\n" + blank + "   blank\n" + plain + " *plain\n", true},
      {"binary mark before a star", star + " **star\n" + blank + " * blank\n" + plain + "  plain\n", true},
      {"no type marks", plain + " plain\n" + star + " *star\n" + blank + "  blank\n", true},
      {"tab separators, leading blanks, escapes",
       "  " + plain + "\t plain\n\\" + star + "  *star\n" + blank + "\t  blank\n", true},
      {"mark and no mark mixed", plain + "  plain\n" + star + " *star\n" + blank + " \tblank\n", false},
      {"a trailing slash", plain + "  plain/\n" + star + "  *star\n" + blank + "   blank\n", false},
  };
  for (const auto& [name, list, valid] : cases) {
    SCOPED_TRACE(name);
    Stick stick;
    stick.folder.AddUnlisted("*star", "star");
    stick.folder.AddUnlisted(" blank", "blank");
    stick.folder.AddUnlisted("plain", "plain");
    stick.folder.WriteChecksumText(list);
    const auto result = stick.Check();
    EXPECT_EQ(result.state, valid ? UsbInfo::ValidMetadata : UsbInfo::InvalidMetadata) << result.reason;
    EXPECT_EQ(stick.Md5sumAgrees(), valid) << "md5sum -c disagrees";
  }
}

TEST(StickCheckTest, ValidWhenEveryFileIsListedAndMatchesWhateverTheThreadsAndNames)
{
  Stick stick;
  Typical(stick.folder);
  // What desktop file managers add need not be listed.
  stick.folder.AddUnlisted(".DS_Store", "finder");
  stick.folder.AddUnlisted(".Trashes/501/old.bin", "trash");
  stick.folder.WriteChecksums();
  // Files outside the update folder are not the check's business.
  Put(stick.mount + "/notes.txt", "notes");
  for (const unsigned threads : {1u, 3u, 0u}) {
    const auto result = stick.Check(threads);
    EXPECT_EQ(result.state, UsbInfo::ValidMetadata) << result.reason;
    EXPECT_EQ(result.files, 5u);
    EXPECT_EQ(result.bytes, 300000u + 6 + 39 + 14);
  }

  // Among many files, the one changed is found by every thread count.
  Stick many;
  for (int i = 0; i < 400; ++i)
    many.folder.Add("tiles/" + std::to_string(i % 7) + "/tile" + std::to_string(i), std::to_string(i * 7919));
  many.folder.WriteChecksums();
  Put(many.Update() + "/tiles/3/tile213", "changed");
  for (const unsigned threads : {1u, 8u})
    EXPECT_EQ(many.Check(threads).reason, "Checksum mismatch: tiles/3/tile213");
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
  stick.folder.WriteChecksums();
  EXPECT_EQ(stick.Check(1).state, UsbInfo::ValidMetadata);
  big.back() = 'x';
  Put(stick.Update() + "/big.bin", big);
  EXPECT_EQ(stick.Check(1).reason, "Checksum mismatch: big.bin");
}

// md5sum -c takes any depth; so does the check, without holding a
// descriptor per folder (the limit on open files is lowered meanwhile).
TEST(StickCheckTest, DeepSticksAreCheckedWhateverTheirDepth)
{
  Stick stick;
  std::string deep, empty = stick.Update();
  for (int i = 0; i < 500; ++i)
    deep += "d/";
  for (int i = 0; i < 1500; ++i)
    empty += "/e";
  stick.folder.Add(deep + "bottom.bin", "at the bottom");
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
  EXPECT_EQ(CheckWithFewDescriptors().state, UsbInfo::ValidMetadata);
  EXPECT_TRUE(stick.Md5sumAgrees());
  // An unlisted file at the bottom of the empty folders is found.
  Put(empty + "/stray.bin", "stray");
  const auto result = CheckWithFewDescriptors();
  EXPECT_EQ(result.reason.rfind("File not listed in the checksum file: e/e/e/", 0), 0u) << result.reason;
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
  const std::string secret = MapStick::Md5("secret");
  const auto none = [](Stick&) {};
  const auto invalid = UsbInfo::InvalidMetadata;
  // The verdict and the start of its reason (empty: any).
  const std::tuple<const char*, Arrange, Arrange, UsbInfo::State, std::string> cases[] = {
      {"no update folder", none, [](Stick& s) { fs::remove_all(s.Update()); }, UsbInfo::NoMetadata, ""},
      {"no checksum file", none, [](Stick& s) { fs::remove(s.folder.ChecksumPath()); }, UsbInfo::NoMetadata,
       ""},
      {"update folder a file", none,
       [](Stick& s) {
         fs::remove_all(s.Update());
         Put(s.Update(), "a file, not a folder");
       },
       UsbInfo::NoMetadata, ""},
      {"changed file", none, [](Stick& s) { s.folder.AddUnlisted("data/deep/er/part2.bin", "secoNd"); },
       invalid, "Checksum mismatch: data/deep/er/part2.bin"},
      {"file cut to 0 bytes", none, [](Stick& s) { fs::resize_file(s.Update() + "/data/chunk 1.bin", 0); },
       invalid, "Checksum mismatch: data/chunk 1.bin"},
      {"missing file", none, [](Stick& s) { fs::remove(s.Update() + "/meta_data/EUR_2024_06.xml"); }, invalid,
       "Cannot open: meta_data/EUR_2024_06.xml"},
      {"unlisted file", [](Stick& s) { s.folder.AddUnlisted("meta_data/extra.xml", "<x/>"); }, none, invalid,
       "File not listed in the checksum file: meta_data/extra.xml"},
      {"listed hidden file", line(MapStick::Md5("other") + "  .hidden"),
       [](Stick& s) { s.folder.AddUnlisted(".hidden", "content"); }, invalid, "Checksum mismatch: .hidden"},
      {"folder listed as a file", line(MapStick::Md5("") + "  data/deep"), none, invalid,
       "Not a regular file: data/deep"},
      // Listed links whose target's checksum matches: following them would
      // make the stick valid.
      {"listed link", line(secret + "  link"),
       [](Stick& s) { fs::create_symlink(s.Outside(), s.Update() + "/link"); }, invalid,
       "Symbolic link: link"},
      {"linked folder on the way", line(secret + "  linked/file"),
       [](Stick& s) {
         Put(s.Outside() + "-dir/file", "secret");
         fs::create_directory_symlink(s.Outside() + "-dir", s.Update() + "/linked");
       },
       invalid, ""},
      {"unlisted link inside", none,
       [](Stick& s) { fs::create_symlink("GENERAL.JSON", s.Update() + "/meta_data/alias.json"); }, invalid,
       "Symbolic link: meta_data/alias.json"},
      {"checksum file a link", none,
       [](Stick& s) {
         fs::rename(s.folder.ChecksumPath(), s.Outside());
         fs::create_symlink(s.Outside(), s.folder.ChecksumPath());
       },
       invalid, ""},
      {"update folder a link", none,
       [](Stick& s) {
         fs::rename(s.Update(), s.dir.path().toStdString() + "/real");
         fs::create_directory_symlink(s.dir.path().toStdString() + "/real", s.Update());
       },
       invalid, "The update folder is a symbolic link"},
      {"pipe", line(MapStick::Md5("") + "  pipe"),
       [](Stick& s) { ASSERT_EQ(::mkfifo((s.Update() + "/pipe").c_str(), 0600), 0); }, invalid,
       "Not a regular file: pipe"},
      {"checksum file a pipe without writer", none,
       [](Stick& s) {
         fs::remove(s.folder.ChecksumPath());
         ASSERT_EQ(::mkfifo(s.folder.ChecksumPath().c_str(), 0600), 0);
       },
       invalid, ""},
      {"unreadable file", none, unreadable("data/chunk 1.bin"), invalid,
       "Cannot open: data/chunk 1.bin: Permission denied"},
      // A folder that cannot be listed may hide unlisted files.
      {"unreadable folder", none, unreadable("data/deep"), invalid, ""},
      {"unreadable checksum file", none, unreadable("CHECKSUMS.MD5"), invalid, "Checksum file: Cannot open"},
      {"stick gone", none, [](Stick& s) { fs::remove_all(s.mount); }, invalid, ""},
      {"malformed list", none, [](Stick& s) { s.folder.WriteChecksumText("not a checksum line\n"); }, invalid,
       "Malformed line 1"},
  };
  for (const auto& [name, listed, spoil, state, reason] : cases) {
    SCOPED_TRACE(name);
    Stick stick;
    Typical(stick.folder);
    Put(stick.Outside(), "secret");
    listed(stick);
    stick.folder.WriteChecksums();
    spoil(stick);
    StickCheck::Result result;
    {
      TestSupport::HonourPermissions honour; // as an ordinary user: root reads anything
      result = stick.Check();
    }
    EXPECT_EQ(result.state, state) << result.reason;
    EXPECT_EQ(result.reason.rfind(reason, 0), 0u) << result.reason;
    for (const char* path : {"data/chunk 1.bin", "data/deep", "CHECKSUMS.MD5"})
      ::chmod((stick.Update() + "/" + path).c_str(), 0755);
  }
}

TEST(StickCheckTest, AStickPulledOrUnmountedDuringTheCheckOrAnotherMountInsideIsInvalid)
{
  Stick stick;
  Typical(stick.folder);
  stick.folder.WriteChecksums();
  StickCheck pulled(stick.mount, "OrvaneNDSUpdate", "CHECKSUMS.MD5");
  pulled.SetBeforeHashing([&] { fs::remove_all(stick.mount); });
  EXPECT_EQ(pulled.Run().state, UsbInfo::InvalidMetadata);

  if (!TmpfsMount::Allowed())
    GTEST_SKIP() << "mounting needs root";
  Stick real;
  TmpfsMount tmpfs(real.mount);
  if (!tmpfs.Mounted())
    GTEST_SKIP() << tmpfs.Error();
  Typical(real.folder);
  fs::create_directories(real.Update() + "/mounted");
  real.folder.WriteChecksums();
  StickCheck check(real.mount, "OrvaneNDSUpdate", "CHECKSUMS.MD5");
  EXPECT_EQ(check.Run().state, UsbInfo::ValidMetadata);
  {
    TmpfsMount inner(real.Update() + "/mounted");
    ASSERT_TRUE(inner.Mounted()) << inner.Error();
    EXPECT_EQ(check.Run().reason, "Leaves the stick's file system: mounted");
  }
  // Detached, the files stay readable through what the check holds open;
  // the check still learns that the stick went.
  check.SetBeforeHashing([&] { ASSERT_TRUE(tmpfs.Unmount(true)) << tmpfs.Error(); });
  EXPECT_EQ(check.Run().reason, "The stick went away during the check");
}
