#include "ArchiveTools.h"
#include "LogCapture.h"
#include "Tar/RingWorker.h"
#include "Tar/Stream.h"

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <random>
#include <sys/stat.h>

using namespace ArchiveTools;

namespace {

boost::filesystem::path Path(const QString& path)
{
  return boost::filesystem::path(path.toStdString());
}

// Writes the archive into the stream in pieces of the given sizes, repeated.
void WriteInPieces(std::ostream& stream, const QByteArray& archive, const std::vector<int>& pieces)
{
  int at = 0;
  std::size_t next = 0;
  while (at < archive.size() && stream.good()) {
    const int size = std::min(pieces[next++ % pieces.size()], archive.size() - at);
    stream.write(archive.constData() + at, size);
    at += size;
  }
  // Unpacking runs behind the writes; flushing waits for it.
  stream.flush();
}

// A folder to unpack into, with a sibling that nothing may touch.
struct Target
{
  Target()
  {
    QDir().mkpath(root());
    WriteFile(outside() + "/keep.txt", "untouched\n");
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

const std::string kSurroundings =
    "outside dir\noutside/keep.txt file:" + Md5Hex("untouched\n").toStdString() + "\nroot dir\n";

} // namespace

// ---------------------------------------------------------------------------
// Real archives made by GNU tar, written in pieces split at every kind of byte.

struct Layout
{
  const char* format;
  bool veryLongNames; // names beyond 255 bytes (ustar cannot hold them)
};

void PrintTo(const Layout& layout, std::ostream* os)
{
  *os << layout.format;
}

class TarLayoutTest : public testing::TestWithParam<Layout>
{
};

TEST_P(TarLayoutTest, UnpacksByteIdenticalTreeAndHashesEveryByteWhateverTheSplit)
{
  QTemporaryDir source;
  MakeSampleTree(source.path());
  if (!GetParam().veryLongNames)
    QDir(source.filePath("deep")).removeRecursively();
  const QByteArray archive = TarFolder(source.path(), GetParam().format);
  ASSERT_FALSE(archive.isEmpty());

  std::mt19937 random(7);
  std::vector<int> randomPieces;
  for (int i = 0; i < 200; ++i)
    randomPieces.push_back(1 + static_cast<int>(random() % 3000));
  const std::vector<std::vector<int>> splits = {
      {archive.size()}, {1}, {511}, {512}, {513}, {7919}, {100, 412, 1, 1023, 4096}, randomPieces};

  for (const auto& pieces : splits) {
    QTemporaryDir target;
    {
      Tesk::Tar::Stream stream(Path(target.path()));
      ASSERT_TRUE(stream.good());
      WriteInPieces(stream, archive, pieces);
      EXPECT_TRUE(stream.good()) << stream.error();
      EXPECT_TRUE(stream.finished());
      EXPECT_EQ(static_cast<qint64>(stream.tellp()), archive.size());
      EXPECT_EQ(stream.md5(), Md5Hex(archive).toStdString());
    }
    EXPECT_EQ(Describe(target.path()), Describe(source.path())) << "first piece " << pieces.front();
  }
}

INSTANTIATE_TEST_SUITE_P(GnuTar, TarLayoutTest,
                         testing::Values(Layout{"gnu", true}, Layout{"pax", true}, Layout{"ustar", false}),
                         [](const auto& info) { return std::string(info.param.format); });

TEST(TarStreamTest, PositionIsTheCountOfBytesAcceptedWhateverIsAsked)
{
  QTemporaryDir target;
  const QByteArray archive = TarBuilder().AddFile("a.txt", Pattern(3000, 1)).End().Bytes();
  Tesk::Tar::Stream stream(Path(target.path()));
  EXPECT_EQ(static_cast<qint64>(stream.tellp()), 0);
  qint64 written = 0;
  for (int size : {1, 600, 1000, 2000}) {
    stream.write(archive.constData() + written, size);
    written += size;
    EXPECT_EQ(static_cast<qint64>(stream.tellp()), written);
    EXPECT_EQ(static_cast<qint64>(stream.rdbuf()->pubseekoff(100, std::ios::beg, std::ios::in)), written);
    EXPECT_EQ(static_cast<qint64>(stream.rdbuf()->pubseekoff(-5, std::ios::end, std::ios::out)), written);
  }
  stream.put(archive[static_cast<int>(written)]);
  EXPECT_EQ(static_cast<qint64>(stream.tellp()), written + 1);
}

TEST(TarStreamTest, OpensOnlyAnExistingRootAndSaysSo)
{
  QTemporaryDir dir;
  const QString missing = dir.filePath("missing");
  LogCapture log;
  {
    Tesk::Tar::Stream good(Path(dir.path()));
    EXPECT_TRUE(good.good());
    Tesk::Tar::Stream bad(Path(missing));
    EXPECT_TRUE(bad.bad());
    bad.write("x", 1);
    EXPECT_FALSE(QDir(missing).exists());
  }
  EXPECT_TRUE(log.Contains("Opened tar stream for: \"" + dir.path().toStdString() + "\""));
  EXPECT_TRUE(log.Contains("Failed to open tar stream for: \"" + missing.toStdString() + "\""));
}

TEST(TarStreamTest, HashesEveryByteIncludingWhatFollowsTheEndOfTheArchive)
{
  QTemporaryDir target;
  QByteArray archive = TarBuilder().AddFile("a", "abc").End().Bytes();
  archive.append(QByteArray(9216, '\0')); // record padding as GNU tar writes it
  archive.append("trailing junk is ignored");
  Tesk::Tar::Stream stream(Path(target.path()));
  EXPECT_EQ(stream.md5(), "d41d8cd98f00b204e9800998ecf8427e");
  stream.write(archive.constData(), archive.size());
  stream.flush();
  EXPECT_TRUE(stream.good());
  EXPECT_TRUE(stream.finished());
  EXPECT_EQ(stream.md5(), Md5Hex(archive).toStdString());
  EXPECT_EQ(ReadFile(target.filePath("a")), "abc");
}

TEST(TarStreamTest, RingWorkerPassesEveryByteInOrderAcrossTheRing)
{
  std::string received;
  Tesk::Tar::RingWorker worker(1000,
                               [&](const char* data, std::size_t size) { received.append(data, size); });
  const QByteArray data = Pattern(100000, 3);
  int at = 0;
  for (int size : {1, 999, 1000, 1001, 4096, 37, 50000, 42866}) {
    worker.Append(data.constData() + at, static_cast<std::size_t>(size));
    at += size;
    worker.Drain();
    EXPECT_TRUE(received == data.left(at).toStdString());
  }
  EXPECT_FALSE(worker.Failed());
}

TEST(TarStreamTest, RingWorkerKeepsTheFirstFailureAndDiscardsTheRest)
{
  int calls = 0;
  Tesk::Tar::RingWorker worker(4096, [&](const char*, std::size_t) {
    if (++calls == 2)
      throw std::runtime_error("the consumer gave up");
  });
  const QByteArray data = Pattern(3000, 4);
  for (int i = 0; i < 20; ++i) // far more than the ring holds: nothing blocks
    worker.Append(data.constData(), static_cast<std::size_t>(data.size()));
  worker.Drain();
  EXPECT_TRUE(worker.Failed());
  EXPECT_EQ(worker.Error(), "the consumer gave up");
  EXPECT_EQ(calls, 2);
}

// ---------------------------------------------------------------------------
// Names and kinds of entries that could reach outside the root are refused.

struct Refusal
{
  const char* label;
  QByteArray (*archive)(const QString& outside);
  const char* error;
};

QByteArray WithBadEntry(TarBuilder& builder)
{
  return builder.AddFile("after.txt", "after").End().Bytes();
}

const Refusal kRefusals[] = {
    {"AbsoluteName",
     [](const QString& outside) {
       TarBuilder b;
       b.AddFile("before.txt", "ok").AddFile((outside + "/evil").toStdString(), "evil");
       return WithBadEntry(b);
     },
     "Refused entry with an absolute name"},
    {"DotDotLeavingTheRoot",
     [](const QString&) {
       TarBuilder b;
       b.AddFile("before.txt", "ok").AddFile("../outside/evil", "evil");
       return WithBadEntry(b);
     },
     "Refused entry name with a \"..\" component"},
    {"DotDotStayingInside",
     [](const QString&) {
       TarBuilder b;
       b.AddFile("before.txt", "ok").AddFile("a/../b", "evil");
       return WithBadEntry(b);
     },
     "Refused entry name with a \"..\" component"},
    {"DotDotInLongName",
     [](const QString&) {
       TarBuilder b;
       b.AddFile("before.txt", "ok").AddLongName("x/../../outside/evil").AddFile("harmless", "evil");
       return WithBadEntry(b);
     },
     "Refused entry name with a \"..\" component"},
    {"DotDotInPaxPath",
     [](const QString&) {
       TarBuilder b;
       b.AddFile("before.txt", "ok").AddPax({{"path", "../outside/evil"}}).AddFile("harmless", "evil");
       return WithBadEntry(b);
     },
     "Refused entry name with a \"..\" component"},
    {"AbsoluteUstarPrefix",
     [](const QString& outside) {
       TarBuilder b;
       b.AddFile("before.txt", "ok").Add({"evil", '0', 4, {}, outside.toStdString()}).AddData("evil");
       return WithBadEntry(b);
     },
     "Refused entry with an absolute name"},
    {"SymbolicLink",
     [](const QString& outside) {
       TarBuilder b;
       b.AddFile("before.txt", "ok")
           .Add({"link", '2', 0, outside.toStdString()})
           .AddFile("link/evil", "evil");
       return WithBadEntry(b);
     },
     "Refused symbolic link: \"link\""},
    {"HardLink",
     [](const QString& outside) {
       TarBuilder b;
       b.AddFile("before.txt", "ok").Add({"link", '1', 0, (outside + "/keep.txt").toStdString()});
       return WithBadEntry(b);
     },
     "Refused hard link: \"link\""},
    {"CharacterDevice",
     [](const QString&) {
       TarBuilder b;
       b.AddFile("before.txt", "ok").Add({"null", '3', 0});
       return WithBadEntry(b);
     },
     "Refused character device: \"null\""},
    {"BlockDevice",
     [](const QString&) {
       TarBuilder b;
       b.AddFile("before.txt", "ok").Add({"disk", '4', 0});
       return WithBadEntry(b);
     },
     "Refused block device: \"disk\""},
    {"Fifo",
     [](const QString&) {
       TarBuilder b;
       b.AddFile("before.txt", "ok").Add({"pipe", '6', 0});
       return WithBadEntry(b);
     },
     "Refused FIFO: \"pipe\""},
    {"DirectoryWithData",
     [](const QString&) {
       TarBuilder b;
       b.AddFile("before.txt", "ok").Add({"folder", '5', 600}).AddData(Pattern(600, 1));
       return WithBadEntry(b);
     },
     "Refused directory entry with data: \"folder\" (600 bytes)"},
    {"SparseFile",
     [](const QString&) {
       TarBuilder b;
       b.AddFile("before.txt", "ok").Add({"sparse", 'S', 0, {}, {}, true});
       return WithBadEntry(b);
     },
     "Refused unsupported entry type 'S': \"sparse\""},
    {"EmptyName",
     [](const QString&) {
       TarBuilder b;
       b.AddFile("before.txt", "ok").AddFile("", "evil");
       return WithBadEntry(b);
     },
     "Refused entry with an empty name"},
};

void PrintTo(const Refusal& refusal, std::ostream* os)
{
  *os << refusal.label;
}

class TarRefusalTest : public testing::TestWithParam<Refusal>
{
};

TEST_P(TarRefusalTest, FailsWithAClearErrorAndWritesNothingOutsideTheRoot)
{
  Target target;
  const QByteArray archive = GetParam().archive(target.outside());
  // Split in the middle of the bad header: the refusal must not depend on it.
  {
    Tesk::Tar::Stream stream(Path(target.root()));
    WriteInPieces(stream, archive, {700, 100});
    EXPECT_TRUE(stream.bad());
    EXPECT_NE(stream.error().find(GetParam().error), std::string::npos) << stream.error();
  }
  EXPECT_EQ(ReadFile(target.root() + "/before.txt"), "ok");
  EXPECT_FALSE(QFile::exists(target.root() + "/after.txt"));
  EXPECT_EQ(target.Surroundings(), kSurroundings);

  // With the exception mask the downloader sets, the extractor's own error
  // comes out of write.
  QDir(target.root()).removeRecursively();
  QDir().mkpath(target.root());
  Tesk::Tar::Stream stream(Path(target.root()));
  stream.exceptions(std::ios::badbit | std::ios::failbit);
  try {
    stream.write(archive.constData(), archive.size());
    stream.flush();
    ADD_FAILURE() << "no exception";
  } catch (const std::runtime_error& error) {
    EXPECT_NE(std::string(error.what()).find(GetParam().error), std::string::npos) << error.what();
  }
  // The failure sticks: nothing more is unpacked.
  EXPECT_THROW(stream.write(archive.constData(), 512), std::runtime_error);
  EXPECT_EQ(target.Surroundings(), kSurroundings);
}

INSTANTIATE_TEST_SUITE_P(Entries, TarRefusalTest, testing::ValuesIn(kRefusals),
                         [](const auto& info) { return std::string(info.param.label); });

TEST(TarStreamTest, RefusesLinksFifosAndAbsoluteNamesInArchivesMadeByGnuTar)
{
  QTemporaryDir source;
  WriteFile(source.filePath("file.txt"), "content");
  struct Case
  {
    const char* label;
    std::function<void()> prepare;
    QStringList extra;
    const char* error;
  };
  const Case cases[] = {
      {"symlink", [&] { QFile::link("/etc", source.filePath("link")); }, {}, "Refused symbolic link"},
      {"hardlink",
       [&] { ::link(source.filePath("file.txt").toUtf8(), source.filePath("hard").toUtf8()); },
       {},
       "Refused hard link"},
      {"fifo", [&] { ::mkfifo(source.filePath("pipe").toUtf8(), 0644); }, {}, "Refused FIFO"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    c.prepare();
    const QByteArray archive = TarFolder(source.path(), "gnu");
    ASSERT_FALSE(archive.isEmpty());
    Target target;
    Tesk::Tar::Stream stream(Path(target.root()));
    stream.write(archive.constData(), archive.size());
    stream.flush();
    EXPECT_TRUE(stream.bad());
    EXPECT_NE(stream.error().find(c.error), std::string::npos) << stream.error();
    EXPECT_EQ(target.Surroundings(), kSurroundings);
    QDir(source.path()).removeRecursively();
    QDir().mkpath(source.path());
    WriteFile(source.filePath("file.txt"), "content");
  }

  // -P keeps the leading slash.
  Target target;
  QTemporaryDir scratch;
  const QString archivePath = scratch.filePath("abs.tar");
  ASSERT_EQ(RunTar({"-P", "-cf", archivePath, source.filePath("file.txt")}), 0);
  const QByteArray archive = ReadFile(archivePath);
  Tesk::Tar::Stream stream(Path(target.root()));
  stream.write(archive.constData(), archive.size());
  stream.flush();
  EXPECT_TRUE(stream.bad());
  EXPECT_NE(stream.error().find("Refused entry with an absolute name"), std::string::npos);
}

TEST(TarStreamTest, NeverFollowsALinkThatAlreadyLiesInTheRoot)
{
  Target target;
  ASSERT_TRUE(QFile::link(target.outside(), target.root() + "/folder-link"));
  ASSERT_TRUE(QFile::link(target.outside() + "/keep.txt", target.root() + "/file-link"));
  for (const std::string name : {"folder-link/evil", "file-link", "folder-link"}) {
    SCOPED_TRACE(name);
    const QByteArray archive = name == "folder-link" ? TarBuilder().Add({name + "/", '5', 0}).End().Bytes()
                                                     : TarBuilder().AddFile(name, "evil").End().Bytes();
    Tesk::Tar::Stream stream(Path(target.root()));
    stream.write(archive.constData(), archive.size());
    stream.flush();
    EXPECT_TRUE(stream.bad());
    EXPECT_NE(stream.error().find("Failed to create"), std::string::npos) << stream.error();
    EXPECT_EQ(ReadFile(target.outside() + "/keep.txt"), "untouched\n");
    EXPECT_FALSE(QFile::exists(target.outside() + "/evil"));
  }
}

// ---------------------------------------------------------------------------
// Damaged and unusual input.

TEST(TarStreamTest, DamagedHeadersFailWithTheReason)
{
  struct Case
  {
    const char* label;
    std::function<void(TarBuilder&)> tamper;
    const char* error;
  };
  const Case cases[] = {
      {"bad checksum", [](TarBuilder& b) { b.LastHeader()[0] ^= 1; },
       "Bad tar header checksum at offset 1536"},
      {"checksum field not a number",
       [](TarBuilder& b) { std::memcpy(b.LastHeader() + 148, "zzzzzz\0 ", 8); },
       "Bad tar header checksum at offset 1536"},
      {"size not octal",
       [](TarBuilder& b) {
         std::memcpy(b.LastHeader() + 124, "0000000009\0", 12);
         b.FixChecksum();
       },
       "Invalid size field"},
      {"size beyond 64 bits in base-256",
       [](TarBuilder& b) {
         char* size = b.LastHeader() + 124;
         size[0] = static_cast<char>(0x80);
         std::memset(size + 1, 0xff, 11);
         b.FixChecksum();
       },
       "The size field overflows"},
      {"negative base-256 size",
       [](TarBuilder& b) {
         std::memset(b.LastHeader() + 124, 0xff, 12);
         b.FixChecksum();
       },
       "Negative or oversized size field"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    TarBuilder builder;
    builder.AddFile("first.bin", Pattern(600, 1)).Add({"second.bin", '0', 10});
    c.tamper(builder);
    builder.AddData(Pattern(10, 2)).End();
    Target target;
    Tesk::Tar::Stream stream(Path(target.root()));
    WriteInPieces(stream, builder.Bytes(), {1100, 3});
    EXPECT_TRUE(stream.bad());
    EXPECT_NE(stream.error().find(c.error), std::string::npos) << stream.error();
    EXPECT_EQ(ReadFile(target.root() + "/first.bin"), Pattern(600, 1));
    EXPECT_FALSE(QFile::exists(target.root() + "/second.bin"));
  }
}

TEST(TarStreamTest, ExtendedHeadersAreReadOrSkippedAndCheckedForSanity)
{
  Target target;
  const QByteArray archive =
      TarBuilder()
          .AddPax({{"comment", "global records are skipped"}, {"path", "ignored"}}, 'g')
          .AddPax({{"path", "pax/named.bin"}, {"mtime", "1700000000.5"}})
          .AddFile("short-name", Pattern(100, 1))
          .AddPax({{"size", "3000"}}) // the header's size field is wrong on purpose
          .Add({"sized-by-pax.bin", '0', 1})
          .AddData(Pattern(3000, 2))
          .AddLongName(std::string(150, 'L') + "/" + std::string(150, 'M') + "/long.bin")
          .AddFile("cut", Pattern(5, 3))
          .Add({"././@LongLink", 'K', 20, {}, {}, true})
          .AddData("link target ignored")
          .AddFile("after-K.bin", "k")
          .Add({"label", 'V', 0, {}, {}, true})
          .End()
          .Bytes();
  Tesk::Tar::Stream stream(Path(target.root()));
  WriteInPieces(stream, archive, {333});
  EXPECT_TRUE(stream.good()) << stream.error();
  EXPECT_EQ(ReadFile(target.root() + "/pax/named.bin"), Pattern(100, 1));
  EXPECT_EQ(ReadFile(target.root() + "/sized-by-pax.bin"), Pattern(3000, 2));
  EXPECT_EQ(ReadFile(target.root() + "/" + QString(150, 'L') + "/" + QString(150, 'M') + "/long.bin"),
            Pattern(5, 3));
  EXPECT_EQ(ReadFile(target.root() + "/after-K.bin"), "k");
  EXPECT_FALSE(QFile::exists(target.root() + "/short-name"));
  EXPECT_FALSE(QFile::exists(target.root() + "/ignored"));

  struct Case
  {
    const char* label;
    QByteArray archive;
    const char* error;
  };
  const Case bad[] = {
      {"malformed pax record", TarBuilder().Add({"x", 'x', 12}).AddData("5 a=b\nxxxxx").End().Bytes(),
       "Malformed extended header"},
      {"pax length beyond the data", TarBuilder().Add({"x", 'x', 8}).AddData("99 a=b\n\n").End().Bytes(),
       "Malformed extended header"},
      {"pax size overflows", TarBuilder().AddPax({{"size", "99999999999999999999"}}).End().Bytes(),
       "The size record overflows"},
      {"pax path with NUL",
       TarBuilder()
           .Add({"x", 'x', 12})
           .AddData(QByteArray("12 path=a\0b\n", 12))
           .AddFile("f", "")
           .End()
           .Bytes(),
       "Malformed extended header"},
      {"huge long name", TarBuilder().Add({"././@LongLink", 'L', 2 * 1024 * 1024, {}, {}, true}).Bytes(),
       "Refused long name of 2097152 bytes"},
  };
  for (const auto& c : bad) {
    SCOPED_TRACE(c.label);
    Target t;
    Tesk::Tar::Stream s(Path(t.root()));
    s.write(c.archive.constData(), c.archive.size());
    s.flush();
    EXPECT_TRUE(s.bad());
    EXPECT_NE(s.error().find(c.error), std::string::npos) << s.error();
  }
}

TEST(TarStreamTest, FullNameFieldsWithoutNulAndEmptyFilesAreUnpacked)
{
  Target target;
  const std::string hundred(100, 'n');
  const std::string prefix(155, 'p');
  const QByteArray archive = TarBuilder()
                                 .Add({hundred, '0', 3})
                                 .AddData("abc")
                                 .Add({hundred, '0', 2, {}, prefix})
                                 .AddData("de")
                                 .AddFile("zero-length", QByteArray())
                                 .Add({"old-style-folder/", '0', 0})
                                 .AddFile("./dot/./slashes//file", "x")
                                 .AddDirectory("./")
                                 .End()
                                 .Bytes();
  Tesk::Tar::Stream stream(Path(target.root()));
  WriteInPieces(stream, archive, {1});
  EXPECT_TRUE(stream.good()) << stream.error();
  EXPECT_EQ(ReadFile(target.root() + "/" + QString::fromStdString(hundred)), "abc");
  EXPECT_EQ(ReadFile(target.root() + "/" + QString::fromStdString(prefix + "/" + hundred)), "de");
  EXPECT_TRUE(QFileInfo(target.root() + "/zero-length").isFile());
  EXPECT_EQ(QFileInfo(target.root() + "/zero-length").size(), 0);
  EXPECT_TRUE(QFileInfo(target.root() + "/old-style-folder").isDir());
  EXPECT_EQ(ReadFile(target.root() + "/dot/slashes/file"), "x");
}

TEST(TarStreamTest, TruncatedArchiveKeepsWhatArrivedAndSaysItEndedEarly)
{
  Target target;
  const QByteArray archive =
      TarBuilder().AddFile("whole", "complete").AddFile("cut", Pattern(5000, 1)).End().Bytes();
  const QByteArray truncated = archive.left(1024 + 512 + 2000);
  LogCapture log;
  {
    Tesk::Tar::Stream stream(Path(target.root()));
    stream.write(truncated.constData(), truncated.size());
    stream.flush();
    EXPECT_TRUE(stream.good());
    EXPECT_FALSE(stream.finished());
    EXPECT_EQ(stream.md5(), Md5Hex(truncated).toStdString());
  }
  EXPECT_EQ(ReadFile(target.root() + "/whole"), "complete");
  EXPECT_EQ(ReadFile(target.root() + "/cut"), Pattern(2000, 1));
  EXPECT_TRUE(log.Contains("Tar stream closed before the end of the archive, after 3536 bytes"));
}

TEST(TarStreamTest, FolderOrFileThatCannotBeCreatedFailsTheStream)
{
  {
    Target target;
    const QByteArray archive = TarBuilder().AddFile("a", "file").AddFile("a/b", "under a file").End().Bytes();
    Tesk::Tar::Stream stream(Path(target.root()));
    stream.write(archive.constData(), archive.size());
    stream.flush();
    EXPECT_TRUE(stream.bad());
    EXPECT_EQ(stream.error(), "Failed to create directory: \"a\": Not a directory");
  }
  {
    Target target;
    const QByteArray archive = TarBuilder().AddDirectory("d").AddFile("d", "over a folder").End().Bytes();
    Tesk::Tar::Stream stream(Path(target.root()));
    stream.write(archive.constData(), archive.size());
    stream.flush();
    EXPECT_TRUE(stream.bad());
    EXPECT_EQ(stream.error(), "Failed to create file: \"d\": Is a directory");
  }
}

TEST(TarStreamTest, ReadOnlyRootFailsWithPermissionDenied)
{
  Target target;
  ASSERT_EQ(::chmod(target.root().toUtf8(), 0555), 0);
  HonourPermissions guard;
  const QByteArray archive = TarBuilder().AddDirectory("sub").AddFile("sub/f", "x").End().Bytes();
  Tesk::Tar::Stream stream(Path(target.root()));
  stream.exceptions(std::ios::badbit);
  try {
    stream.write(archive.constData(), archive.size());
    stream.flush();
    ADD_FAILURE() << "no exception";
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(), "Failed to create directory: \"sub\": Permission denied");
  }
  EXPECT_TRUE(QDir(target.root()).isEmpty());
  ::chmod(target.root().toUtf8(), 0755);
}
