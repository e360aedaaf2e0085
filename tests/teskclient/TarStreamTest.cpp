#include "Archives.h"
#include "Files.h"
#include "Tar/Stream.h"
#include "Tar/StreamBuf.h"
#include "TmpfsMount.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <climits>
#include <functional>
#include <iostream>
#include <memory>
#include <random>

using namespace TestSupport;
using Builder = std::function<void(TarBuilder&, const std::string& outside)>;

namespace {

// Writes the archive into the stream in pieces of the given sizes, repeated,
// and flushes: unpacking runs behind the writes, flushing waits for it.
void WriteInPieces(std::ostream& stream, const QByteArray& archive,
                   const std::vector<int>& pieces = {1 << 30})
{
  for (int at = 0, next = 0; at < archive.size() && stream.good(); ++next) {
    const int size = std::min(pieces[next % pieces.size()], archive.size() - at);
    stream.write(archive.constData() + at, size);
    at += size;
  }
  stream.flush();
}

// A folder to unpack into, holding links to a sibling that nothing may touch.
struct Target
{
  Target()
  {
    QDir().mkpath(root());
    WriteFile(outside() + "/keep.txt", "untouched\n");
    QFile::link(outside(), root() + "/folder-link");
    QFile::link(outside() + "/keep.txt", root() + "/file-link");
  }
  QString root() const { return dir.filePath("root"); }
  QString outside() const { return dir.filePath("outside"); }
  // Everything beside the root, which must never change.
  std::string Surroundings() const
  {
    std::string text;
    for (const auto& entry : Listing(dir.path()))
      if (entry.first.rfind("root/", 0) != 0)
        text += entry.first + " " + entry.second + "\n";
    return text;
  }

  QTemporaryDir dir;
};

const std::string Surroundings =
    "outside dir\noutside/keep.txt file:" + Md5Hex("untouched\n").toStdString() + "\nroot dir\n";

} // namespace

// ---------------------------------------------------------------------------
// Real archives made by GNU tar, written in pieces split at every kind of byte.

using TarLayoutTest = testing::TestWithParam<const char*>;

TEST_P(TarLayoutTest, UnpacksByteIdenticalTreeAndHashesEveryByteWhateverTheSplit)
{
  QTemporaryDir source;
  MakeSampleTree(source.path());
  if (GetParam() == std::string("ustar")) // names beyond 255 bytes do not fit
    QDir(source.filePath("deep")).removeRecursively();
  const QByteArray archive = TarFolder(source.path(), GetParam());
  ASSERT_FALSE(archive.isEmpty());

  std::mt19937 random(7);
  std::vector<int> randomPieces;
  for (int i = 0; i < 200; ++i)
    randomPieces.push_back(1 + static_cast<int>(random() % 3000));
  for (const auto& pieces : std::vector<std::vector<int>>{
           {archive.size()}, {1}, {511}, {513}, {100, 412, 1, 1023, 4096}, randomPieces}) {
    SCOPED_TRACE(pieces.front());
    QTemporaryDir target;
    {
      // Rings far smaller than the archive: both workers wrap around many times.
      Tesk::Tar::StreamBuf buffer(target.path().toStdString(), 1000 + pieces.front() % 4096);
      std::ostream stream(&buffer);
      WriteInPieces(stream, archive, pieces);
      EXPECT_TRUE(stream.good()) << buffer.Error();
      EXPECT_TRUE(buffer.Finished());
      EXPECT_EQ(static_cast<qint64>(stream.tellp()), archive.size());
      EXPECT_EQ(buffer.Md5(), Md5Hex(archive).toStdString());
    }
    EXPECT_EQ(Listing(target.path()), Listing(source.path()));
  }
}

INSTANTIATE_TEST_SUITE_P(GnuTar, TarLayoutTest, testing::Values("gnu", "pax", "ustar"),
                         [](const auto& info) { return std::string(info.param); });

// ---------------------------------------------------------------------------
// Unusual archives that are sound.

