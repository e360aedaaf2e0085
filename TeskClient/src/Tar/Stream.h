#pragma once

#include "Tar/StreamBuf.h"

#include <boost/filesystem/path.hpp>

#include <ostream>
#include <string>

namespace Tesk::Tar {

// An output stream that unpacks the tar archive written into it below a root
// folder and keeps an MD5 over every byte written.
//
//     Tesk::Tar::Stream stream(target);            // bad() when target is missing
//     stream.exceptions(std::ios::badbit | std::ios::failbit);
//     stream.write(data, size);                    // throws the extractor's error
//     stream.tellp();                              // bytes accepted so far
//     stream.md5();                                // "d41d8cd98f00b204e9800998ecf8427e"
//
// Unpacking runs behind the writes: a failure comes out of a later write or
// out of flush(). Without an exception mask it
// only sets the bad state, as for any stream; Error() then tells what went
// wrong.
class Stream : public std::ostream
{
public:
  explicit Stream(const boost::filesystem::path& root);
  // Flushes when good, closes the file being written; what was written stays.
  ~Stream() override;

  // The target has gone: what is not unpacked yet, and whatever is written
  // from now on, is dropped. May be called from another thread than the
  // writer's, also while a write waits.
  void Discard();
  // Lets go of every descriptor held on the target once what was written is
  // unpacked; the next write opens them again, checked to lie where they
  // were, and goes on where it stopped (see StreamBuf).
  void Suspend();
  // Once what was written is unpacked, syncs the target's file system: 0, or
  // the errno of the failure.
  int SyncTarget();

  // The MD5 of all bytes written so far, as 32 lower-case hexadecimal digits.
  std::string md5();
  // The extractor's failure, empty while it works. Both wait until what was
  // written is unpacked.
  std::string Error();
  // The end-of-archive block has been read: without it the archive is
  // incomplete, whatever its MD5 says.
  bool Finished();
  // The extractor's failure lies in the archive (damaged, unsafe, entries
  // that clash), not in writing the target.
  bool Refused();

private:
  StreamBuf buffer;
};

} // namespace Tesk::Tar
