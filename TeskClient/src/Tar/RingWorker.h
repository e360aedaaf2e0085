#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace Tesk::Tar {

// Hands a byte stream to a consumer that runs on a thread of its own. Bytes
// are copied into a ring of fixed size; Append waits while the ring is full,
// which bounds the memory held and slows the producer down to the consumer.
//
// A consumer that throws stops consuming: the worker keeps the message
// (Error) and from then on discards what is appended. One producer thread
// calls Append; the other operations may be called from any thread.
class RingWorker
{
public:
  using Consumer = std::function<void(const char* data, std::size_t size)>;

  RingWorker(std::size_t capacity, Consumer consumer);
  // Stops the thread; bytes not consumed yet are dropped.
  ~RingWorker();
  RingWorker(const RingWorker&) = delete;
  RingWorker& operator=(const RingWorker&) = delete;

  void Append(const char* data, std::size_t size);
  // Waits until everything appended so far has been consumed (or discarded).
  void Drain();
  // Waits as Drain, then calls f while the consumer is held still.
  void Drained(const std::function<void()>& f);
  bool Failed();
  std::string Error();

private:
  void Run();

  const std::size_t capacity;
  std::unique_ptr<char[]> ring;
  const Consumer consumer;
  std::mutex mutex;
  std::condition_variable dataAdded;    // the worker waits for bytes or for the end
  std::condition_variable dataConsumed; // Append waits for room, Drain for the worker
  std::uint64_t appended = 0;           // bytes ever appended
  std::uint64_t consumed = 0;           // bytes ever consumed or discarded
  bool stopping = false;
  bool failed = false;
  std::string error;
  std::thread thread;
};

} // namespace Tesk::Tar
