#pragma once

// Helpers of the map download, update manager and state machine tests: the
// stores emptied, a stick held by the stick store (a plain folder or a tmpfs
// mount), map records and a recorder of a downloader's reports.

#include "Archives.h"
#include "DataHome.h"
#include "TimeScale.h"
#include "TmpfsMount.h"
#include "fmu/MapDownloader.h"
#include "usb/UsbInfo.h"

namespace TestSupport {

// Empties the stick store and the map store.
void ClearStores();

// A folder that the stick store holds as the active stick with valid
// metadata: a temporary folder, or a tmpfs of a given size (which needs root:
// Mounted() tells whether it worked).
class ActiveStick
{
public:
  explicit ActiveStick(UsbInfo::Id id = 4711, unsigned megabytes = 0);
  ~ActiveStick() { Forget(); }

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

// A map record of the archive, ready for download from `url`.
MapInfo MakeMap(const std::string& id, const std::string& url, const MapArchive& archive);

bool Exists(const boost::filesystem::path& path);
// The sizes of the regular files below `root`, summed.
qint64 FileBytes(const boost::filesystem::path& root);
// Fills the file system of `folder` with a file until `leave` bytes are free
// (or none are).
bool Fill(const boost::filesystem::path& folder, qint64 leave);
std::map<std::string, std::string> Listing(const boost::filesystem::path& root);

// Records what a downloader reports.
struct DownloadRecorder
{
  std::vector<long long> progress;
  std::vector<MapDownloader::Result> results;
  long long written = 0; // the positive reports, summed
  long long removed = 0; // the negative reports, summed (as a positive figure)
  // Called after each progress report is recorded.
  std::function<void(long long)> onProgress;

  MapDownloader::ProgressCallback Progress();
  MapDownloader::ResultCallback Result();
};

} // namespace TestSupport
