#include "FakeVolumes.h"

#include "Files.h"

#include <QDir>
#include <QFile>
#include <QtGlobal>

#include <algorithm>
#include <sstream>
#include <stdexcept>

namespace {

void WriteOrThrow(const QString& path, const std::string& content)
{
  if (!TestSupport::WriteFile(path, QByteArray::fromStdString(content)))
    throw std::runtime_error("Cannot write " + path.toStdString());
}

void Link(const QString& target, const QString& link)
{
  QDir().mkpath(QFileInfo(link).path());
  QFile::remove(link); // a device number used again
  // A relative link, as the kernel's tree has them.
  const QString relative = QFileInfo(link).dir().relativeFilePath(target);
  if (!QFile::link(relative, link))
    throw std::runtime_error("Cannot link " + link.toStdString());
}

// A mount path as the table writes it: space, tab, new line and backslash
// as octal escapes.
std::string Encode(const std::string& path)
{
  std::string encoded;
  for (const char c : path)
    encoded += c == ' '    ? "\\040"
               : c == '\t' ? "\\011"
               : c == '\n' ? "\\012"
               : c == '\\' ? "\\134"
                           : std::string(1, c);
  return encoded;
}

} // namespace

FakeVolumes::FakeVolumes(bool ownMountTable) : fakeMountTable(ownMountTable)
{
  if (!dir.isValid())
    throw std::runtime_error("No temporary folder");
  QDir().mkpath(QString::fromStdString(SysfsRoot()) + "/dev/block");
  qputenv("LUMORA_SYSFS", QByteArray::fromStdString(SysfsRoot()));
  if (fakeMountTable) {
    WriteTable();
    qputenv("LUMORA_MOUNTINFO", QByteArray::fromStdString(MountTablePath()));
  }
}

FakeVolumes::~FakeVolumes()
{
  qunsetenv("LUMORA_SYSFS");
  if (fakeMountTable)
    qunsetenv("LUMORA_MOUNTINFO");
}

void FakeVolumes::AddPartition(unsigned major, unsigned minor, Bus bus, bool removableFlag)
{
  const QString root = QString::fromStdString(SysfsRoot());
  const QString number = QStringLiteral("%1_%2").arg(major).arg(minor);
  const QString pci = root + "/devices/pci0000:00/";
  QString device; // the folder that the disk's "device" link names
  switch (bus) {
  case Bus::Usb:
    device = pci + "0000:00:14.0/usb2/2-1/2-1:1.0/host6/target6:0:0/6:0:0:" + number;
    break;
  case Bus::Sata:
    device = pci + "0000:00:17.0/ata1/host0/target0:0:0/0:0:0:" + number;
    break;
  case Bus::SdCard:
  case Bus::Emmc:
    device = pci + "0000:00:1c.0/mmc_host/mmc0/mmc0:" + number;
    WriteOrThrow(device + "/type", bus == Bus::SdCard ? "SD\n" : "MMC\n");
    break;
  }
  const bool mmc = bus == Bus::SdCard || bus == Bus::Emmc;
  const QString disk = device + (mmc ? "/block/mmcblk" : "/block/sd") + number;
  WriteOrThrow(disk + "/removable", removableFlag ? "1\n" : "0\n");
  Link(device, disk + "/device");
  const QString partition = disk + "/" + QFileInfo(disk).fileName() + "p1";
  WriteOrThrow(partition + "/partition", "1\n");
  WriteOrThrow(partition + "/dev", QStringLiteral("%1:%2\n").arg(major).arg(minor).toStdString());
  Link(partition, root + QStringLiteral("/dev/block/%1:%2").arg(major).arg(minor));
}

void FakeVolumes::RemovePartition(unsigned major, unsigned minor)
{
  QFile::remove(QString::fromStdString(SysfsRoot()) +
                QStringLiteral("/dev/block/%1:%2").arg(major).arg(minor));
}

int FakeVolumes::Mount(unsigned major, unsigned minor, const std::string& mountPoint, const std::string& root)
{
  const int id = nextMountId++;
  mounts.push_back({id, major, minor, mountPoint, root});
  WriteTable();
  return id;
}

void FakeVolumes::Unmount(int mountId)
{
  mounts.erase(
      std::remove_if(mounts.begin(), mounts.end(), [&](const MountLine& m) { return m.id == mountId; }),
      mounts.end());
  WriteTable();
}

void FakeVolumes::WriteRawTable(const std::string& text)
{
  WriteOrThrow(QString::fromStdString(MountTablePath()), text);
}

void FakeVolumes::RemoveTable()
{
  QFile::remove(QString::fromStdString(MountTablePath()));
}

void FakeVolumes::WriteTable()
{
  std::ostringstream table;
  // Mounts every system has, on devices that the made-up tree does not know.
  table << "22 27 0:21 / /proc rw,relatime - proc proc rw\n"
        << "23 27 0:22 / /sys rw,relatime - sysfs sysfs rw\n"
        << "27 1 254:0 / / rw,relatime shared:1 - ext4 /dev/vda rw\n";
  for (const auto& m : mounts)
    table << m.id << " 27 " << m.major << ":" << m.minor << " " << Encode(m.root) << " "
          << Encode(m.mountPoint) << " rw,nosuid,nodev,relatime shared:" << m.id << " master:7 - vfat /dev/sd"
          << m.major << "_" << m.minor << " rw,fmask=0022,iocharset=utf8\n";
  WriteRawTable(table.str());
}