// What GNU tar itself does not write: global records, a pax size that
// overrides the header's, GNU link names and labels, a prefix field filled
// without a NUL, an old-style folder, names with "." components and folders
// whose size is not 0 (no data follow them, as GNU tar reads them).
TEST(TarStreamTest, ExtendedHeadersSpecialEntriesAndFullFieldsAreUnpacked)
{
  Target target;
  const std::string hundred(100, 'n'), prefix(155, 'p'); // fields filled without a NUL
  const QByteArray archive =
      TarBuilder()
          .AddPax({{"comment", "global records are skipped"}, {"path", "ignored"}}, 'g')
          .AddPax({{"size", "3000"}}) // the header's size field is wrong on purpose
          .Add({"sized-by-pax.bin", '0', 1})
          .AddData(Pattern(3000, 2))
          .Add({"././@LongLink", 'K', 20, {}, {}, true})
          .AddData("link target ignored")
          .AddFile("after-K.bin", "k")
          .Add({"label", 'V', 0, {}, {}, true})
          .Add({hundred, '0', 2, {}, prefix})
          .AddData("de")
          .Add({"old-style-folder/", '0', 0})
          .Add({"sized-folder", '5', 4096})
          .AddFile("sized-folder/in", "ustar")
          .AddPax({{"size", "1024"}})
          .AddDirectory("pax-sized-folder")
          .AddFile("pax-sized-folder/in", "pax")
          .Add({"old-style-sized-folder/", '0', 1024})
          .AddFile("old-style-sized-folder/in", "old")
          .AddFile("./dot/./slashes//file", "x")
          .AddDirectory("./")
          .End()
          .Bytes();
  Tesk::Tar::Stream stream(target.root().toStdString());
  WriteInPieces(stream, archive, {1, 333});
  EXPECT_TRUE(stream.good()) << stream.Error();
  const std::map<QString, QByteArray> files = {{"sized-by-pax.bin", Pattern(3000, 2)},
                                               {"after-K.bin", "k"},
                                               {QString::fromStdString(prefix + "/" + hundred), "de"},
                                               {"dot/slashes/file", "x"},
                                               {"sized-folder/in", "ustar"},
                                               {"pax-sized-folder/in", "pax"},
                                               {"old-style-sized-folder/in", "old"}};
  for (const auto& [name, content] : files)
    EXPECT_EQ(ReadFile(target.root() + "/" + name), content) << name.toStdString();
  EXPECT_TRUE(QFileInfo(target.root() + "/old-style-folder").isDir());
  EXPECT_FALSE(QFile::exists(target.root() + "/ignored"));
}

TEST(TarStreamTest, TruncatedArchiveKeepsWhatArrivedAndSaysItEndedEarly)
{
  Target target;
  const QByteArray archive =
      TarBuilder().AddFile("whole", "complete").AddFile("cut", Pattern(5000, 1)).End().Bytes().left(3536);
  {
    Tesk::Tar::Stream stream(target.root().toStdString());
    WriteInPieces(stream, archive);
    EXPECT_TRUE(stream.good());
    EXPECT_FALSE(stream.Finished());
    EXPECT_EQ(stream.md5(), Md5Hex(archive).toStdString());
  }
  EXPECT_EQ(ReadFile(target.root() + "/whole"), "complete");
  EXPECT_EQ(ReadFile(target.root() + "/cut"), Pattern(2000, 1));
}

// A stream whose target has gone drops what it still holds and whatever the
// writer hands it after that, without failing the writer.
TEST(TarStreamTest, ADiscardedStreamUnpacksNothingMore)
{
  Target target;
  const QByteArray first = TarBuilder().AddFile("before", "kept").Bytes();
  const QByteArray rest = TarBuilder().AddFile("after", "dropped").End().Bytes();
  {
    Tesk::Tar::Stream stream(target.root().toStdString());
    stream.write(first.constData(), first.size()).flush();
    stream.Discard();
    stream.write(rest.constData(), rest.size());
    EXPECT_TRUE(stream.good());
  }
  EXPECT_EQ(ReadFile(target.root() + "/before"), "kept");
  EXPECT_FALSE(QFile::exists(target.root() + "/after"));
}

