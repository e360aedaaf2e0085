// libFuzzer target of the tar extractor. The first input byte chooses how the
// rest is split into writes, so that headers and data are cut at every kind
// of place. After each input: the scratch root holds only folders and regular
// files, the folder beside it is untouched, and the position reported equals
// the bytes accepted.

#include "Tar/StreamBuf.h"

#include <boost/filesystem.hpp>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <sys/stat.h>

namespace fs = boost::filesystem;

namespace {

struct Scratch
{
  Scratch()
  {
    const char* shm = "/dev/shm";
    base = fs::exists(shm) ? fs::path(shm) : fs::temp_directory_path();
    base /= fs::unique_path("tar-fuzz-%%%%-%%%%");
    fs::create_directories(base / "root");
    fs::create_directories(base / "outside");
    std::ofstream(fs::path(base / "outside" / "keep").string()) << "keep";
  }
  ~Scratch() { fs::remove_all(base); }

  void Check() const
  {
    // Beside the root: exactly what was put there.
    std::size_t beside = 0;
    for (fs::directory_iterator it(base / "outside"), end; it != end; ++it)
      ++beside;
    std::size_t top = 0;
    for (fs::directory_iterator it(base), end; it != end; ++it)
      ++top;
    if (beside != 1 || top != 2 || fs::file_size(base / "outside" / "keep") != 4)
      std::abort();
    for (fs::recursive_directory_iterator it(base / "root"), end; it != end; ++it) {
      struct stat status
      {
      };
      if (::lstat(it->path().c_str(), &status) != 0 || !(S_ISDIR(status.st_mode) || S_ISREG(status.st_mode)))
        std::abort();
    }
  }

  void Clear() const
  {
    for (fs::directory_iterator it(base / "root"), end; it != end; ++it)
      fs::remove_all(it->path());
  }

  fs::path base;
};

// Lets the fuzzer write through the protected interface as a stream does.
class Buffer : public Tesk::Tar::StreamBuf
{
public:
  using StreamBuf::StreamBuf;
  std::streamsize Write(const char* data, std::streamsize size) { return sputn(data, size); }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
  static Scratch scratch;
  if (size == 0)
    return 0;
  const std::size_t piece = 1 + static_cast<std::size_t>(data[0]) * 7;
  const char* bytes = reinterpret_cast<const char*>(data + 1);
  const std::size_t length = size - 1;
  {
    Buffer buffer(scratch.base / "root", 64 * 1024);
    std::size_t at = 0;
    try {
      while (at < length) {
        const std::size_t n = std::min(piece, length - at);
        if (buffer.Write(bytes + at, static_cast<std::streamsize>(n)) != static_cast<std::streamsize>(n))
          std::abort();
        at += n;
      }
      buffer.pubsync(); // waits for the unpacking and throws its failure
    } catch (const std::runtime_error&) {
      if (buffer.Error().empty())
        std::abort();
    }
    if (buffer.Error().empty() && buffer.BytesWritten() != static_cast<std::int64_t>(length))
      std::abort();
    if (buffer.Md5().size() != 32)
      std::abort();
  }
  scratch.Check();
  scratch.Clear();
  return 0;
}
