#pragma once

#include "Tar/Header.h"
#include "Tar/RingWorker.h"
#include "Tar/RootFolder.h"
#include "util/Md5.h"

#include <boost/filesystem/path.hpp>

#include <atomic>
#include <cstdint>
#include <streambuf>
#include <string>
#include <sys/types.h>
#include <vector>

namespace Tesk::Tar {

// The output buffer of the tar-extracting stream. Bytes written into it are
// parsed as a tar archive, split at any byte, and its folders and regular
// files are created below the root; an MD5 over every byte written, headers
// and padding included, is kept on the side. Unpacking and hashing each run
// on a thread of their own, fed through a ring of fixed size, so that both
// overlap with each other and with the writer.
//
// Its position query reports the number of bytes accepted so far, whatever
// it is asked for: a download resumes from there.
//
// A failure (a folder or file that cannot be created or written, a damaged
// header, an entry that could reach outside the root or is not a plain file
// or folder) is thrown as std::runtime_error by the next write and by sync,
// which waits until everything written is unpacked (flush: thrown there too,
// not returned as -1, so that a stream with an exception mask passes the text
// on); the buffer then stays failed and refuses every write with the same
// error.
//
// Written from one thread at a time; the position and Md5 may be read from
// another.
class StreamBuf : public std::streambuf
{
public:
  static constexpr std::size_t DefaultRing = 8 * 1024 * 1024;

  // ring: the bytes each of the two threads may hold.
  explicit StreamBuf(const boost::filesystem::path& root, std::size_t ring = DefaultRing);
  ~StreamBuf() override;

  // False when the root could not be opened; every write then fails.
  bool IsOpen() const { return root.IsOpen(); }
  // The MD5 of all bytes written so far, as 32 lower-case hexadecimal digits.
  std::string Md5();
  std::int64_t BytesWritten() const { return position.load(); }
  // The end-of-archive block has been read (waits for the unpacking first).
  // An archive without it, or that stops inside an entry, is incomplete
  // however well every byte of it arrived.
  bool Finished();
  // The failure that stopped the buffer lies in the archive: a damaged
  // header, an unsafe or unsupported entry, entries that clash with each
  // other. False while it works and for failures to write the target
  // (waits for the unpacking first).
  bool Refused();
  // The text of the failure that stopped the buffer; empty while it works
  // (waits for the unpacking first).
  std::string Error();
  // Unpacks what is held, then closes the file being written. Called by the
  // stream when it closes.
  void Close();
  // Drops what is held and everything written from now on, unread and
  // unpacked: the target has gone, and nothing more may be written there.
  // May be called from any thread, also while a write waits for room.
  void Discard();
  // Lets go of every descriptor held on the target (the root, the folder
  // last created in, the file being written) once what was written so far
  // is unpacked, so that the target's file system can be unmounted. The
  // next bytes written open the root and the file being written again by
  // their paths, checked to lie on the same file system and, for the file,
  // to hold exactly what was written into it, and the unpacking goes on
  // where it stopped; when either is gone or does not match, that write
  // fails. May be called from any thread.
  void Suspend();
  // Once what was written is unpacked, writes everything cached for the
  // target's file system to it (see RootFolder::Sync): 0, or the errno of the
  // failure. May be called from any thread.
  int SyncTarget();

protected:
  std::streamsize xsputn(const char* data, std::streamsize size) override;
  int_type overflow(int_type c) override;
  int sync() override;
  pos_type seekoff(off_type offset, std::ios_base::seekdir direction, std::ios_base::openmode mode) override;

private:
  enum class State
  {
    Header,   // collecting a header block
    FileData, // writing a regular file's data
    Extended, // collecting the data of a long-name or pax header
    Skip,     // skipping padding or data that are not used
    End,      // after the end-of-archive block: the rest is ignored
    Failed
  };

  // On the unpacking thread: parses the bytes; throws on a failure.
  void Unpack(const char* data, std::size_t size);
  // Consumes at most size bytes in the current state; returns how many.
  std::size_t Consume(const char* data, std::size_t size);
  void ProcessHeader(const char* block);
  void StartEntry(const Header& header);
  void FinishExtended();
  void EndOfData();
  void WriteFileData(const char* data, std::size_t size);
  void CloseFile();
  // On the unpacking thread: opens again what Suspend let go of.
  void Reopen();
  // Stops the parser after a failure; `inArchive` tells whose it is.
  void Fail(const std::exception& failure, bool inArchive);
  std::string FailureText();

  RootFolder root;
  std::string openError;
  std::atomic<std::int64_t> position{0};
  std::atomic<bool> discarding{false};
  bool closed = false;

  // The parser's state, touched only by the unpacking thread (and by Close
  // once the thread has caught up).
  State state = State::Header;
  char block[Header::BlockSize];
  std::size_t blockFill = 0;
  std::int64_t parsed = 0;       // bytes taken by the parser so far
  std::int64_t headerOffset = 0; // archive offset of the header being read
  std::int64_t remaining = 0;    // bytes left in FileData, Extended or Skip
  std::int64_t padding = 0;      // block padding that follows the current data
  std::string entryName;         // the file being written, for error texts
  Descriptor file;
  // The file being written, to open it again after a suspension: its
  // components below the root, its file system and the bytes written into
  // it.
  std::vector<std::string> fileComponents;
  dev_t fileDevice = 0;
  std::int64_t fileWritten = 0;
  // Set by Suspend (while the unpacking thread stands still): the
  // descriptors are closed, the file is to be opened again, and the errno of
  // a failed close, reported by the next write.
  bool suspended = false;
  bool reopenFile = false;
  int closeError = 0;
  Header::Type extendedType = Header::Type::LongName;
  std::string extended; // data of the long-name or pax header being read
  // What the extended headers said about the next entry.
  std::string pendingName;
  bool hasPendingName = false;
  std::int64_t pendingSize = -1;

  bool refused = false; // set by the unpacking thread when it fails

  ::Md5 md5; // touched by the hashing thread only

  // Last, so that their threads stop before the state above goes.
  RingWorker hashing;
  RingWorker unpacking;
};

} // namespace Tesk::Tar
