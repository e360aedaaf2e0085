#include "DownloadSupport.h"

#include "ArchiveTools.h"
#include "cfg/Config.h"
#include "usb/UsbStorage.h"

#include <boost/filesystem/directory.hpp>
#include <boost/filesystem/operations.hpp>

#include <QDir>
#include <QFile>
#include <QTest>

#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

namespace fs = boost::filesystem;

namespace DownloadSupport {

Stick::Stick(UsbInfo::Id id) : Stick(0, id) {}

// Registered as the active stick with valid metadata and its space.
Stick::Stick(unsigned megabytes, UsbInfo::Id id)
    : path(megabytes ? dir.filePath("stick").toStdString() : dir.path().toStdString()), id(id)
{
  QDir().mkpath(QString::fromStdString(path));
  if (megabytes && TmpfsMount::Allowed())
    mount = std::make_unique<TmpfsMount>(path, megabytes);
  UsbInfo usb;
  usb.id = id;
  usb.path = path;
  usb.state = UsbInfo::ValidMetadata;
  usb.active = true;
  boost::system::error_code ec;
  const fs::space_info space = fs::space(path, ec);
  if (!ec) {
    usb.capacity = space.capacity;
    usb.available = space.available;
  }
  UsbStorage::Get().UpdateUsb(usb);
}

Stick::~Stick()
{
  Forget();
  mount.reset();
}

fs::path Stick::FullMapFolder() const
{
  return fs::path(path) / Config::get().usbFullMapDir;
}

void Stick::Forget()
{
  if (UsbStorage::Get().GetUsb(id).Valid())
    UsbStorage::Get().RemoveUsb(id);
}

bool Stick::SetReadOnly(bool readOnly)
{
  if (!Mounted())
    return false;
  const unsigned long flags = MS_REMOUNT | MS_NOSUID | MS_NODEV | (readOnly ? MS_RDONLY : 0);
  return ::mount(nullptr, path.c_str(), nullptr, flags, nullptr) == 0;
}

std::shared_ptr<MapArchive> MapArchive::Make(const std::string& name, qint64 dataBytes, Metadata metadata)
{
  auto archive = std::make_shared<MapArchive>();
  archive->name = name;
  const QString tree = archive->dir.filePath("tree");
  const QString metaName = QString::fromStdString(name) + ".meta.xml";
  archive->metadataContent = "<tns:package xmlns:tns=\"urn:tesk:v1\"><tns:id>" +
                             QByteArray::fromStdString(name) + "</tns:id></tns:package>\n";
  ArchiveTools::WriteFile(tree + (metadata == Metadata::AtTop ? "/" : "/META/") + metaName,
                          archive->metadataContent);

  // A few data files of different sizes in two folders, and an empty folder.
  const qint64 sizes[] = {dataBytes / 2, dataBytes / 4, dataBytes / 8, dataBytes / 16};
  qint64 rest = dataBytes;
  unsigned seed = 7;
  for (int i = 0; i < 4; ++i) {
    const qint64 size = i == 3 ? rest : sizes[i];
    rest -= size;
    ArchiveTools::WriteFile(tree + QStringLiteral("/DATA/TILE_%1/PART_%2.NDS").arg(i % 2).arg(i),
                            ArchiveTools::Pattern(static_cast<std::size_t>(size), seed++));
  }
  QDir().mkpath(tree + "/EMPTY");

  archive->bytes = ArchiveTools::TarFolder(tree, "gnu");
  archive->md5 = ArchiveTools::Md5Hex(archive->bytes).toStdString();
  archive->listing = Listing(fs::path(tree.toStdString()));
  archive->fileBytes = FileBytes(fs::path(tree.toStdString()));
  archive->file = archive->dir.filePath(QString::fromStdString(name) + ".tar");
  ArchiveTools::WriteFile(archive->file, archive->bytes);
  return archive;
}

QString MapArchive::WriteVariant(const QString& fileName, const QByteArray& content) const
{
  const QString path = dir.filePath(fileName);
  ArchiveTools::WriteFile(path, content);
  return path;
}

MapInfo MakeMap(const std::string& id, const std::string& url, const MapArchive& archive)
{
  MapInfo map;
  map.type = MapInfo::Optional;
  map.state = MapInfo::Available;
  map.id = id;
  map.name = L"Europe";
  map.release = "2024.06";
  map.region = "EUR";
  map.checksum = archive.md5;
  map.url = url;
  map.size = archive.bytes.size();
  return map;
}

std::map<std::string, std::string> Listing(const fs::path& root)
{
  return ArchiveTools::Listing(QString::fromStdString(root.string()));
}

bool Exists(const fs::path& path)
{
  boost::system::error_code ec;
  return fs::exists(fs::symlink_status(path, ec));
}

qint64 FileBytes(const fs::path& root)
{
  qint64 total = 0;
  boost::system::error_code ec;
  for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
    boost::system::error_code statusError;
    if (fs::is_regular_file(it->status(statusError)))
      total += static_cast<qint64>(fs::file_size(it->path(), statusError));
  }
  return total;
}

bool Fill(const fs::path& folder, qint64 leave)
{
  boost::system::error_code ec;
  const fs::space_info space = fs::space(folder, ec);
  if (ec)
    return false;
  const qint64 fill = static_cast<qint64>(space.available) - leave;
  if (fill <= 0)
    return true;
  const std::string file = (folder / "filler.bin").string();
  const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0)
    return false;
  const std::vector<char> block(65536, 'f');
  qint64 left = fill;
  bool ok = true;
  while (left > 0 && ok) {
    const auto chunk = static_cast<std::size_t>(std::min<qint64>(left, static_cast<qint64>(block.size())));
    const ssize_t written = ::write(fd, block.data(), chunk);
    ok = written > 0;
    left -= written > 0 ? written : 0;
  }
  ::close(fd);
  return ok;
}

MapDownloader::ProgressCallback Recorder::Progress()
{
  return [this](long long bytes) {
    progress.push_back(bytes);
    if (onProgress)
      onProgress(bytes);
  };
}

MapDownloader::ResultCallback Recorder::Result()
{
  return [this](MapDownloader::Result result) { results.push_back(result); };
}

long long Recorder::Written() const
{
  long long total = 0;
  for (auto bytes : progress)
    total += bytes > 0 ? bytes : 0;
  return total;
}

long long Recorder::Removed() const
{
  long long total = 0;
  for (auto bytes : progress)
    total += bytes < 0 ? -bytes : 0;
  return total;
}

bool Recorder::WaitForResults(std::size_t count) const
{
  return QTest::qWaitFor([&] { return results.size() >= count; }, 60000);
}

} // namespace DownloadSupport
