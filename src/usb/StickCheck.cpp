#include "usb/StickCheck.h"

#include "usb/ChecksumList.h"

#include <QCryptographicHash>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <unordered_map>
#include <vector>

namespace {

// The checksum file of a few thousand lines is far smaller; a larger one is
// not a checksum file.
constexpr off_t MaxChecksumFileSize = 64 * 1024 * 1024;
// Deeper than any path a stick's file system can hold.
constexpr int MaxDepth = 128;
constexpr unsigned MaxThreads = 8;
constexpr std::size_t ReadBufferSize = 1024 * 1024;

class Fd
{
public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd()
  {
    if (fd_ >= 0)
      ::close(fd_);
  }
  Fd(Fd&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  Fd& operator=(Fd&& other) noexcept
  {
    std::swap(fd_, other.fd_);
    return *this;
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }

private:
  int fd_;
};

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

int OpenDirectoryAt(int dirFd, const std::string& name)
{
  int fd;
  do
    fd = ::openat(dirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  while (fd < 0 && errno == EINTR);
  return fd;
}

// Opens the regular file at `path` (normalised, relative to `baseFd`) part by
// part: no part may be a link or lie on another file system than `device`.
// On failure returns an invalid Fd and says why.
Fd OpenBeneath(int baseFd, const std::string& path, dev_t device, std::string& error)
{
  const auto parts = Split(path);
  if (parts.empty()) {
    error = "Path names no file: " + path;
    return Fd();
  }
  Fd current;
  int at = baseFd;
  for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
    Fd next(OpenDirectoryAt(at, parts[i]));
    if (!next.valid()) {
      const int e = errno;
      error = (e == ELOOP || e == ENOTDIR ? std::string("Not a folder: ") : "Cannot open: ") + path + ": " +
              ErrorText(e);
      return Fd();
    }
    struct stat status;
    if (::fstat(next.get(), &status) != 0 || status.st_dev != device) {
      error = "Leaves the stick's file system: " + path;
      return Fd();
    }
    current = std::move(next);
    at = current.get();
  }

  int fd;
  do
    fd = ::openat(at, parts.back().c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  while (fd < 0 && errno == EINTR);
  Fd file(fd);
  if (!file.valid()) {
    const int e = errno;
    error = (e == ELOOP ? std::string("Symbolic link: ") : "Cannot open: ") + path + ": " + ErrorText(e);
    return Fd();
  }
  struct stat status;
  if (::fstat(file.get(), &status) != 0) {
    error = "Cannot read: " + path + ": " + ErrorText(errno);
    return Fd();
  }
  if (!S_ISREG(status.st_mode)) {
    error = "Not a regular file: " + path;
    return Fd();
  }
  if (status.st_dev != device) {
    error = "Leaves the stick's file system: " + path;
    return Fd();
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

struct FileEntry
{
  std::string path;
  std::uint64_t size;
};

// Lists the regular files below a folder, except names beginning with ".".
class FolderWalk
{
public:
  FolderWalk(dev_t device, std::string skipTopLevel) : device_(device), skip_(std::move(skipTopLevel)) {}

  bool Run(int folderFd, std::vector<FileEntry>& files, std::string& error)
  {
    return Walk(folderFd, std::string(), 0, files, error);
  }

private:
  bool Walk(int folderFd, const std::string& prefix, int depth, std::vector<FileEntry>& files,
            std::string& error)
  {
    if (depth > MaxDepth) {
      error = "Folders nested too deeply: " + prefix;
      return false;
    }
    // fdopendir takes the descriptor it is given; keep our own open.
    const int listFd = ::dup(folderFd);
    if (listFd < 0) {
      error = "Cannot list: " + prefix + ": " + ErrorText(errno);
      return false;
    }
    DIR* dir = ::fdopendir(listFd);
    if (!dir) {
      error = "Cannot list: " + prefix + ": " + ErrorText(errno);
      ::close(listFd);
      return false;
    }
    std::unique_ptr<DIR, int (*)(DIR*)> closer(dir, &::closedir);
    ::rewinddir(dir);

    std::vector<std::string> folders;
    for (;;) {
      errno = 0;
      const dirent* entry = ::readdir(dir);
      if (!entry) {
        if (errno != 0) {
          error = "Cannot list: " + prefix + ": " + ErrorText(errno);
          return false;
        }
        break;
      }
      const std::string name = entry->d_name;
      if (name.empty() || name[0] == '.')
        continue;
      const std::string path = prefix.empty() ? name : prefix + "/" + name;
      if (depth == 0 && name == skip_)
        continue;

      struct stat status;
      if (::fstatat(folderFd, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
        error = "Cannot read: " + path + ": " + ErrorText(errno);
        return false;
      }
      if (S_ISLNK(status.st_mode)) {
        error = "Symbolic link: " + path;
        return false;
      }
      if (status.st_dev != device_) {
        error = "Leaves the stick's file system: " + path;
        return false;
      }
      if (S_ISDIR(status.st_mode)) {
        folders.push_back(name);
      } else if (S_ISREG(status.st_mode)) {
        files.push_back({path, static_cast<std::uint64_t>(status.st_size)});
      } else {
        error = "Not a regular file: " + path;
        return false;
      }
    }
    closer.reset();

    for (const auto& name : folders) {
      const std::string path = prefix.empty() ? name : prefix + "/" + name;
      Fd sub(OpenDirectoryAt(folderFd, name));
      if (!sub.valid()) {
        error = "Cannot open: " + path + ": " + ErrorText(errno);
        return false;
      }
      struct stat status;
      if (::fstat(sub.get(), &status) != 0 || status.st_dev != device_) {
        error = "Leaves the stick's file system: " + path;
        return false;
      }
      if (!Walk(sub.get(), path, depth + 1, files, error))
        return false;
    }
    return true;
  }

  dev_t device_;
  std::string skip_;
};

StickCheck::Result Verdict(UsbInfo::State state, std::string reason)
{
  StickCheck::Result result;
  result.state = state;
  result.reason = std::move(reason);
  return result;
}

} // namespace

StickCheck::StickCheck(std::string mountPath, std::string updateDir, std::string checksumFile)
    : mountPath_(std::move(mountPath)), updateDir_(std::move(updateDir)),
      checksumFile_(std::move(checksumFile))
{
  const std::string prefix = updateDir_ + "/";
  if (checksumFile_.compare(0, prefix.size(), prefix) == 0)
    checksumFile_ = checksumFile_.substr(prefix.size());
}

StickCheck::Result StickCheck::Run() const
{
  Fd root(::open(mountPath_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!root.valid())
    return Verdict(UsbInfo::InvalidMetadata, "Cannot open the mount path: " + ErrorText(errno));
  struct stat rootStatus;
  if (::fstat(root.get(), &rootStatus) != 0)
    return Verdict(UsbInfo::InvalidMetadata, "Cannot read the mount path: " + ErrorText(errno));

  Result result;
  try {
    result = RunChecked(root.get(), rootStatus.st_dev);
  } catch (const std::exception& e) {
    return Verdict(UsbInfo::InvalidMetadata, std::string("Check failed: ") + e.what());
  } catch (...) {
    return Verdict(UsbInfo::InvalidMetadata, "Check failed");
  }

  // A stick pulled meanwhile may leave its files readable through what was
  // opened; the mount path then no longer leads to the same folder.
  struct stat now;
  if (::stat(mountPath_.c_str(), &now) != 0 || now.st_dev != rootStatus.st_dev ||
      now.st_ino != rootStatus.st_ino)
    return Verdict(UsbInfo::InvalidMetadata, "The stick went away during the check");
  return result;
}

StickCheck::Result StickCheck::RunChecked(int rootFd, dev_t device) const
{

  // The update folder, part by part.
  Fd folder;
  int at = rootFd;
  for (const auto& part : Split(updateDir_)) {
    struct stat status;
    if (::fstatat(at, part.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno == ENOENT)
        return Verdict(UsbInfo::NoMetadata, "No update folder");
      return Verdict(UsbInfo::InvalidMetadata, "Cannot read the update folder: " + ErrorText(errno));
    }
    if (S_ISLNK(status.st_mode))
      return Verdict(UsbInfo::InvalidMetadata, "The update folder is a symbolic link");
    if (!S_ISDIR(status.st_mode))
      return Verdict(UsbInfo::NoMetadata, "No update folder");
    Fd next(OpenDirectoryAt(at, part));
    if (!next.valid())
      return Verdict(UsbInfo::InvalidMetadata, "Cannot open the update folder: " + ErrorText(errno));
    if (::fstat(next.get(), &status) != 0 || status.st_dev != device)
      return Verdict(UsbInfo::InvalidMetadata, "The update folder leaves the stick's file system");
    folder = std::move(next);
    at = folder.get();
  }
  if (!folder.valid())
    return Verdict(UsbInfo::InvalidMetadata, "No update folder configured");

  // The checksum file.
  struct stat listStatus;
  if (::fstatat(folder.get(), checksumFile_.c_str(), &listStatus, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno == ENOENT)
      return Verdict(UsbInfo::NoMetadata, "No checksum file");
    return Verdict(UsbInfo::InvalidMetadata, "Cannot read the checksum file: " + ErrorText(errno));
  }
  if (S_ISREG(listStatus.st_mode) && listStatus.st_size > MaxChecksumFileSize)
    return Verdict(UsbInfo::InvalidMetadata, "The checksum file is too large");
  std::string error;
  std::string text;
  {
    Fd list = OpenBeneath(folder.get(), checksumFile_, device, error);
    if (!list.valid())
      return Verdict(UsbInfo::InvalidMetadata, "Checksum file: " + error);
    std::vector<char> buffer(64 * 1024);
    std::string readError;
    if (!ReadAll(
            list.get(), [&](const char* data, std::size_t size) { text.append(data, size); }, buffer,
            readError))
      return Verdict(UsbInfo::InvalidMetadata, "Cannot read the checksum file: " + readError);
  }
  std::vector<ChecksumList::Entry> entries;
  if (!ChecksumList::Parse(text, entries, error))
    return Verdict(UsbInfo::InvalidMetadata, error);

  // Every file present must be listed.
  std::vector<FileEntry> present;
  FolderWalk walk(device, checksumFile_.find('/') == std::string::npos ? checksumFile_ : std::string());
  if (!walk.Run(folder.get(), present, error))
    return Verdict(UsbInfo::InvalidMetadata, error);
  std::unordered_map<std::string, std::uint64_t> sizes;
  for (const auto& file : present)
    sizes.emplace(file.path, file.size);
  {
    std::unordered_map<std::string, bool> listed;
    for (const auto& entry : entries)
      listed.emplace(entry.path, true);
    for (const auto& file : present)
      if (listed.count(file.path) == 0)
        return Verdict(UsbInfo::InvalidMetadata, "File not listed in the checksum file: " + file.path);
  }

  if (beforeHashing_)
    beforeHashing_();

  // The largest files first, so that no thread is left with a big one at the end.
  std::vector<const ChecksumList::Entry*> jobs;
  jobs.reserve(entries.size());
  for (const auto& entry : entries)
    jobs.push_back(&entry);
  std::stable_sort(jobs.begin(), jobs.end(), [&](const auto* a, const auto* b) {
    const auto sa = sizes.find(a->path);
    const auto sb = sizes.find(b->path);
    return (sa == sizes.end() ? 0 : sa->second) > (sb == sizes.end() ? 0 : sb->second);
  });

  std::atomic<std::size_t> next{0};
  std::atomic<bool> failed{false};
  std::atomic<std::uint64_t> bytes{0};
  std::mutex failureMutex;
  std::string failure;
  const auto fail = [&](std::string reason) {
    std::lock_guard<std::mutex> lock(failureMutex);
    if (!failed.exchange(true))
      failure = std::move(reason);
  };

  const auto work = [&] {
    try {
      std::vector<char> buffer(ReadBufferSize);
      QCryptographicHash hash(QCryptographicHash::Md5);
      for (std::size_t i = next++; i < jobs.size() && !failed; i = next++) {
        const ChecksumList::Entry& entry = *jobs[i];
        std::string why;
        Fd file = OpenBeneath(folder.get(), entry.path, device, why);
        if (!file.valid()) {
          fail(why);
          return;
        }
        ::posix_fadvise(file.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
        hash.reset();
        std::uint64_t size = 0;
        const bool read = ReadAll(
            file.get(),
            [&](const char* data, std::size_t count) {
              hash.addData(data, static_cast<int>(count));
              size += count;
            },
            buffer, why);
        if (!read) {
          fail("Cannot read: " + entry.path + ": " + why);
          return;
        }
        const QByteArray digest = hash.result();
        if (digest.size() != 16 || std::memcmp(digest.constData(), entry.digest.data(), 16) != 0) {
          fail("Checksum mismatch: " + entry.path);
          return;
        }
        bytes += size;
      }
    } catch (const std::exception& e) {
      fail(std::string("Check failed: ") + e.what());
    }
  };

  unsigned threads =
      threads_ != 0 ? threads_ : std::min(MaxThreads, std::max(1u, std::thread::hardware_concurrency()));
  threads = static_cast<unsigned>(std::min<std::size_t>(threads, std::max<std::size_t>(1, jobs.size())));
  std::vector<std::thread> helpers;
  try {
    for (unsigned i = 1; i < threads; ++i)
      helpers.emplace_back(work);
  } catch (...) {
    // No more threads to be had: the ones running share the files. Leaving
    // here would destroy running threads, which ends the process.
  }
  work();
  for (auto& helper : helpers)
    helper.join();

  if (failed)
    return Verdict(UsbInfo::InvalidMetadata, failure);

  Result result;
  result.state = UsbInfo::ValidMetadata;
  result.files = jobs.size();
  result.bytes = bytes;
  return result;
}
