#include "Tar/RingWorker.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace Tesk::Tar {

namespace {

// The worker consumes in slices, so that room comes back to the producer
// before a whole ring has been consumed.
constexpr std::size_t SliceSize = 256 * 1024;

} // namespace

RingWorker::RingWorker(std::size_t capacity, Consumer consumer)
    : capacity(std::max<std::size_t>(capacity, 64)), ring(new char[this->capacity]),
      consumer(std::move(consumer)), thread([this] { Run(); })
{
}

RingWorker::~RingWorker()
{
  {
    std::lock_guard<std::mutex> lock(mutex);
    stopping = true;
  }
  dataAdded.notify_all();
  dataConsumed.notify_all();
  thread.join();
}

void RingWorker::Append(const char* data, std::size_t size)
{
  while (size > 0) {
    std::unique_lock<std::mutex> lock(mutex);
    dataConsumed.wait(lock, [this] { return appended - consumed < capacity; });
    const std::size_t start = static_cast<std::size_t>(appended % capacity);
    const std::size_t room = capacity - static_cast<std::size_t>(appended - consumed);
    const std::size_t length = std::min({size, room, capacity - start});
    lock.unlock();
    // The worker reads only between consumed and appended: this part is ours.
    std::memcpy(ring.get() + start, data, length);
    lock.lock();
    appended += length;
    lock.unlock();
    dataAdded.notify_one();
    data += length;
    size -= length;
  }
}

void RingWorker::Drain()
{
  std::unique_lock<std::mutex> lock(mutex);
  dataConsumed.wait(lock, [this] { return consumed == appended; });
}

void RingWorker::Drained(const std::function<void()>& f)
{
  std::unique_lock<std::mutex> lock(mutex);
  dataConsumed.wait(lock, [this] { return consumed == appended; });
  // The worker needs the lock to take more bytes: it stands still meanwhile.
  f();
}

bool RingWorker::Failed()
{
  std::lock_guard<std::mutex> lock(mutex);
  return failed;
}

std::string RingWorker::Error()
{
  std::lock_guard<std::mutex> lock(mutex);
  return error;
}

void RingWorker::Run()
{
  std::unique_lock<std::mutex> lock(mutex);
  for (;;) {
    dataAdded.wait(lock, [this] { return stopping || appended > consumed; });
    if (stopping)
      return;
    const std::size_t start = static_cast<std::size_t>(consumed % capacity);
    const std::size_t length =
        std::min({static_cast<std::size_t>(appended - consumed), capacity - start, SliceSize});
    if (!failed) {
      lock.unlock();
      std::string failure;
      try {
        consumer(ring.get() + start, length);
      } catch (const std::exception& e) {
        failure = e.what();
        if (failure.empty())
          failure = "unknown exception";
      } catch (...) {
        failure = "unknown exception";
      }
      lock.lock();
      if (!failure.empty()) {
        failed = true;
        error = failure;
      }
    }
    consumed += length;
    dataConsumed.notify_all();
  }
}

} // namespace Tesk::Tar