// A suspended stream holds nothing open below its root. The next write opens
// the root and the file being written again and goes on where it stopped,
// also when they come back with other inode numbers (as FAT and exFAT give
// them once the kernel has let go of them); when the file is not the one
// written, or the root lies on another file system now, that write fails and
// nothing is written.
TEST(TarStreamTest, ASuspendedStreamHoldsNothingOpenAndGoesOnOnlyInTheSameFolderAndFile)
{
  const QByteArray archive = TarBuilder()
                                 .AddFile("sub/one.bin", Pattern(5000, 1))
                                 .AddFile("two.bin", Pattern(3000, 2))
                                 .End()
                                 .Bytes();
  const int cut = 512 + 2000; // inside the data of sub/one.bin
  // The root moved aside; what it held copied into a new one in its place.
  const auto moveAside = [](const Target& target) { QDir().rename(target.root(), target.root() + "-old"); };
  const auto copyBack = [](const Target& target) {
    QDir().mkpath(target.root() + "/sub");
    QFile::copy(target.root() + "-old/sub/one.bin", target.root() + "/sub/one.bin");
  };
  std::unique_ptr<TmpfsMount> mounted;
  // What happens to the target while the stream is suspended.
  const struct
  {
    const char* name;
    std::function<void(const Target&)> change;
    const char* failure; // the write's failure, none when it goes on
  } cases[] = {
      {"nothing", [](const Target&) {}, nullptr},
      {"the root and the file with new inode numbers",
       [&](const Target& target) {
         moveAside(target);
         copyBack(target);
       },
       nullptr},
      {"the root replaced by an empty folder",
       [&](const Target& target) {
         moveAside(target);
         QDir().mkpath(target.root() + "/sub");
       },
       "Failed to open file again"},
      {"a file in the place of the file's folder",
       [](const Target& target) {
         QDir(target.root() + "/sub").removeRecursively();
         WriteFile(target.root() + "/sub", "a file");
       },
       "Failed to open directory again"},
      {"the file replaced",
       [](const Target& target) {
         QFile::remove(target.root() + "/sub/one.bin");
         WriteFile(target.root() + "/sub/one.bin", "another");
       },
       "it is not the file written"},
      {"the file grown",
       [](const Target& target) {
         QFile file(target.root() + "/sub/one.bin");
         file.open(QIODevice::Append);
         file.write("more");
       },
       "it is not the file written"},
      {"another file system mounted in the root's place",
       [&](const Target& target) {
         moveAside(target);
         QDir().mkpath(target.root());
         mounted = std::make_unique<TmpfsMount>(target.root().toStdString(), 1);
         ASSERT_TRUE(mounted->Mounted()) << mounted->Error();
         copyBack(target);
       },
       "another file system has taken its place"},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    if (std::string(test.name).rfind("another file system", 0) == 0 && !TmpfsMount::Allowed()) {
      std::cout << "a mount in the root's place needs root\n";
      continue;
    }
    Target target;
    Tesk::Tar::Stream stream(target.root().toStdString());
    stream.write(archive.constData(), cut).flush();
    EXPECT_NE(TestSupport::OpenBelow(target.root()), "");
    stream.Suspend();
    EXPECT_EQ(TestSupport::OpenBelow(target.root()), "");
    test.change(target);
    const auto before = Listing(target.root());
    stream.write(archive.constData() + cut, archive.size() - cut).flush();
    if (!test.failure) {
      EXPECT_TRUE(stream.good());
      EXPECT_TRUE(stream.Finished());
      EXPECT_EQ(stream.md5(), Md5Hex(archive).toStdString());
      EXPECT_EQ(ReadFile(target.root() + "/sub/one.bin"), Pattern(5000, 1));
      EXPECT_EQ(ReadFile(target.root() + "/two.bin"), Pattern(3000, 2));
    } else {
      EXPECT_TRUE(stream.bad());
      EXPECT_NE(stream.Error().find(test.failure), std::string::npos) << stream.Error();
      EXPECT_FALSE(stream.Refused()) << "the target's fault, not the archive's";
      EXPECT_EQ(Listing(target.root()), before);
    }
    if (QFileInfo::exists(target.root() + "-old")) {
      EXPECT_EQ(ReadFile(target.root() + "-old/sub/one.bin"), Pattern(5000, 1).left(2000));
    } else {
      EXPECT_EQ(target.Surroundings(), Surroundings) << "nothing outside the root is touched";
    }
    stream.Suspend();
    EXPECT_EQ(TestSupport::OpenBelow(target.root()), "");
    mounted.reset();
  }
}

