#include "ArchiveTools.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <cstring>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace ArchiveTools {

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

bool WriteFile(const QString& path, const QByteArray& data)
{
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile file(path);
  return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(data) == data.size();
}

QByteArray ReadFile(const QString& path)
{
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void MakeSampleTree(const QString& root)
{
  unsigned seed = 1;
  for (std::size_t size : {0, 1, 511, 512, 513, 1023, 1024, 10240, 65537, 300000})
    WriteFile(root + QStringLiteral("/sizes/file-%1.bin").arg(size), Pattern(size, seed++));
  WriteFile(root + "/empty.txt", QByteArray());
  WriteFile(root + "/top.meta.xml", "<tns:package xmlns:tns=\"urn:tesk:v1\"/>\n");
  // A name of exactly 100 bytes fills the name field without a NUL.
  const QString hundred = QString(96, QLatin1Char('h')) + ".bin";
  WriteFile(root + "/" + hundred, Pattern(700, seed++));
  // Longer than 100 bytes: GNU writes an 'L' entry, pax an 'x', ustar splits it
  // into prefix and name.
  const QString longFolder = QString(60, QLatin1Char('d')) + "/" + QString(70, QLatin1Char('e'));
  WriteFile(root + "/" + longFolder + "/" + QString(80, QLatin1Char('f')) + ".dat", Pattern(2000, seed++));
  // Longer than 255 bytes: beyond ustar's reach.
  const QString veryLong = QString(120, QLatin1Char('x')) + "/" + QString(120, QLatin1Char('y')) + "/" +
                           QString(100, QLatin1Char('z'));
  WriteFile(root + "/deep/" + veryLong, Pattern(5000, seed++));
  QDir().mkpath(root + "/empty-folder");
  QDir().mkpath(root + "/nested/a/b/c");
  WriteFile(root + "/nested/a/b/c/leaf.txt", "leaf\n");
  WriteFile(root + "/spaces and ümlauts/file name.txt", "text\n");
}

namespace {

int RunTar(const QStringList& arguments)
{
  QProcess tar;
  tar.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  tar.start(QStringLiteral("tar"), arguments);
  if (!tar.waitForStarted(-1) || !tar.waitForFinished(-1))
    return -1;
  return tar.exitStatus() == QProcess::NormalExit ? tar.exitCode() : -1;
}

} // namespace

QByteArray TarFolder(const QString& folder, const QString& format)
{
  QTemporaryDir scratch;
  const QString archive = scratch.filePath("archive.tar");
  if (RunTar({"--format=" + format, "--sort=name", "--owner=0", "--group=0", "--numeric-owner", "-cf",
              archive, "-C", folder, "."}) != 0)
    return QByteArray();
  return ReadFile(archive);
}

QByteArray Md5Hex(const QByteArray& data)
{
  return QCryptographicHash::hash(data, QCryptographicHash::Md5).toHex();
}

std::map<std::string, std::string> Listing(const QString& root)
{
  std::map<std::string, std::string> entries;
  QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                  QDirIterator::Subdirectories);
  const QDir base(root);
  while (it.hasNext()) {
    it.next();
    const QFileInfo info = it.fileInfo();
    const std::string name = base.relativeFilePath(info.filePath()).toStdString();
    if (info.isSymLink())
      entries[name] = "symlink";
    else if (info.isDir())
      entries[name] = "dir";
    else if (info.isFile())
      entries[name] = "file:" + Md5Hex(ReadFile(info.filePath())).toStdString();
    else
      entries[name] = "other";
  }
  return entries;
}

namespace {

void PutOctal(char* field, std::size_t length, std::int64_t value)
{
  // length-1 octal digits and a NUL.
  std::snprintf(field, length, "%0*llo", static_cast<int>(length - 1),
                static_cast<unsigned long long>(value));
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
  PutText(block + 265, 32, "root");
  PutText(block + 297, 32, "root");
  lastHeader = bytes.size();
  bytes.append(block, 512);
  FixChecksum();
  return *this;
}

void TarBuilder::FixChecksum()
{
  char* block = LastHeader();
  std::memset(block + 148, ' ', 8);
  unsigned sum = 0;
  for (int i = 0; i < 512; ++i)
    sum += static_cast<unsigned char>(block[i]);
  std::snprintf(block + 148, 8, "%06o", sum);
  block[155] = ' ';
}

char* TarBuilder::LastHeader()
{
  return bytes.data() + lastHeader;
}

TarBuilder& TarBuilder::AddData(const QByteArray& data)
{
  bytes.append(data);
  const int padding = (512 - data.size() % 512) % 512;
  bytes.append(QByteArray(padding, '\0'));
  return *this;
}

TarBuilder& TarBuilder::AddFile(const std::string& name, const QByteArray& data)
{
  Add({name, '0', data.size()});
  return AddData(data);
}

TarBuilder& TarBuilder::AddDirectory(const std::string& name)
{
  return Add({name, '5', 0});
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

TarBuilder& TarBuilder::AddLongName(const std::string& name)
{
  QByteArray data = QByteArray::fromStdString(name);
  data.append('\0');
  Add({"././@LongLink", 'L', data.size(), {}, {}, true});
  return AddData(data);
}

TarBuilder& TarBuilder::End()
{
  bytes.append(QByteArray(1024, '\0'));
  return *this;
}

namespace {

constexpr int kOverrides[] = {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER, CAP_LINUX_IMMUTABLE};

bool SetEffective(bool on)
{
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2] = {};
  if (syscall(SYS_capget, &header, data) != 0)
    return false;
  for (int cap : kOverrides) {
    if (on)
      data[cap / 32].effective |= (data[cap / 32].permitted & (1u << (cap % 32)));
    else
      data[cap / 32].effective &= ~(1u << (cap % 32));
  }
  return syscall(SYS_capset, &header, data) == 0;
}

} // namespace

HonourPermissions::HonourPermissions()
{
  if (geteuid() == 0)
    changed = SetEffective(false);
}

HonourPermissions::~HonourPermissions()
{
  if (changed)
    SetEffective(true);
}

} // namespace ArchiveTools
