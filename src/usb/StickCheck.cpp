#include "usb/StickCheck.h"

#include "usb/ChecksumList.h"
#include "util/Descriptor.h"
#include "util/Md5.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// The checksum file of a few thousand lines is far smaller; a larger one is
// not a checksum file.
constexpr off_t MaxChecksumFileSize = 64 * 1024 * 1024;
constexpr unsigned MaxThreads = 8;
// Small enough that what was read is still in the processor's cache when it
// is hashed.
constexpr std::size_t ReadBufferSize = 128 * 1024;
// Files from this size on are read ahead on a thread of their own.
constexpr off_t ReadAheadSize = 16 * 1024 * 1024;

std::string ErrorText(int error)
{
  return std::strerror(error);
}

std::vector<std::string> Split(const std::string& path)
{
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string::npos)
      end = path.size();
    if (end > start)
      parts.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

// Opens the regular file at `path` (normalised, relative to `folder`) part
// by part: no part may be a link or lie on another file system. On failure
// returns an invalid descriptor and says why.
Descriptor OpenBeneath(const Descriptor& folder, const std::string& path, std::string& error)
{
  const auto parts = Split(path);
  if (parts.empty()) {
    error = "Path names no file: " + path;
    return Descriptor();
  }
  Descriptor current;
  for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
    Descriptor next = (i == 0 ? folder : current).OpenFolder(parts[i]);
    if (!next.Valid()) {
      const int e = errno;
      if (e == EXDEV)
        error = "Leaves the stick's file system: " + path;
      else
        error = (e == ELOOP || e == ENOTDIR ? std::string("Not a folder: ") : "Cannot open: ") + path + ": " +
                ErrorText(e);
      return Descriptor();
    }
    current = std::move(next);
  }
  Descriptor file = (parts.size() == 1 ? folder : current).OpenFile(parts.back(), O_RDONLY);
  if (!file.Valid()) {
    const int e = errno;
    if (e == EINVAL)
      error = "Not a regular file: " + path;
    else if (e == EXDEV)
      error = "Leaves the stick's file system: " + path;
    else
      error = (e == ELOOP ? std::string("Symbolic link: ") : "Cannot open: ") + path + ": " + ErrorText(e);
  }
  return file;
}

// Hands the whole file to `consume` piece by piece; false with the reason on a
// read error.
bool ReadAll(int fd, const std::function<void(const char*, std::size_t)>& consume, std::vector<char>& buffer,
             std::string& error)
{
  for (;;) {
    const ssize_t count = ::read(fd, buffer.data(), buffer.size());
    if (count < 0) {
      if (errno == EINTR)
        continue;
      error = ErrorText(errno);
      return false;
    }
    if (count == 0)
      return true;
    consume(buffer.data(), static_cast<std::size_t>(count));
  }
}

// Reads a file on a thread of its own, a few pieces ahead of its consumer:
// on a large file the copying out of the page cache (or the waiting for the
// stick) then overlaps with the hashing. The reading stops, and the thread is
// joined, when the reader is destroyed.
class ReadAhead
{
public:
  explicit ReadAhead(int fd) : fd(fd), pieces(PieceCount)
  {
    thread = std::thread([this] { ReadPieces(); });
  }

  ~ReadAhead()
  {
    {
      std::lock_guard<std::mutex> lock(mutex);
      stop = true;
    }
    changed.notify_all();
    thread.join();
  }

  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  // Hands the whole file to `consume` piece by piece; false with the reason
  // on a read error.
  bool Consume(const std::function<void(const char*, std::size_t)>& consume, std::string& error)
  {
    for (std::size_t i = 0;; i = (i + 1) % PieceCount) {
      {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return filled > 0; });
      }
      const Piece& piece = pieces[i];
      if (piece.length < 0) {
        error = ErrorText(piece.error);
        return false;
      }
      if (piece.length == 0)
        return true;
      consume(piece.data.data(), static_cast<std::size_t>(piece.length));
      {
        std::lock_guard<std::mutex> lock(mutex);
        --filled;
      }
      changed.notify_all();
    }
  }

