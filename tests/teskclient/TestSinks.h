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
// can fail from a given byte on or when flushed.
class MemoryBuffer : public std::streambuf
{
public:
  // Closed: every write waits until Open().
  void Close()
  {
    Locked([&] { return open = false; });
  }
  void Open()
  {
    Locked([&] { return open = true; });
    changed.notify_all();
  }
  // Writes that would reach this byte throw (throwing) or take nothing.
  void FailAt(long long byte, bool throwing)
  {
    Locked([&] { return throwOnFailure = throwing, failAt = byte; });
  }
  void FailOnSync()
  {
    Locked([&] { return failOnSync = true; });
  }
  std::string Bytes()
  {
    return Locked([&] { return bytes; });
  }
  long long Size()
  {
    return Locked([&] { return static_cast<long long>(bytes.size()); });
  }
  // Writes waiting at the gate now, and the size of every write made.
  int Waiting()
  {
    return Locked([&] { return waiting; });
  }
  std::vector<long long> Writes()
  {
    return Locked([&] { return writes; });
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
    const char byte = traits_type::to_char_type(c);
    return traits_type::eq_int_type(c, traits_type::eof()) || xsputn(&byte, 1) == 1 ? traits_type::not_eof(c)
                                                                                    : traits_type::eof();
  }
  int sync() override
  {
    if (Locked([&] { return failOnSync; }))
      throw std::runtime_error("the stick failed when flushed");
    return 0;
  }
  pos_type seekoff(off_type, std::ios_base::seekdir, std::ios_base::openmode) override { return Size(); }

private:
  template <typename F>
  auto Locked(F f) -> decltype(f())
  {
    std::lock_guard<std::mutex> lock(mutex);
    return f();
  }

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
struct Recorder : Tesk::IResponse
{
  void OnData(qint64 bytes) override
  {
    dataAfterResult = dataAfterResult || !results.empty();
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
