#include "fmu/MapDownloader.h"

#include "EnumNames.h"
#include "IClient.h"
#include "IRequest.h"
#include "Log.h"
#include "Tar/Stream.h"
#include "fmu/FullMapFolder.h"
#include "util/Descriptor.h"
#include "util/Filesystem.h"

#include <boost/filesystem/directory.hpp>
#include <boost/filesystem/operations.hpp>

#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <fcntl.h>
#include <ostream>
#include <stdexcept>
#include <system_error>
#include <unistd.h>

namespace fs = boost::filesystem;

// The sink of one request. It passes the request's reports on while the
// request is the downloader's current one, and swallows them once the request
// has been retired, so that nothing a stopped request still delivers reaches
// the downloader.
class MapDownloader::Relay : public Tesk::IResponse
{
public:
  explicit Relay(MapDownloader* downloader) : downloader(downloader) {}

  void Detach() { downloader = nullptr; }

  void OnData(qint64 bytes) override
  {
    if (downloader)
      static_cast<Tesk::IResponse*>(downloader)->OnData(bytes);
  }
  void OnResult(Result result) override
  {
    if (downloader)
      static_cast<Tesk::IResponse*>(downloader)->OnResult(result);
  }

private:
  MapDownloader* downloader;
};

// A retired request with what it refers to. Members are destroyed in reverse
// order: the request first (which stops and joins its writer), then its sink,
// then the stream the writer wrote into.
struct MapDownloader::Transfer
{
  std::shared_ptr<Tesk::Tar::Stream> stream;
  std::unique_ptr<Relay> relay;
  std::unique_ptr<Tesk::IRequest> request;
};

namespace {

bool EqualHex(const std::string& a, const std::string& b)
{
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           const auto lower = [](char c) {
             return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
           };
           return lower(x) == lower(y);
         });
}

// Whether the folder is there now (no settling wait: called for every chunk).
bool FolderPresent(const fs::path& folder)
{
  boost::system::error_code ec;
  const fs::file_status status = fs::status(folder, ec);
  return !ec && fs::exists(status);
}

// Makes the entry `name` of `folder` (the folder itself for an empty name)
// reach its file system.
boost::system::error_code SyncEntry(const fs::path& folder, const std::string& name)
{
  const Descriptor held = Descriptor::OpenFolderPath(folder.string());
  const Descriptor file = name.empty() || !held.Valid() ? Descriptor() : held.OpenFile(name, O_RDONLY);
  const Descriptor& synced = name.empty() ? held : file;
  if (!synced.Valid() || ::fsync(synced.Get()) != 0) {
    // Some file systems cannot sync a folder as such: its entries reach the
    // stick with the next sync of the file system.
    if (synced.Valid() && name.empty() && errno == EINVAL)
      return {};
    return {errno, boost::system::generic_category()};
  }
  return {};
}

} // namespace

MapDownloader::MapDownloader(ProgressCallback progressCallback, ResultCallback resultCallback)
    : progressCallback(std::move(progressCallback)), resultCallback(std::move(resultCallback)),
      retired(std::make_shared<std::vector<Transfer>>())
{
  if (!this->resultCallback)
    throw std::logic_error("Failed to create map downloader: result callback is empty");
}

MapDownloader::~MapDownloader()
{
  ReleaseTransfer();
  client.reset();
}

void MapDownloader::Download(const fs::path& path, const MapInfo& map)
{
  LOG(Debug) << "Downloading map: " << map.id << " to: " << path;

  downloadedBytes = 0;
  spaceUnknown = false;
  outputPath = path;
  lastMap = map;
  lastTarget = path;
  reportedBytes = 0;
  restartNeeded = false;
  owner = {};

  if (!CheckTarget(map.url) || !EmptyFolder() || !CheckSpace(map.size) || !OpenStream())
    return;
  StartTransfer(map.url);
}

