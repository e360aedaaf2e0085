// Generates a stick folder for the check benchmark, or checks one and tells
// how long the check took. run.sh drives it and compares with md5sum -c.
//
//   stickcheck_bench generate <mount> <total MiB> <files>
//   stickcheck_bench check <mount> [threads]

#include "usb/StickCheck.h"

#include <boost/filesystem/operations.hpp>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace fs = boost::filesystem;

namespace {

// Deterministic, incompressible-looking content.
struct Random
{
  std::uint64_t state;
  std::uint64_t Next()
  {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
  }
};

int Generate(const std::string& mount, std::uint64_t totalMiB, std::uint64_t files)
{
  if (files < 1) {
    std::cerr << "at least one file\n";
    return 2;
  }
  const fs::path update = fs::path(mount) / "OrvaneNDSUpdate";
  fs::create_directories(update / "meta_data");

  // Half of the bytes in a few large files (as map data), the other half in
  // many small and medium ones (tiles, metadata); below 32 files, all of
  // them large.
  const std::uint64_t total = totalMiB * 1024 * 1024;
  const std::uint64_t large = files < 32 ? files : files / 128 + 1;
  const std::uint64_t smallFiles = files - large;
  const std::uint64_t largeSize = smallFiles == 0 ? total / large : total / 2 / large;
  const std::uint64_t smallAverage = smallFiles == 0 ? 0 : (total - largeSize * large) / smallFiles;

  Random random{0x9E3779B97F4A7C15ull};
  std::vector<std::uint64_t> block(1024 * 1024 / 8);
  std::uint64_t written = 0;
  for (std::uint64_t i = 0; i < files; ++i) {
    fs::path path;
    std::uint64_t size;
    if (i < large) {
      path = update / "data" / ("map" + std::to_string(i) + ".nds");
      size = largeSize;
    } else {
      path = update / "tiles" / std::to_string(i % 50) / ("tile" + std::to_string(i) + ".bin");
      // Between a tenth and nearly twice the average, averaging out.
      size = smallAverage / 10 + random.Next() % (smallAverage * 9 / 5 + 1);
    }
    fs::create_directories(path.parent_path());
    std::ofstream out(path.string(), std::ios::binary | std::ios::trunc);
    std::uint64_t left = size;
    while (left > 0) {
      for (auto& word : block)
        word = random.Next();
      const std::uint64_t chunk = std::min<std::uint64_t>(left, block.size() * 8);
      out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(chunk));
      left -= chunk;
    }
    if (!out.flush()) {
      std::cerr << "cannot write " << path << "\n";
      return 1;
    }
    written += size;
  }
  std::cout << files << " files, " << written / (1024 * 1024) << " MiB in " << update.string() << "\n";
  return 0;
}

int Check(const std::string& mount, unsigned threads)
{
  StickCheck check(mount, "OrvaneNDSUpdate", "CHECKSUMS.MD5");
  check.SetThreads(threads);
  const auto start = std::chrono::steady_clock::now();
  const StickCheck::Result result = check.Run();
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  std::cout << "state " << result.state << ", " << result.files << " files, " << result.bytes / (1024 * 1024)
            << " MiB in " << elapsed.count() << " s";
  if (!result.reason.empty())
    std::cout << " (" << result.reason << ")";
  std::cout << "\n";
  return result.state == UsbInfo::ValidMetadata ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 4 && args[0] == "generate")
    return Generate(args[1], std::stoull(args[2]), std::stoull(args[3]));
  if ((args.size() == 2 || args.size() == 3) && args[0] == "check")
    return Check(args[1], args.size() == 3 ? static_cast<unsigned>(std::stoul(args[2])) : 0);
  std::cerr << "usage: stickcheck_bench generate <mount> <total MiB> <files>\n"
               "       stickcheck_bench check <mount> [threads]\n";
  return 2;
}