// ---------------------------------------------------------------------------
// Entries that could reach outside the root, damaged headers, and entries
// that cannot be created: each fails the stream with a clear error.

namespace {

struct Refusal
{
  const char* label;
  Builder entries; // added between a sound file before and one after
  const char* error;
};

// Breaks the header of a file of 10 bytes.
Builder Damaged(const std::function<void(char* header)>& tamper, bool fixChecksum = true)
{
  return [=](TarBuilder& b, const std::string&) {
    b.Add({"second.bin", '0', 10});
    tamper(b.LastHeader());
    if (fixChecksum)
      b.FixChecksum();
    b.AddData(Pattern(10, 2));
  };
}

// "f/f/.../name": `length` bytes in folders of `folder` bytes.
std::string LongPath(std::size_t folder, std::size_t length)
{
  std::string path;
  while (path.size() + folder + 1 < length)
    path += std::string(folder, 'f') + "/";
  return path + std::string(length - path.size(), 'n');
}

// clang-format off
const Refusal Refusals[] = {
    // Links, FIFOs and absolute names as GNU tar writes them (GNU magic).
    {"AbsoluteName", [](auto& b, auto& out) { b.Add({out + "/evil", '0', 4, {}, {}, true}).AddData("evil"); },
     "Refused entry with an absolute name"},
    {"AbsoluteUstarPrefix", [](auto& b, auto& out) { b.Add({"evil", '0', 4, {}, out}).AddData("evil"); },
     "Refused entry with an absolute name"},
    {"DotDotLeavingTheRoot", [](auto& b, auto&) { b.AddFile("../outside/evil", "evil"); },
     "Refused entry name with a \"..\" component"},
    {"DotDotInLongName", [](auto& b, auto&) { b.AddLongName("x/../../outside/evil").AddFile("h", "x"); },
     "Refused entry name with a \"..\" component"},
    {"DotDotInPaxPath", [](auto& b, auto&) { b.AddPax({{"path", "../outside/evil"}}).AddFile("h", "x"); },
     "Refused entry name with a \"..\" component"},
    {"EmptyName", [](auto& b, auto&) { b.AddFile("", "evil"); }, "Refused entry with an empty name"},
    {"SymbolicLink", [](auto& b, auto& out) { b.Add({"link", '2', 0, out, {}, true}).AddFile("link/x", ""); },
     "Refused symbolic link: \"link\""},
    {"HardLink", [](auto& b, auto& out) { b.Add({"link", '1', 0, out + "/keep.txt", {}, true}); },
     "Refused hard link: \"link\""},
    {"CharacterDevice", [](auto& b, auto&) { b.Add({"null", '3'}); }, "Refused character device: \"null\""},
    {"BlockDevice", [](auto& b, auto&) { b.Add({"sda", '4'}); }, "Refused block device: \"sda\""},
    {"Fifo", [](auto& b, auto&) { b.Add({"pipe", '6', 0, {}, {}, true}); }, "Refused FIFO: \"pipe\""},
    // No data follow a folder entry: data there are read as a damaged header.
    {"DataAfterAFolder", [](auto& b, auto&) { b.Add({"folder", '5', 600}).AddData(Pattern(600, 1)); },
     "Bad tar header checksum at offset 1536"},
    {"SparseFile", [](auto& b, auto&) { b.Add({"sparse", 'S', 0, {}, {}, true}); },
     "Refused unsupported entry type 'S': \"sparse\""},
    // A link that already lies in the root is never followed.
    {"FileInALinkedFolder", [](auto& b, auto&) { b.AddFile("folder-link/evil", "x"); }, "Failed to create"},
    {"FileOverALinkedFile", [](auto& b, auto&) { b.AddFile("file-link", "evil"); }, "Failed to create"},
    {"FolderOverALinkedFolder", [](auto& b, auto&) { b.Add({"folder-link/", '5'}); }, "Failed to create"},
    {"FolderBelowAFile", [](auto& b, auto&) { b.AddFile("a", "file").AddFile("a/b", "under a file"); },
     "Failed to create directory: \"a\": Not a directory"},
    {"FileOverAFolder", [](auto& b, auto&) { b.AddDirectory("d").AddFile("d", "over a folder"); },
     "Failed to create file: \"d\": Is a directory"},
    {"BadChecksum", Damaged([](char* h) { h[0] ^= 1; }, false), "Bad tar header checksum at offset 1024"},
    {"ChecksumNotANumber", Damaged([](char* h) { std::memcpy(h + 148, "zzzzzz\0 ", 8); }, false),
     "Bad tar header checksum at offset 1024"},
    {"SizeNotOctal", Damaged([](char* h) { std::memcpy(h + 124, "0000000009", 11); }), "Invalid size field"},
    {"SizeOverflowsInBase256", Damaged([](char* h) { h[124] = char(0x80), std::memset(h + 125, 0xff, 11); }),
     "The size field overflows"},
    {"NegativeBase256Size", Damaged([](char* h) { std::memset(h + 124, 0xff, 12); }),
     "Negative or oversized size field"},
    {"MalformedPaxRecord", [](auto& b, auto&) { b.Add({"x", 'x', 12}).AddData("5 a=b\nxxxxx"); },
     "Malformed extended header"},
    {"PaxSizeOverflows", [](auto& b, auto&) { b.AddPax({{"size", "99999999999999999999"}}); },
     "The size record overflows"},
    {"PaxPathWithNul", [](auto& b, auto&) { b.Add({"x", 'x', 12}).AddData({"12 path=a\0b\n", 12}); },
     "Malformed extended header"},
    {"HugeLongName", [](auto& b, auto&) { b.Add({"././@LongLink", 'L', 2 * 1024 * 1024, {}, {}, true}); },
     "Refused long name of 2097152 bytes"},
    // Names no system call takes whole, as GNU tar refuses them: PATH_MAX
    // bytes and 10,001 bytes in folders of 100, and a component of 256 bytes.
    {"NameOfPathMax", [](auto& b, auto&) { b.AddPax({{"path", LongPath(100, PATH_MAX)}}).AddFile("h", "x"); },
     "Refused entry with a name of 4096 bytes (the limit is 4095)"},
    {"NameBeyondPathMax", [](auto& b, auto&) { b.AddPax({{"path", LongPath(100, 10001)}}).AddFile("h", "x"); },
     "Refused entry with a name of 10001 bytes (the limit is 4095)"},
    {"ComponentBeyondNameMax",
     [](auto& b, auto&) { b.AddLongName("ok/" + std::string(256, 'n') + "/file").AddFile("h", "x"); },
     "Refused entry name with a component of 256 bytes (the limit is 255)"},
};
// clang-format on

} // namespace

using TarRefusalTest = testing::TestWithParam<Refusal>;

TEST_P(TarRefusalTest, FailsWithAClearErrorAndWritesNothingOutsideTheRoot)
{
  Target target;
  TarBuilder builder;
  builder.AddFile("before.txt", "ok");
  GetParam().entries(builder, target.outside().toStdString());
  const QByteArray archive = builder.AddFile("after.txt", "after").End().Bytes();
  // Split in the middle of the bad header: the refusal must not depend on it.
  Tesk::Tar::Stream stream(target.root().toStdString());
  WriteInPieces(stream, archive, {700, 100, 3});
  EXPECT_TRUE(stream.bad());
  EXPECT_NE(stream.Error().find(GetParam().error), std::string::npos) << stream.Error();
  EXPECT_EQ(ReadFile(target.root() + "/before.txt"), "ok");
  EXPECT_FALSE(QFile::exists(target.root() + "/after.txt"));
  EXPECT_EQ(target.Surroundings(), Surroundings);
}

INSTANTIATE_TEST_SUITE_P(Entries, TarRefusalTest, testing::ValuesIn(Refusals),
                         [](const auto& info) { return std::string(info.param.label); });