private:
  static constexpr std::size_t PieceCount = 4;
  static constexpr std::size_t PieceSize = 2 * 1024 * 1024;

  struct Piece
  {
    std::vector<char> data = std::vector<char>(PieceSize);
    ssize_t length = 0;
    int error = 0;
  };

  // The reading thread: fills the pieces in turn while there is room, up to
  // the end of the file or the first read error.
  void ReadPieces()
  {
    for (std::size_t i = 0;; i = (i + 1) % PieceCount) {
      {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return stop || filled < PieceCount; });
        if (stop)
          return;
      }
      Piece& piece = pieces[i];
      do
        piece.length = ::read(fd, piece.data.data(), piece.data.size());
      while (piece.length < 0 && errno == EINTR);
      piece.error = piece.length < 0 ? errno : 0;
      {
        std::lock_guard<std::mutex> lock(mutex);
        ++filled;
      }
      changed.notify_all();
      if (piece.length <= 0)
        return;
    }
  }

  const int fd;
  std::vector<Piece> pieces;
  std::mutex mutex;
  std::condition_variable changed;
  std::size_t filled = 0; // pieces read and not yet consumed
  bool stop = false;
  std::thread thread;
};

struct FileEntry
{
  std::string path;
  std::uint64_t size;
};

// Lists the regular files below a folder, except names beginning with ".",
// and refuses anything else: links, devices, pipes, other file systems.
class FolderListing : public Descriptor::Visitor
{
public:
  FolderListing(dev_t stickDevice, std::string skipTopLevel)
      : device(stickDevice), skip(std::move(skipTopLevel))
  {
  }

  bool Visit(const Descriptor&, const std::string& prefix, const std::vector<Descriptor::Entry>& entries,
             std::vector<std::string>& enter) override
  {
    for (const auto& entry : entries) {
      const std::string& name = entry.name;
      if (name[0] == '.' || (prefix.empty() && name == skip))
        continue;
      const std::string path = prefix.empty() ? name : prefix + "/" + name;
      const auto& status = entry.status;
      if (S_ISLNK(status.st_mode))
        return Fail("Symbolic link: " + path);
      if (status.st_dev != device)
        return Fail("Leaves the stick's file system: " + path);
      if (S_ISDIR(status.st_mode))
        enter.push_back(name);
      else if (S_ISREG(status.st_mode))
        files.push_back({path, static_cast<std::uint64_t>(status.st_size)});
      else
        return Fail("Not a regular file: " + path);
    }
    return true;
  }

  bool Failed(const std::string& path, int error) override
  {
    if (error == EXDEV)
      return Fail("Leaves the stick's file system: " + path);
    return Fail("Cannot read: " + path + ": " + ErrorText(error));
  }

  bool Fail(std::string reason)
  {
    error = std::move(reason);
    return false;
  }

  std::vector<FileEntry> files;
  std::string error;

private:
  dev_t device;
  std::string skip;
};

// Like ReadAll, but the reading runs a few pieces ahead on a thread of its own.
bool ReadAllAhead(int fd, const std::function<void(const char*, std::size_t)>& consume, std::string& error)
{
  ReadAhead ahead(fd);
  return ahead.Consume(consume, error);
}

// The indexes of the listed files, the largest first, so that no thread is
// left with a big one at the end.
std::vector<std::uint32_t> LargestFirst(const std::vector<std::uint64_t>& sizes)
{
  std::vector<std::uint32_t> jobs(sizes.size());
  for (std::size_t i = 0; i < jobs.size(); ++i)
    jobs[i] = static_cast<std::uint32_t>(i);
  std::stable_sort(jobs.begin(), jobs.end(),
                   [&](std::uint32_t a, std::uint32_t b) { return sizes[a] > sizes[b]; });
  return jobs;
}

// Hashes the listed files on several threads at once, each thread taking the
// next file until all are done or one has failed; the first failure counts.
class Hashing
{
public:
  Hashing(const Descriptor& folder, const ChecksumList& list, const std::vector<std::uint32_t>& jobs,
          unsigned threads)
      : folder(folder), list(list), jobs(jobs), threads(threads)
  {
  }

  // Runs on this thread and on up to `threads - 1` more; returns when all are done.
  void Run()
  {
    std::vector<std::thread> helpers;
    try {
      for (unsigned i = 1; i < threads; ++i)
        helpers.emplace_back([this] { Work(); });
    } catch (...) {
      // No more threads to be had: the ones running share the files. Leaving
      // here would destroy running threads, which ends the process.
    }
    Work();
    for (auto& helper : helpers)
      helper.join();
  }

  bool Failed() const { return failed; }
  const std::string& Failure() const { return failure; }
  std::uint64_t Bytes() const { return bytes; }

private:
  // One thread's share: the next file, while no file has failed.
  void Work()
  {
    try {
      std::vector<char> buffer(ReadBufferSize);
      Md5 hash;
      for (std::size_t i = next++; i < jobs.size() && !failed; i = next++)
        if (!HashFile(jobs[i], buffer, hash))
          return;
    } catch (const std::exception& e) {
      Fail(std::string("Check failed: ") + e.what());
    }
  }

