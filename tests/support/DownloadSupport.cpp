#include "DownloadSupport.h"

#include "cfg/Config.h"
#include "fmu/MapStorage.h"
#include "usb/UsbStorage.h"

#include <boost/filesystem/directory.hpp>
#include <boost/filesystem/operations.hpp>

#include <QDir>

#include <cerrno>
#include <fcntl.h>

namespace fs = boost::filesystem;

namespace TestSupport {

void ClearStores()
{
  UsbStorage& usbs = UsbStorage::Get();
  for (const auto state : {UsbInfo::InvalidMetadata, UsbInfo::NoMetadata, UsbInfo::ValidMetadata})
    for (const auto& entry : usbs.GetUsbs(state))
      usbs.RemoveUsb(entry.first);
  MapStorage::Get().Clear();
}

ActiveStick::ActiveStick(UsbInfo::Id id, unsigned megabytes)
    : path(megabytes ? dir.filePath("stick").toStdString() : dir.path().toStdString()), id(id)
{
  QDir().mkpath(QString::fromStdString(path));
  if (megabytes && TmpfsMount::Allowed())
    mount = std::make_unique<TmpfsMount>(path, megabytes);
  UsbStorage::Get().UpdateUsb({id, path, 0, 0, UsbInfo::ValidMetadata, true});
}

fs::path ActiveStick::FullMapFolder() const
{
  return fs::path(path) / Config::get().usbFullMapDir;
}

void ActiveStick::Forget()
{
  if (UsbStorage::Get().GetUsb(id).Valid())
    UsbStorage::Get().RemoveUsb(id);
}

bool ActiveStick::SetReadOnly(bool readOnly)
{
  return Mounted() && mount->SetReadOnly(readOnly);
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
  const int fd = ec ? -1 : ::open((folder / "filler.bin").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0)
    return false;
  const std::vector<char> block(65536, 'f');
  qint64 left = static_cast<qint64>(space.available) - leave;
  ssize_t written = 1;
  while (left > 0 && written > 0) {
    written = ::write(fd, block.data(), static_cast<std::size_t>(std::min<qint64>(left, 65536)));
    left -= std::max<ssize_t>(written, 0);
  }
  // A file system that runs out before (others write too) is full as well.
  const bool full = left <= 0 || (written < 0 && errno == ENOSPC);
  ::close(fd);
  return full;
}

std::map<std::string, std::string> Listing(const fs::path& root)
{
  return Listing(QString::fromStdString(root.string()));
}

MapDownloader::ProgressCallback DownloadRecorder::Progress()
{
  return [this](long long bytes) {
    progress.push_back(bytes);
    if (bytes > 0)
      written += bytes;
    else
      removed -= bytes;
    if (onProgress)
      onProgress(bytes);
  };
}

MapDownloader::ResultCallback DownloadRecorder::Result()
{
  return [this](MapDownloader::Result result) { results.push_back(result); };
}

} // namespace TestSupport