bool MapDownloader::CheckTarget(const std::string& url)
{
  archiveName = FullMapFolder::ArchiveName(url);
  if (archiveName.empty()) {
    LOG(Error) << "Failed to download map: no usable archive name in url: " << url;
    restartNeeded = true;
    Report(ServerError);
    return false;
  }

  std::string why;
  switch (FullMapFolder::CheckRemovalTarget(outputPath, &why)) {
  case FullMapFolder::Check::Safe:
    owner = FullMapFolder::OwnerOf(outputPath);
    return true;
  case FullMapFolder::Check::NotOnStick:
    LOG(Error) << "Failed to clean up output directory: " << outputPath.string() << ", " << why;
    restartNeeded = true;
    Report(UsbRemoved);
    return false;
  case FullMapFolder::Check::Malformed:
    LOG(Error) << "Failed to clean up output directory: " << outputPath.string() << ", " << why;
    restartNeeded = true;
    Report(UsbBlocked);
    return false;
  }
  return true;
}

bool MapDownloader::EmptyFolder()
{
  // The folder is emptied here: whatever transfer is held wrote into it and
  // can never be continued.
  ReleaseTransfer();
  restartNeeded = true;

  std::string failure;
  boost::system::error_code ec;
  if (FullMapFolder::Remove(outputPath, nullptr, &failure) &&
      !fs::create_directories(outputPath / archiveName, ec) && ec)
    failure = ec.message();
  if (!failure.empty()) {
    LOG(Error) << "Failed to clean up output directory: " << failure;
    Report(UsbBlocked);
    return false;
  }
  return true;
}

bool MapDownloader::CheckSpace(std::int64_t mapSize)
{
  boost::system::error_code ec;
  const fs::space_info space = fs::space(outputPath, ec);
  if (ec) {
    // A failed query says nothing about the space: the writes tell whether
    // the stick takes the map. Only a stick that has gone is told now.
    LOG(Warning) << "Failed to get space info of path: " << outputPath << ", " << ec.message();
    spaceUnknown = true;
    if (FolderPresent(outputPath))
      return true;
    Report(UsbRemoved);
    return false;
  }
  const std::uint64_t size = static_cast<std::uint64_t>(mapSize);
  if (size > space.capacity) {
    LOG(Error) << "Failed to download map: map size: " << mapSize
               << " exceeds total space: " << space.capacity;
    Report(UsbTooSmall);
    return false;
  }
  if (size > space.available) {
    LOG(Error) << "Failed to download map: map size: " << mapSize
               << " exceeds available space: " << space.available;
    Report(UsbFull);
    return false;
  }
  return true;
}

bool MapDownloader::OpenStream()
{
  auto newStream = std::make_shared<Tesk::Tar::Stream>(outputPath / archiveName);
  if (newStream->bad()) {
    // The folder made a moment ago is gone again.
    newStream.reset();
    Report(FolderPresent(outputPath) ? UsbBlocked : UsbRemoved);
    return false;
  }
  newStream->exceptions(std::ios::badbit | std::ios::failbit);
  stream = std::move(newStream);
  return true;
}

void MapDownloader::StartTransfer(const std::string& url)
{
  client.reset(Tesk::CreateClient(url, ""));
  relay = std::make_unique<Relay>(this);
  request.reset(client->GetMapContent(*stream, *relay));
  restartNeeded = false;
  transferRunning = true;

  request->SetTimeout(InactivityTimeout);
  request->ReadRetryDurationFromConfig();
  request->Send();
}

bool MapDownloader::CanResume() const
{
  return request && stream && !restartNeeded && !stream->fail();
}

void MapDownloader::Resume()
{
  // Going on where it stopped, or emptying the folder to start again, happens
  // only on the stick the download wrote to: another stick at the same path,
  // which the discovery may not have noticed yet, is never touched.
  std::string why;
  if (!lastTarget.empty() && owner.stick != 0 &&
      FullMapFolder::CheckRemovalTarget(lastTarget, owner, &why) == FullMapFolder::Check::NotOnStick) {
    LOG(Error) << "Failed to retry map download: " << lastTarget.string() << ", " << why;
    LeaveStick();
    TakeBackReportedBytes();
    Report(UsbRemoved);
    return;
  }

  if (CanResume()) {
    LOG(Debug) << "Resuming map download";
    LOG(Debug) << "Auto Retry - Retry button clicked";
    transferRunning = true;
    request->RetryButtonClicked();
    return;
  }

  if (!lastTarget.empty() && !lastMap.url.empty()) {
    LOG(Info) << "Restarting map download from the beginning: "
              << (request ? "what was written cannot be continued" : "no transfer is held");
    const MapInfo map = lastMap;
    const fs::path target = lastTarget;
    ReleaseTransfer();
    TakeBackReportedBytes();
    Download(target, map);
    return;
  }

  LOG(Warning) << "No request in progress";
  Report(Aborted);
}