  // Hashes the file listed at `index` and compares its digest; false once it
  // has failed.
  bool HashFile(std::uint32_t index, std::vector<char>& buffer, Md5& hash)
  {
    const std::string path(list.Path(index));
    std::string why;
    const Descriptor file = OpenBeneath(folder, path, why);
    if (!file.Valid())
      return Fail(why);
    ::posix_fadvise(file.Get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    hash.Reset();
    std::uint64_t size = 0;
    const auto consume = [&](const char* data, std::size_t count) {
      hash.Add(data, count);
      size += count;
    };
    const bool read = ReadAheadPays(file) ? ReadAllAhead(file.Get(), consume, why)
                                          : ReadAll(file.Get(), consume, buffer, why);
    if (!read)
      return Fail("Cannot read: " + path + ": " + why);
    if (hash.Result() != list.DigestOf(index))
      return Fail("Checksum mismatch: " + path);
    bytes += size;
    return true;
  }

  // A reading thread of its own pays for a large file only, and only where
  // the processors are not all hashing already: when fewer files wait than
  // there are threads.
  bool ReadAheadPays(const Descriptor& file) const
  {
    struct stat status;
    return jobs.size() - std::min(jobs.size(), next.load()) < threads && ::fstat(file.Get(), &status) == 0 &&
           status.st_size >= ReadAheadSize;
  }

  bool Fail(std::string reason)
  {
    std::lock_guard<std::mutex> lock(failureMutex);
    if (!failed.exchange(true))
      failure = std::move(reason);
    return false;
  }

  const Descriptor& folder;
  const ChecksumList& list;
  const std::vector<std::uint32_t>& jobs;
  const unsigned threads;
  std::atomic<std::size_t> next{0};
  std::atomic<bool> failed{false};
  std::atomic<std::uint64_t> bytes{0};
  std::mutex failureMutex;
  std::string failure;
};

StickCheck::Result Verdict(UsbInfo::State state, std::string reason)
{
  StickCheck::Result result;
  result.state = state;
  result.reason = std::move(reason);
  return result;
}

} // namespace

StickCheck::StickCheck(std::string mount, std::string update, std::string checksums)
    : mountPath(std::move(mount)), updateDir(std::move(update)), checksumFile(std::move(checksums))
{
  const std::string prefix = updateDir + "/";
  if (checksumFile.compare(0, prefix.size(), prefix) == 0)
    checksumFile = checksumFile.substr(prefix.size());
}

StickCheck::Result StickCheck::Run() const
{
  const Descriptor root = Descriptor::OpenFolderPath(mountPath);
  if (!root.Valid())
    return Verdict(UsbInfo::InvalidMetadata, "Cannot open the mount path: " + ErrorText(errno));
  struct stat rootStatus;
  if (!root.Status(rootStatus))
    return Verdict(UsbInfo::InvalidMetadata, "Cannot read the mount path: " + ErrorText(errno));

  Result result;
  try {
    result = RunChecked(root, rootStatus.st_dev);
  } catch (const std::exception& e) {
    return Verdict(UsbInfo::InvalidMetadata, std::string("Check failed: ") + e.what());
  } catch (...) {
    return Verdict(UsbInfo::InvalidMetadata, "Check failed");
  }

  // A stick pulled meanwhile may leave its files readable through what was
  // opened; the mount path then no longer leads to the same folder.
  struct stat now;
  if (::stat(mountPath.c_str(), &now) != 0 || now.st_dev != rootStatus.st_dev ||
      now.st_ino != rootStatus.st_ino)
    return Verdict(UsbInfo::InvalidMetadata, "The stick went away during the check");
  return result;
}

StickCheck::Result StickCheck::RunChecked(const Descriptor& root, dev_t device) const
{
  Descriptor folder;
  if (const auto refusal = OpenUpdateFolder(root, folder))
    return *refusal;
  ChecksumList list;
  if (const auto refusal = ReadChecksumList(folder, list))
    return *refusal;
  std::vector<std::uint32_t> jobs;
  if (const auto refusal = ListFiles(folder, device, list, jobs))
    return *refusal;
  if (beforeHashing)
    beforeHashing();
  return HashFiles(folder, list, jobs);
}

