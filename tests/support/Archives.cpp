#include "Archives.h"

#include "Files.h"

#include <QDir>
#include <QProcess>

#include <cstring>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace TestSupport {

QByteArray Pattern(std::size_t size, unsigned seed)
{
  QByteArray data(static_cast<int>(size), Qt::Uninitialized);
  std::uint32_t state = seed * 2654435761u + 12345u;
  for (std::size_t i = 0; i < size; ++i) {
    state = state * 1664525u + 1013904223u;
    data[static_cast<int>(i)] = static_cast<char>(state >> 24);
  }
  return data;
}

void MakeSampleTree(const QString& root)
{
  unsigned seed = 1;
  for (std::size_t size : {0, 1, 511, 512, 513, 1023, 1024, 10240, 65537, 300000})
    WriteFile(root + QStringLiteral("/sizes/file-%1.bin").arg(size), Pattern(size, seed++));
  WriteFile(root + "/empty.txt", QByteArray());
  // A name of exactly 100 bytes fills the name field without a NUL.
  WriteFile(root + "/" + QString(96, QLatin1Char('h')) + ".bin", Pattern(700, seed++));
  // Longer than 100 bytes: GNU writes an 'L' entry, pax an 'x', ustar splits it
  // into prefix and name.
  const QString longFolder = QString(60, QLatin1Char('d')) + "/" + QString(70, QLatin1Char('e'));
  WriteFile(root + "/" + longFolder + "/" + QString(80, QLatin1Char('f')) + ".dat", Pattern(2000, seed++));
  // Longer than 255 bytes: beyond ustar's reach.
  WriteFile(root + "/deep/" + QString(120, QLatin1Char('x')) + "/" + QString(120, QLatin1Char('y')) + "/" +
                QString(100, QLatin1Char('z')),
            Pattern(5000, seed++));
  QDir().mkpath(root + "/empty-folder");
  WriteFile(root + "/nested/a/b/c/leaf.txt", "leaf\n");
  WriteFile(root + "/spaces and ümlauts/file name.txt", "text\n");
}

QByteArray TarFolder(const QString& folder, const QString& format)
{
  QTemporaryDir scratch;
  const QString archive = scratch.filePath("archive.tar");
  QProcess tar;
  tar.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  tar.start("tar", {"--format=" + format, "--sort=name", "--owner=0", "--group=0", "--numeric-owner", "-cf",
                    archive, "-C", folder, "."});
  const bool made =
      tar.waitForFinished(-1) && tar.exitStatus() == QProcess::NormalExit && tar.exitCode() == 0;
  return made ? ReadFile(archive) : QByteArray();
}

std::shared_ptr<MapArchive> MakeArchive(const std::string& name, qint64 dataBytes, const QByteArray& metadata,
                                        bool metadataAtTop)
{
  auto archive = std::make_shared<MapArchive>();
  archive->name = name;
  archive->metadata = !metadata.isEmpty() ? metadata
                                          : "<tns:package xmlns:tns=\"urn:tesk:v1\"><tns:id>" +
                                                QByteArray::fromStdString(name) + "</tns:id></tns:package>\n";
  const QString tree = archive->dir.filePath("tree");
  WriteFile(tree + (metadataAtTop ? "/" : "/META/") + QString::fromStdString(name) + ".meta.xml",
            archive->metadata);
  const qint64 parts[] = {dataBytes / 2, dataBytes / 4, dataBytes / 8, dataBytes - dataBytes * 7 / 8};
  const char* const names[] = {"region.bin", "TILE_0/PART_1.NDS", "TILE_1/PART_2.NDS", "TILE_0/PART_3.NDS"};
  for (int i = 0; i < 4; ++i)
    WriteFile(tree + "/data/" + names[i], Pattern(static_cast<std::size_t>(parts[i]), 7 + i));
  QDir().mkpath(tree + "/EMPTY");

  archive->bytes = TarFolder(tree, "gnu");
  archive->md5 = Md5Hex(archive->bytes).toStdString();
  archive->listing = Listing(tree);
  archive->fileBytes = dataBytes + archive->metadata.size();
  archive->file = archive->WriteVariant(QString::fromStdString(name) + ".tar", archive->bytes);
  return archive;
}

QString MapArchive::WriteVariant(const QString& fileName, const QByteArray& content) const
{
  const QString path = dir.filePath(fileName);
  WriteFile(path, content);
  return path;
}

namespace {

void PutOctal(char* field, std::size_t length, std::int64_t value)
{
  // length-1 octal digits (cut to the field, as snprintf would) and a NUL.
  const QByteArray digits =
      QByteArray::number(static_cast<qulonglong>(value), 8).rightJustified(int(length - 1), '0', true);
  std::memcpy(field, digits.constData(), length - 1);
  field[length - 1] = '\0';
}

void PutText(char* field, std::size_t length, const std::string& text)
{
  std::memcpy(field, text.data(), std::min(length, text.size()));
}

} // namespace

TarBuilder& TarBuilder::Add(const Entry& entry)
{
  char block[512] = {};
  PutText(block, 100, entry.name);
  PutOctal(block + 100, 8, entry.type == '5' ? 0755 : 0644);
  PutOctal(block + 108, 8, 0);
  PutOctal(block + 116, 8, 0);
  PutOctal(block + 124, 12, entry.size);
  PutOctal(block + 136, 12, 1700000000);
  block[156] = entry.type;
  PutText(block + 157, 100, entry.linkName);
  if (entry.gnuMagic) {
    std::memcpy(block + 257, "ustar  ", 8);
  } else {
    std::memcpy(block + 257, "ustar", 6);
    std::memcpy(block + 263, "00", 2);
    PutText(block + 345, 155, entry.prefix);
  }
  lastHeader = bytes.size();
  bytes.append(block, 512);
  FixChecksum();
  return *this;
}

void TarBuilder::FixChecksum()
{
  // The sum counts the checksum field as blanks; it is written as six octal
  // digits, a NUL and a blank, as tar writes it.
  bytes.replace(lastHeader + 148, 8, QByteArray(8, ' '));
  unsigned sum = 0;
  for (int i = 0; i < 512; ++i)
    sum += static_cast<unsigned char>(bytes.at(lastHeader + i));
  bytes.replace(lastHeader + 148, 8,
                QByteArray::number(sum, 8).rightJustified(6, '0') + QByteArray("\0 ", 2));
}

TarBuilder& TarBuilder::AddPax(const std::map<std::string, std::string>& records, char type)
{
  std::string data;
  for (const auto& record : records) {
    const std::string body = " " + record.first + "=" + record.second + "\n";
    // The length counts its own digits.
    std::size_t length = body.size() + 1;
    while (std::to_string(length).size() + body.size() != length)
      ++length;
    data += std::to_string(length) + body;
  }
  Add({"PaxHeaders/entry", type, static_cast<std::int64_t>(data.size())});
  return AddData(QByteArray::fromStdString(data));
}

namespace {

bool SetEffective(bool on)
{
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2] = {};
  if (syscall(SYS_capget, &header, data) != 0)
    return false;
  for (int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER, CAP_LINUX_IMMUTABLE}) {
    const unsigned bit = 1u << (cap % 32);
    data[cap / 32].effective =
        on ? data[cap / 32].effective | (data[cap / 32].permitted & bit) : data[cap / 32].effective & ~bit;
  }
  return syscall(SYS_capset, &header, data) == 0;
}

} // namespace

HonourPermissions::HonourPermissions() : changed(geteuid() == 0 && SetEffective(false)) {}

HonourPermissions::~HonourPermissions()
{
  if (changed)
    SetEffective(true);
}

} // namespace TestSupport