void MapDownloader::OnData(qint64 bytes)
{
  try {
    if (progressCallback)
      progressCallback(bytes);
    reportedBytes += bytes;

    if (!FolderPresent(outputPath)) {
      LOG(Debug) << "Failed to download map: UsbRemoved.";
      Retire();
      outputPath.clear();
      Report(UsbRemoved);
      return;
    }

    boost::system::error_code ec;
    const fs::space_info space = fs::space(outputPath, ec);

    downloadedBytes += bytes;
    LOG(Debug) << "downloadedbytes onData: " << downloadedBytes;
    request->GetDownloadedbytes(downloadedBytes);
    downloadedBytes = std::clamp<long long>(downloadedBytes, 0, std::max<long long>(lastMap.size, 0));

    const std::uint64_t remaining =
        static_cast<std::uint64_t>(std::max<long long>(lastMap.size, 0) - downloadedBytes);
    if (ec) {
      // A failed query says nothing about the space: the download goes on,
      // and its next writes tell whether the stick is still there.
      if (!spaceUnknown)
        LOG(Warning) << "Failed to get space info of path: " << outputPath << ", " << ec.message()
                     << "; the download goes on";
      spaceUnknown = true;
    } else if (remaining > space.available) {
      LOG(Error) << "Failed to download map: map bytes: " << remaining
                 << " exceeds available space: " << space.available;
      Retire();
      Report(UsbFull);
    }
    // A chunk that the writer still had when the transfer ended opened the
    // stick's folders again: let go of them.
    if (!transferRunning && stream)
      stream->Suspend();
  } catch (const std::exception& e) {
    LOG(Error) << "Failed to handle downloaded data: " << e.what();
    if (request)
      Retire();
    restartNeeded = true;
    Report(ServerError);
  }
}

void MapDownloader::StickRemoved(UsbInfo::Id removed)
{
  if (removed == 0 || removed != owner.stick)
    return;
  const bool running = transferRunning;
  LOG(Info) << "The stick of the map download has gone: "
            << (running ? "stopping the download" : "forgetting what was written to it");
  LeaveStick();
  if (running)
    Report(UsbRemoved);
}

void MapDownloader::LeaveStick()
{
  // Nothing more reaches the stick's place, not even what the extractor
  // still holds.
  if (stream)
    stream->Discard();
  ReleaseTransfer();
  ForgetTarget();
}

void MapDownloader::OnResult(Tesk::IResponse::Result result)
{
  LOG(Debug) << "Map download finished with result: " << result;
  transferRunning = false;
  try {
    switch (result) {
    case Tesk::IResponse::Ok:
      FinishArchive();
      return;
    case Tesk::IResponse::ServerError:
      Report(ServerError);
      return;
    case Tesk::IResponse::IOError:
      // The extractor has failed for good: a retry has to start again.
      restartNeeded = true;
      ReportWriteFailure();
      return;
    default:
      Report(NoConnection);
      return;
    }
  } catch (const std::exception& e) {
    LOG(Error) << "Failed to finish map download: " << e.what();
    restartNeeded = true;
    Report(ServerError);
  }
}

void MapDownloader::FinishArchive()
{
  // Every byte the service sent may be here and match its checksum, and still
  // the archive may stop inside a file or lack its end: then the map is not
  // complete, whatever the checksum says.
  const std::string md5 = stream->md5();
  if (!stream->Finished()) {
    LOG(Error) << "The map archive ends before its end, after " << stream->tellp() << " bytes";
    restartNeeded = true;
    Report(ServerError);
  } else if (!EqualHex(md5, lastMap.checksum)) {
    LOG(Error) << "Checksum mismatch";
    LOG(Debug) << "Stream checksum: " << md5 << ", expected: " << lastMap.checksum;
    restartNeeded = true;
    Report(ServerError);
  } else if (!SyncStick()) {
    restartNeeded = true;
    ReportWriteFailure();
  } else if (!CopyMetadataFile()) {
    restartNeeded = true;
    Report(ServerError);
  } else {
    Report(Ok);
  }
}

