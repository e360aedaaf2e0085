#include "Tar/Md5Worker.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace Tesk::Tar {

namespace {

// The worker hands back room in slices, so the producer need not wait for a
// whole ring to be hashed.
constexpr std::size_t SliceSize = 256 * 1024;

} // namespace

Md5Worker::Md5Worker(std::size_t capacity)
    : capacity(std::max<std::size_t>(capacity, 64)), ring(new char[this->capacity]), thread([this] { Run(); })
{
}

Md5Worker::~Md5Worker()
{
  {
    std::lock_guard<std::mutex> lock(mutex);
    stopping = true;
  }
  dataAdded.notify_all();
  thread.join();
}

void Md5Worker::Append(const char* data, std::size_t size)
{
  while (size > 0) {
    std::unique_lock<std::mutex> lock(mutex);
    dataHashed.wait(lock, [this] { return appended - hashed < capacity; });
    const std::size_t start = static_cast<std::size_t>(appended % capacity);
    const std::size_t room = capacity - static_cast<std::size_t>(appended - hashed);
    const std::size_t length = std::min({size, room, capacity - start});
    lock.unlock();
    // The worker reads only between hashed and appended: this part is ours.
    std::memcpy(ring.get() + start, data, length);
    lock.lock();
    appended += length;
    lock.unlock();
    dataAdded.notify_one();
    data += length;
    size -= length;
  }
}

std::string Md5Worker::HexDigest()
{
  boost::uuids::detail::md5 copy;
  {
    std::unique_lock<std::mutex> lock(mutex);
    dataHashed.wait(lock, [this] { return hashed == appended; });
    copy = md5;
  }
  boost::uuids::detail::md5::digest_type digest;
  copy.get_digest(digest);
  // Each word holds four digest bytes in reading order as a number.
  char text[33];
  for (int i = 0; i < 4; ++i)
    std::snprintf(text + 8 * i, 9, "%08x", static_cast<unsigned>(digest[i]));
  return std::string(text, 32);
}

void Md5Worker::Run()
{
  std::unique_lock<std::mutex> lock(mutex);
  for (;;) {
    dataAdded.wait(lock, [this] { return stopping || appended > hashed; });
    if (stopping)
      return;
    const std::size_t start = static_cast<std::size_t>(hashed % capacity);
    const std::size_t length =
        std::min({static_cast<std::size_t>(appended - hashed), capacity - start, SliceSize});
    lock.unlock();
    md5.process_bytes(ring.get() + start, length);
    lock.lock();
    hashed += length;
    dataHashed.notify_all();
  }
}

} // namespace Tesk::Tar