std::optional<StickCheck::Result> StickCheck::OpenUpdateFolder(const Descriptor& root,
                                                               Descriptor& folder) const
{
  for (const auto& part : Split(updateDir)) {
    const Descriptor& at = folder.Valid() ? folder : root;
    struct stat status;
    if (!at.StatusOf(part, status)) {
      if (errno == ENOENT)
        return Verdict(UsbInfo::NoMetadata, "No update folder");
      return Verdict(UsbInfo::InvalidMetadata, "Cannot read the update folder: " + ErrorText(errno));
    }
    if (S_ISLNK(status.st_mode))
      return Verdict(UsbInfo::InvalidMetadata, "The update folder is a symbolic link");
    if (!S_ISDIR(status.st_mode))
      return Verdict(UsbInfo::NoMetadata, "No update folder");
    Descriptor next = at.OpenFolder(part);
    if (!next.Valid() && errno == EXDEV)
      return Verdict(UsbInfo::InvalidMetadata, "The update folder leaves the stick's file system");
    if (!next.Valid())
      return Verdict(UsbInfo::InvalidMetadata, "Cannot open the update folder: " + ErrorText(errno));
    folder = std::move(next);
  }
  if (!folder.Valid())
    return Verdict(UsbInfo::InvalidMetadata, "No update folder configured");
  return std::nullopt;
}

std::optional<StickCheck::Result> StickCheck::ReadChecksumList(const Descriptor& folder,
                                                               ChecksumList& list) const
{
  struct stat listStatus;
  if (!folder.StatusOf(checksumFile, listStatus)) {
    if (errno == ENOENT)
      return Verdict(UsbInfo::NoMetadata, "No checksum file");
    return Verdict(UsbInfo::InvalidMetadata, "Cannot read the checksum file: " + ErrorText(errno));
  }
  if (S_ISREG(listStatus.st_mode) && listStatus.st_size > MaxChecksumFileSize)
    return Verdict(UsbInfo::InvalidMetadata, "The checksum file is too large");
  std::string error;
  list = ChecksumList(S_ISREG(listStatus.st_mode) ? static_cast<std::size_t>(listStatus.st_size) : 0);
  const Descriptor file = OpenBeneath(folder, checksumFile, error);
  if (!file.Valid())
    return Verdict(UsbInfo::InvalidMetadata, "Checksum file: " + error);
  std::vector<char> buffer(64 * 1024);
  std::string readError;
  std::uint64_t read = 0;
  bool parsed = true;
  const bool complete = ReadAll(
      file.Get(),
      [&](const char* data, std::size_t size) {
        read += size;
        if (parsed && read <= static_cast<std::uint64_t>(MaxChecksumFileSize))
          parsed = list.Add(data, size, error);
      },
      buffer, readError);
  if (!complete)
    return Verdict(UsbInfo::InvalidMetadata, "Cannot read the checksum file: " + readError);
  // It grew while it was read.
  if (read > static_cast<std::uint64_t>(MaxChecksumFileSize))
    return Verdict(UsbInfo::InvalidMetadata, "The checksum file is too large");
  if (!parsed || !list.Finish(error))
    return Verdict(UsbInfo::InvalidMetadata, error);
  return std::nullopt;
}

std::optional<StickCheck::Result> StickCheck::ListFiles(const Descriptor& folder, dev_t device,
                                                        const ChecksumList& list,
                                                        std::vector<std::uint32_t>& jobs) const
{
  std::vector<std::uint64_t> sizes(list.Count(), 0);
  {
    FolderListing listing(device, checksumFile.find('/') == std::string::npos ? checksumFile : std::string());
    if (!folder.Walk(listing))
      return Verdict(UsbInfo::InvalidMetadata, listing.error);
    for (const auto& file : listing.files) {
      const std::size_t index = list.Find(file.path);
      if (index == ChecksumList::npos)
        return Verdict(UsbInfo::InvalidMetadata, "File not listed in the checksum file: " + file.path);
      sizes[index] = file.size;
    }
  }
  jobs = LargestFirst(sizes);
  return std::nullopt;
}

StickCheck::Result StickCheck::HashFiles(const Descriptor& folder, const ChecksumList& list,
                                         const std::vector<std::uint32_t>& jobs) const
{
  unsigned threadCount =
      threads != 0 ? threads : std::min(MaxThreads, std::max(1u, std::thread::hardware_concurrency()));
  threadCount =
      static_cast<unsigned>(std::min<std::size_t>(threadCount, std::max<std::size_t>(1, jobs.size())));
  Hashing hashing(folder, list, jobs, threadCount);
  hashing.Run();
  if (hashing.Failed())
    return Verdict(UsbInfo::InvalidMetadata, hashing.Failure());

  Result result;
  result.state = UsbInfo::ValidMetadata;
  result.files = jobs.size();
  result.bytes = hashing.Bytes();
  return result;
}
