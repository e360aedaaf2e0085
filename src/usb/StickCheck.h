#pragma once

#include "usb/UsbInfo.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

class ChecksumList;
class Descriptor;

// The check of a stick's update folder against its checksum file:
//
// - no update folder, or no checksum file in it: NoMetadata;
// - ValidMetadata when every line of the checksum file is well-formed, every
//   listed file exists and has its MD5, and every regular file under the
//   update folder other than the checksum file is listed;
// - InvalidMetadata otherwise, and also when a listed path is absolute or
//   leaves the folder, when a file cannot be read, when the folder holds a
//   symbolic link, a device, a pipe or another mounted file system, or when
//   the stick goes away during the check.
//
// Files and folders whose names begin with "." (which desktop file managers
// add) need not be listed and are checked only when listed.
//
// Nothing outside the update folder is read: every file is opened part by part
// below the folder without following links or leaving its file system, and
// the folders are walked by open handles to any depth. The checksum file is
// read as md5sum -c reads it (see ChecksumList). Several files are hashed at
// once, the largest first; a large file that would otherwise keep one thread
// busy alone is read ahead on a thread of its own while it is hashed.
class StickCheck
{
public:
  struct Result
  {
    UsbInfo::State state = UsbInfo::InvalidMetadata;
    std::string reason;      // why the state is not ValidMetadata
    std::uint64_t files = 0; // files hashed
    std::uint64_t bytes = 0; // bytes hashed
  };

  // `mount` is the stick's mount path; `update`, the update folder, is
  // relative to it; `checksums` names the checksum file in the update folder
  // (a path beginning with the update folder is accepted).
  StickCheck(std::string mount, std::string update, std::string checksums);

  // How many files are hashed at once; 0 (the default) chooses by the number
  // of processors.
  void SetThreads(unsigned count) { threads = count; }

  // Called on the checking thread after the checksum file has been read and
  // the folder listed, before the first file is hashed. For tests.
  void SetBeforeHashing(std::function<void()> hook) { beforeHashing = std::move(hook); }

  // Runs the check; blocks until it is done. Never throws.
  Result Run() const;

private:
  // The check in its phases. Each phase but the last returns the verdict that
  // ends the check early, or nothing to go on with the next.
  Result RunChecked(const Descriptor& root, dev_t device) const;
  // Opens the update folder part by part below the mount path.
  std::optional<Result> OpenUpdateFolder(const Descriptor& root, Descriptor& folder) const;
  // Reads the checksum file piece by piece into its compact list.
  std::optional<Result> ReadChecksumList(const Descriptor& folder, ChecksumList& list) const;
  // Finds every file below the update folder in the list; gives the indexes
  // of the listed files in the order they are to be hashed.
  std::optional<Result> ListFiles(const Descriptor& folder, dev_t device, const ChecksumList& list,
                                  std::vector<std::uint32_t>& jobs) const;
  // Hashes every listed file and compares it with its checksum.
  Result HashFiles(const Descriptor& folder, const ChecksumList& list,
                   const std::vector<std::uint32_t>& jobs) const;

  std::string mountPath;
  std::string updateDir;
  std::string checksumFile;
  unsigned threads = 0;
  std::function<void()> beforeHashing;
};
