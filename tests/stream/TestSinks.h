#pragma once

// Output streams and response sinks for the streaming tests.

#include "IRequest.h"
#include "IResponse.h"

#include <condition_variable>
#include <mutex>
#include <ostream>
#include <stdexcept>
#include <streambuf>
#include <string>
#include <vector>

// A stream buffer that keeps what is written in memory and reports its size
// as its position. Writes can be held at a gate, to play a slow stick, and
// can fail from a given byte on.
class MemoryBuffer : public std::streambuf
{
public:
  // Closed: every write waits until Open().
  void Close()
  {
    std::lock_guard<std::mutex> lock(mutex);
    open = false;
  }
  void Open()
  {
    {
      std::lock_guard<std::mutex> lock(mutex);
      open = true;
    }
    changed.notify_all();
  }
  // Writes that would reach this byte throw (with the exception mask) or
  // fail (without it).
  void FailAt(long long byte, bool throwing)
  {
    std::lock_guard<std::mutex> lock(mutex);
    failAt = byte;
    throwOnFailure = throwing;
  }
  // sync (flush) throws: a failure found only when the stream finishes what it holds.
  void FailOnSync()
  {
    std::lock_guard<std::mutex> lock(mutex);
    failOnSync = true;
  }
  std::string Bytes()
  {
    std::lock_guard<std::mutex> lock(mutex);
    return bytes;
  }
  long long Size()
  {
    std::lock_guard<std::mutex> lock(mutex);
    return static_cast<long long>(bytes.size());
  }
  // How many writes wait at the gate now, and how many calls were made.
  int Waiting()
  {
    std::lock_guard<std::mutex> lock(mutex);
    return waiting;
  }
  std::vector<long long> Writes()
  {
    std::lock_guard<std::mutex> lock(mutex);
    return writes;
  }

protected:
  std::streamsize xsputn(const char* data, std::streamsize size) override
  {
    std::unique_lock<std::mutex> lock(mutex);
    ++waiting;
    changed.wait(lock, [this] { return open; });
    --waiting;
    writes.push_back(size);
    if (failAt >= 0 && static_cast<long long>(bytes.size()) + size > failAt) {
      if (throwOnFailure)
        throw std::runtime_error("the stick refused the write");
      return 0; // the stream turns a short write into its bad state
    }
    bytes.append(data, static_cast<std::size_t>(size));
    return size;
  }
  int_type overflow(int_type c) override
  {
    if (traits_type::eq_int_type(c, traits_type::eof()))
      return traits_type::not_eof(c);
    const char byte = traits_type::to_char_type(c);
    return xsputn(&byte, 1) == 1 ? c : traits_type::eof();
  }
  int sync() override
  {
    std::lock_guard<std::mutex> lock(mutex);
    if (failOnSync)
      throw std::runtime_error("the stick failed when flushed");
    return 0;
  }
  pos_type seekoff(off_type, std::ios_base::seekdir, std::ios_base::openmode) override
  {
    std::lock_guard<std::mutex> lock(mutex);
    return pos_type(off_type(bytes.size()));
  }

private:
  std::mutex mutex;
  std::condition_variable changed;
  bool open = true;
  int waiting = 0;
  long long failAt = -1;
  bool throwOnFailure = true;
  bool failOnSync = false;
  std::string bytes;
  std::vector<long long> writes;
};

class MemoryStream : public std::ostream
{
public:
  MemoryStream() : std::ostream(nullptr) { rdbuf(&buffer); }
  MemoryBuffer buffer;
};

// Records what a request reports, and passes the running total back as the
// map download does.
class Recorder : public Tesk::IResponse
{
public:
  void OnData(qint64 bytes) override
  {
    if (!results.empty())
      dataAfterResult = true;
    data.push_back(bytes);
    total += bytes;
    if (request)
      request->GetDownloadedbytes(total);
  }
  void OnResult(Result result) override { results.push_back(result); }

  Tesk::IRequest* request = nullptr;
  std::vector<qint64> data;
  qint64 total = 0;
  std::vector<Result> results;
  bool dataAfterResult = false;
};
