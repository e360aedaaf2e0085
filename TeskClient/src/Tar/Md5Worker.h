#pragma once

#include <boost/uuid/detail/md5.hpp>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace Tesk::Tar {

// Computes the MD5 of a byte stream on a thread of its own, so that hashing
// overlaps with unpacking and writing files. Bytes are copied into a ring of
// fixed size; Append waits while the ring is full, which bounds the memory
// held and slows the producer down to the hashing speed.
//
// One producer thread calls Append; HexDigest may be called from any thread.
class Md5Worker
{
public:
  static constexpr std::size_t DefaultCapacity = 8 * 1024 * 1024;

  explicit Md5Worker(std::size_t capacity = DefaultCapacity);
  ~Md5Worker();
  Md5Worker(const Md5Worker&) = delete;
  Md5Worker& operator=(const Md5Worker&) = delete;

  void Append(const char* data, std::size_t size);
  // The MD5 of everything appended so far, as 32 lower-case hexadecimal
  // digits; waits until the worker has caught up. Appending may go on after.
  std::string HexDigest();

private:
  void Run();

  const std::size_t capacity;
  std::unique_ptr<char[]> ring;
  std::mutex mutex;
  std::condition_variable dataAdded;  // the worker waits for bytes or for the end
  std::condition_variable dataHashed; // Append waits for room, HexDigest for the worker
  std::uint64_t appended = 0;         // bytes ever appended
  std::uint64_t hashed = 0;           // bytes ever hashed
  bool stopping = false;
  boost::uuids::detail::md5 md5; // touched by the worker only while hashed < appended
  std::thread thread;
};

} // namespace Tesk::Tar