void MapDownloader::ReportWriteFailure()
{
  // A damaged or unsafe archive came from the service, not from the stick.
  if (stream && stream->Refused()) {
    LOG(Error) << "Refused map archive: " << stream->Error();
    Report(ServerError);
  } else if (!PathExists(outputPath) ||
             FullMapFolder::CheckRemovalTarget(outputPath, owner) == FullMapFolder::Check::NotOnStick) {
    // A stick pulled while it was written fails the write; its folder, or
    // its mount, goes a moment later.
    Report(UsbRemoved);
  } else if (HasFreeSpace(outputPath) == FreeSpace::None) {
    Report(UsbFull);
  } else {
    // Space left, or a space query that failed too: the stick is there but
    // cannot be used. A failed query never makes it full.
    Report(UsbBlocked);
  }
}

bool MapDownloader::SyncStick()
{
  // The map's files reach the stick before its metadata copy says that it is
  // complete: a stick pulled after a failed eject keeps no cached rest.
  // Through the extractor's own descriptor: the kernel tells a write error
  // only to descriptors opened before it happened.
  const auto start = std::chrono::steady_clock::now();
  if (const int error = stream->SyncTarget(); error != 0) {
    LOG(Error) << "Failed to sync the map to the stick: " << outputPath.string() << ", "
               << std::generic_category().message(error);
    return false;
  }
  const auto elapsed = std::chrono::steady_clock::now() - start;
  LOG(Debug) << "Synced the map to the stick in "
             << std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count() << " ms";
  return true;
}

bool MapDownloader::CopyMetadataFile()
{
  const std::string name = archiveName + ".meta.xml";
  const fs::path folder = outputPath / archiveName;

  boost::system::error_code ec;
  fs::path found;
  fs::directory_iterator it(folder, ec);
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    boost::system::error_code statusError;
    const fs::file_status status = it->status(statusError);
    if (!statusError && fs::is_regular_file(status) && it->path().filename().string() == name) {
      found = it->path();
      break;
    }
  }
  if (ec) {
    LOG(Error) << "Failed to copy file: " << name << ", " << ec.message();
    return false;
  }
  if (found.empty()) {
    LOG(Error) << "File: " << name << " not found";
    return false;
  }

  // The copy is what makes the map look complete: it appears whole or not at
  // all, and an existing file of that name is never overwritten.
  const fs::path target = outputPath / name;
  const fs::path partial = outputPath / (name + ".part");
  const fs::file_type existing = fs::symlink_status(target, ec).type();
  if (existing != fs::file_not_found) {
    LOG(Error) << "Failed to copy file: " << name << ", "
               << (existing == fs::status_error ? ec.message() : std::string("the file exists already"));
    return false;
  }
  fs::remove(partial, ec);
  fs::copy_file(found, partial, fs::copy_options::none, ec);
  if (!ec)
    ec = SyncEntry(outputPath, name + ".part");
  if (!ec)
    fs::rename(partial, target, ec);
  const bool renamed = !ec;
  if (renamed)
    ec = SyncEntry(outputPath, "");
  if (ec) {
    LOG(Error) << "Failed to copy file: " << name << ", " << ec.message();
    boost::system::error_code ignored;
    fs::remove(renamed ? target : partial, ignored);
    return false;
  }
  return true;
}

void MapDownloader::Abort()
{
  LOG(Debug) << "Aborting map download";

  ReleaseTransfer();
  if (!PathExists(outputPath))
    AbortWithoutFolder();
  else if (MayRemoveFolder())
    RemoveFolder();
}

