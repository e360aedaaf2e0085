#pragma once

#include "IResponse.h"
#include "fmu/FullMapFolder.h"
#include "fmu/MapInfo.h"
#include "usb/UsbInfo.h"

#include <boost/filesystem/path.hpp>

#include <QMetaType>

#include <chrono>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

namespace Tesk {
class IClient;
class IRequest;
namespace Tar {
class Stream;
}
} // namespace Tesk

// Downloads one map archive onto a stick and removes it again.
//
// Download empties the stick's full-map folder, checks that the map fits and
// streams the archive from the map's URL through the service client's map
// request into a tar extractor that unpacks it into <folder>/<archive name>
// as it arrives, with an MD5 over the whole stream. After every chunk it
// checks that the folder is still there and that the rest still fits (a space
// query that fails says nothing: the download goes on, and its writes tell
// whether the stick is still there). At the end the extractor must have
// reached the end of the archive, the MD5 is compared with the map's
// checksum, the stick's file system is synced, and the map's metadata file
// (<archive name>.meta.xml) is copied out of the archive's folder to sit
// beside it, synced with its folder: that copy is what makes the map look
// complete to the vehicle, and it reaches the stick only after the map's
// files.
//
// Every result lets go of the stick: the extractor closes its descriptors (a
// resumed transfer opens them again, checked to be the same folders and
// file), so that the stick can be ejected while the result is shown.
//
// Abort cancels whatever is held and removes the full-map folder, reporting
// each removed file as a negative byte count. What a download wrote belongs
// to the stick it wrote to: the folder is removed (or emptied for a restart)
// only while that stick is still in the stick store and the folder's place
// still lies on the file system it had, never on a stick put in its place.
//
// Everything reports through the two callbacks: byte counts (positive while
// writing, negative while removing) and one Result per operation. Every call
// and every callback runs on the thread that calls Download, which must run
// an event loop; nothing is thrown to the caller.
class MapDownloader : private Tesk::IResponse
{
public:
  enum Result
  {
    Ok = 0,           // written, checksum matched, metadata copied
    Aborted = 1,      // cancelled and removed (or nothing was left to resume)
    NoConnection = 2, // the service could not be reached within the retry window
    ServerError = 3,  // the service failed, the archive was damaged, unsafe or incomplete, the
                      // checksum differed or the metadata copy failed
    UsbBlocked = 4,   // the stick cannot be written (or a removal left files behind)
    UsbTooSmall = 5,  // the map is larger than the whole stick (a stick whose space cannot be read is never)
    UsbFull = 6,      // the map, or its rest, does not fit into the free space (likewise)
    UsbRemoved = 7    // the stick, or its full-map folder, is gone
  };

  using ProgressCallback = std::function<void(long long)>;
  using ResultCallback = std::function<void(Result)>;

  // The inactivity time-out of a map transfer.
  static constexpr std::chrono::milliseconds InactivityTimeout{10000};

  // The result callback must be set (std::logic_error otherwise); the progress
  // callback may be empty.
  MapDownloader(ProgressCallback progressCallback, ResultCallback resultCallback);
  ~MapDownloader() override;

  MapDownloader(const MapDownloader&) = delete;
  MapDownloader& operator=(const MapDownloader&) = delete;

  // Starts downloading `map` (its id, url, size and checksum) into `path`, the
  // full-map folder of a stick in the stick store. Refusals (UsbBlocked,
  // UsbTooSmall, UsbFull, UsbRemoved, ServerError for an unusable URL) are
  // reported before it returns.
  void Download(const boost::filesystem::path& path, const MapInfo& map);

  // The user's retry after a result other than Ok. Goes on with the held
  // transfer from the last byte written when that is sound; when what was
  // written cannot be continued (an archive refused or incomplete, a checksum
  // mismatch, a failed metadata copy, a failed write, no transfer held) it
  // starts the last map again from the beginning, first taking back the bytes
  // it reported for it. With no download to go on with it reports Aborted.
  void Resume();

  // Cancels and removes the full-map folder of the last download (see the
  // source for the order and the results).
  void Abort();

  // The stick `stick` has gone (the volume discovery no longer lists it). A
  // download onto it stops at once: its transfer is dropped, nothing more is
  // written, and its folder is never removed or written again (another stick
  // may take its place). A transfer that was running reports UsbRemoved.
  void StickRemoved(UsbInfo::Id stick);

  // True when Resume would go on with the held transfer rather than start again.
  bool CanResume() const;

private:
  class Relay;
  struct Transfer;

  void OnData(qint64 bytes) override;
  void OnResult(Tesk::IResponse::Result result) override;

  // The phases of Download. Each but the last reports the refusal that ends
  // the download and returns false, or returns true to go on.
  bool CheckTarget(const std::string& url);
  bool EmptyFolder();
  bool CheckSpace(std::int64_t mapSize);
  bool OpenStream();
  void StartTransfer(const std::string& url);

  // The ends of a transfer: the whole archive received, checked and its
  // metadata copied; or the extractor failed, by the archive or by the stick.
  void FinishArchive();
  // A write failed: UsbRemoved when the stick's folder has gone or its place
  // no longer lies on the stick, UsbFull when the stick says it has no space
  // left, UsbBlocked otherwise.
  void ReportWriteFailure();
  // Syncs the file system of the full-map folder; false (logged) on failure.
  bool SyncStick();
  bool CopyMetadataFile();

  // The ways of Abort: with no full-map folder to remove, or removing it once
  // it is found safe to remove.
  void AbortWithoutFolder();
  bool MayRemoveFolder();
  void RemoveFolder();
  // Forgets the folder of the last download; ForgetMap forgets its map too.
  void ForgetTarget();
  // The stick written to has gone or been replaced: drops what the transfer
  // still holds, releases it and forgets the folder, touching nothing there.
  void LeaveStick();
  void ForgetMap();

  // Hands the request, its sink and its stream over for release from the
  // event loop: it is stopped now and heard no more, and what its writer
  // still hands to the stream is dropped.
  void Retire();
  // Releases the retired requests, then the held request, then the stream.
  void ReleaseTransfer();
  // Reports the bytes written for the current map as removed again.
  void TakeBackReportedBytes();
  void Report(Result result);

  ProgressCallback progressCallback;
  ResultCallback resultCallback;
  std::unique_ptr<Tesk::IClient> client;
  std::unique_ptr<Relay> relay;
  std::unique_ptr<Tesk::IRequest> request;
  std::shared_ptr<Tesk::Tar::Stream> stream;
  boost::filesystem::path outputPath;
  std::string archiveName;
  long long downloadedBytes = 0;
  // A space query of this download has failed (logged once).
  bool spaceUnknown = false;

  // The map of the last Download (whose size and checksum the transfer is
  // measured against) and its folder, the bytes reported for it, and whether
  // the data written can be continued: what a restart from the beginning needs.
  MapInfo lastMap;
  boost::filesystem::path lastTarget;
  long long reportedBytes = 0;
  bool restartNeeded = false;
  // The stick the last download wrote to.
  FullMapFolder::Owner owner;
  // A transfer is under way and has not reported its result yet.
  bool transferRunning = false;

  // Requests waiting to be released from the event loop.
  std::shared_ptr<std::vector<Transfer>> retired;
};

// Writes the value's name ("Ok", "Aborted", ...); nothing for any other value.
std::ostream& operator<<(std::ostream& os, MapDownloader::Result result);

Q_DECLARE_METATYPE(MapDownloader::Result)
