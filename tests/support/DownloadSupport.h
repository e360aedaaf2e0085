#pragma once

// Helpers of the map download and update manager tests: a data folder with
// config.json, sticks held by the stick store (plain folders or tmpfs mounts),
// map archives made by GNU tar, and a recorder of a downloader's reports.

#include "DataHome.h"
#include "Request.h"
#include "TmpfsMount.h"
#include "fmu/MapDownloader.h"
#include "fmu/MapInfo.h"
#include "usb/UsbInfo.h"

#include <boost/filesystem/path.hpp>

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace DownloadSupport {

using TestSupport::DataHome;

// Every timer of the service client (inactivity, retry window, pauses) runs
// for its length times `factor` while this lives.
struct TimeScale
{
  explicit TimeScale(double factor) { Tesk::Request::SetTimeScaleForTesting(factor); }
  ~TimeScale() { Tesk::Request::SetTimeScaleForTesting(1.0); }
};

// A folder that the stick store holds as the active stick with valid
// metadata: a temporary folder, or a tmpfs of a given size (which needs root:
// Mounted() tells whether it worked).
class Stick
{
public:
  explicit Stick(UsbInfo::Id id = 4711);
  Stick(unsigned megabytes, UsbInfo::Id id);
  ~Stick();

  bool Mounted() const { return mount && mount->Mounted(); }
  std::string MountError() const { return mount ? mount->Error() : "not running as root"; }
  const std::string& Path() const { return path; }
  boost::filesystem::path FullMapFolder() const;

  // Takes the stick out of the stick store (the folder stays).
  void Forget();
  // Unmounts the tmpfs at once, as pulling the stick does.
  bool Pull() { return mount && mount->Unmount(true); }
  // Makes the tmpfs read-only, or writable again.
  bool SetReadOnly(bool readOnly);

private:
  QTemporaryDir dir;
  std::string path;
  UsbInfo::Id id;
  std::unique_ptr<TmpfsMount> mount;
};

// A map archive: a folder tree holding the map's metadata file and data
// files, packed by GNU tar into <name>.tar.
struct MapArchive
{
  enum class Metadata
  {
    AtTop,       // <name>.meta.xml at the top of the archive, where it belongs
    InSubfolder, // only in a sub-folder
  };

  // Builds it in a folder of its own; `dataBytes` spread over a few files.
  static std::shared_ptr<MapArchive> Make(const std::string& name, qint64 dataBytes,
                                          Metadata metadata = Metadata::AtTop);

  std::string name;                           // the archive's folder name
  QString file;                               // the .tar file
  QByteArray bytes;                           // its content
  std::string md5;                            // its MD5, lower-case hex
  std::map<std::string, std::string> listing; // the unpacked tree (see Listing)
  qint64 fileBytes = 0;                       // the sizes of the files in it, summed
  QByteArray metadataContent;

  // A file beside the archive holding `bytes` (for corrupt or cut variants).
  QString WriteVariant(const QString& fileName, const QByteArray& bytes) const;

private:
  QTemporaryDir dir;
};

// A map record ready for download from `url`.
MapInfo MakeMap(const std::string& id, const std::string& url, const MapArchive& archive);

// Every entry below `root`: relative path -> "dir" or "file:<md5>".
std::map<std::string, std::string> Listing(const boost::filesystem::path& root);
bool Exists(const boost::filesystem::path& path);
// The sizes of the regular files below `root`, summed.
qint64 FileBytes(const boost::filesystem::path& root);
// Fills the file system of `folder` with a file until `leave` bytes are free.
bool Fill(const boost::filesystem::path& folder, qint64 leave);

// Records what a downloader reports.
struct Recorder
{
  std::vector<long long> progress;
  std::vector<MapDownloader::Result> results;
  // Called after each progress report is recorded.
  std::function<void(long long)> onProgress;

  MapDownloader::ProgressCallback Progress();
  MapDownloader::ResultCallback Result();

  long long Written() const; // the positive reports, summed
  long long Removed() const; // the negative reports, summed (as a positive figure)
  bool WaitForResults(std::size_t count) const;
};

} // namespace DownloadSupport