void MapDownloader::AbortWithoutFolder()
{
  // The download never got to create its folder (a stick that refused the
  // first write), while the stick is still there: nothing to remove.
  if (!outputPath.empty() && FolderPresent(outputPath.parent_path()) &&
      FullMapFolder::CheckRemovalTarget(outputPath, owner) == FullMapFolder::Check::Safe) {
    LOG(Debug) << "Nothing to remove in: " << outputPath.string();
    ForgetMap();
    Report(Aborted);
    return;
  }
  LOG(Debug) << "Failed to download map: UsbRemoved.";
  ForgetTarget();
  Report(UsbRemoved);
}

bool MapDownloader::MayRemoveFolder()
{
  // Only the stick the map was written to: a stick mounted in its place (a
  // swap the discovery has not seen yet, or one it has) is another stick.
  std::string why;
  const FullMapFolder::Check check = FullMapFolder::CheckRemovalTarget(outputPath, owner, &why);
  if (check == FullMapFolder::Check::Safe)
    return true;
  LOG(Error) << "Refusing to remove: " << outputPath.string() << ", " << why;
  if (check == FullMapFolder::Check::Malformed) {
    Report(UsbBlocked);
  } else {
    ForgetTarget();
    Report(UsbRemoved);
  }
  return false;
}

void MapDownloader::RemoveFolder()
{
  LOG(Debug) << "Removing map from: " << outputPath.string();

  // A removal that leaves anything behind is not a cancellation: the folder is
  // kept as the target of the next try.
  const auto removed = [this](long long bytes) {
    reportedBytes = std::max<long long>(reportedBytes - bytes, 0);
    if (progressCallback)
      progressCallback(-bytes);
  };
  if (!FullMapFolder::Remove(outputPath, removed)) {
    LOG(Error) << "Failed to remove map: files are left in: " << outputPath.string();
    Report(UsbBlocked);
    return;
  }
  ForgetMap();
  Report(Aborted);
}

void MapDownloader::ForgetTarget()
{
  outputPath.clear();
  lastTarget.clear();
  owner = {};
}

void MapDownloader::ForgetMap()
{
  ForgetTarget();
  lastMap = MapInfo();
  reportedBytes = 0;
}

void MapDownloader::Retire()
{
  transferRunning = false;
  if (!request)
    return;
  relay->Detach();
  request->Abort();
  // A retired transfer is never continued: what its writer still hands over
  // is dropped, and its stream lets go of the stick when it is released.
  if (stream)
    stream->Discard();

  Transfer transfer;
  transfer.stream = std::move(stream);
  transfer.relay = std::move(relay);
  transfer.request = std::move(request);
  retired->push_back(std::move(transfer));

  // Released from the event loop, never inside the request's own report.
  std::weak_ptr<std::vector<Transfer>> bin = retired;
  QTimer::singleShot(0, [bin] {
    if (const auto transfers = bin.lock())
      transfers->clear();
  });
}

void MapDownloader::ReleaseTransfer()
{
  transferRunning = false;
  retired->clear();
  request.reset();
  relay.reset();
  stream.reset();
}

void MapDownloader::TakeBackReportedBytes()
{
  if (reportedBytes > 0 && progressCallback)
    progressCallback(-reportedBytes);
  reportedBytes = 0;
}

void MapDownloader::Report(Result result)
{
  // Every result ends the operation for now: nothing holds the stick open
  // while the user sees it (a resumed transfer opens its folders again).
  if (stream)
    stream->Suspend();
  resultCallback(result);
}

namespace {

const EnumName<MapDownloader::Result> ResultNames[] = {
    ENUM_NAME(MapDownloader, Ok),           ENUM_NAME(MapDownloader, Aborted),
    ENUM_NAME(MapDownloader, NoConnection), ENUM_NAME(MapDownloader, ServerError),
    ENUM_NAME(MapDownloader, UsbBlocked),   ENUM_NAME(MapDownloader, UsbTooSmall),
    ENUM_NAME(MapDownloader, UsbFull),      ENUM_NAME(MapDownloader, UsbRemoved)};

} // namespace

std::ostream& operator<<(std::ostream& os, MapDownloader::Result result)
{
  return WriteName(os, result, ResultNames);
}
