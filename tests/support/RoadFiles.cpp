#include "RoadFiles.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

namespace TestSupport {

namespace {

QByteArray Md5(const QByteArray& data)
{
  return QCryptographicHash::hash(data, QCryptographicHash::Md5).toHex();
}

} // namespace

bool WriteFile(const QString& path, const QByteArray& content)
{
  QDir().mkpath(QFileInfo(path).path());
  QFile file(path);
  return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
}

QByteArray MakeMapArchive(ServedMap& map, int dataBytes)
{
  QTemporaryDir dir;
  QByteArray data(dataBytes, '\0');
  for (int i = 0; i < dataBytes; ++i)
    data[i] = static_cast<char>((i * 7 + 3) % 251);
  const QString meta = QString::fromStdString(map.id) + ".meta.xml";
  WriteFile(dir.filePath(meta), MapService::MetadataXml(map));
  WriteFile(dir.filePath("data/region.bin"), data);
  QProcess tar;
  tar.start("tar", {"-cf", dir.filePath("map.tar"), "-C", dir.path(), meta, "data"});
  QByteArray archive;
  QFile file(dir.filePath("map.tar"));
  if (tar.waitForFinished(30000) && tar.exitCode() == 0 && file.open(QIODevice::ReadOnly))
    archive = file.readAll();
  map.checksum = Md5(archive).toStdString();
  map.size = archive.size();
  return archive;
}

void WriteVehicleFiles(const QString& root, const ServedMap& installed, const std::string& subscriptionEnd)
{
  const QString update = root + "/OrvaneNDSUpdate";
  WriteFile(
      update + "/meta_data/GENERAL.JSON",
      QByteArray::fromStdString(R"({"subscription_end_date": ")" + subscriptionEnd +
                                R"(", "available_map_space": 8589934592, "used_map_space": 34359738368})"));
  WriteFile(update + "/meta_data/" + QString::fromStdString(installed.id) + ".xml",
            MapService::MetadataXml(installed));
  WriteFile(update + "/NAVDATA/PART1.NDS", QByteArray(70000, 'n'));
  QByteArray sums;
  for (QDirIterator files(update, QDir::Files, QDirIterator::Subdirectories); files.hasNext();) {
    QFile file(files.next());
    if (file.fileName().endsWith("/CHECKSUMS.MD5") || !file.open(QIODevice::ReadOnly))
      continue;
    sums += Md5(file.readAll()) + "  " + QDir(update).relativeFilePath(file.fileName()).toUtf8() + "\n";
  }
  WriteFile(update + "/CHECKSUMS.MD5", sums);
}

} // namespace TestSupport
