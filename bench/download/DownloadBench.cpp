// Downloads a map archive through the streaming request into a folder, the
// way the map download does (tar extractor with its MD5 behind the writer
// thread), and prints what it measured:
//
//   DownloadBench URL FOLDER [--sink-mbps N] [--timeout-ms N]
//   DownloadBench --md5-speed
//
// --sink-mbps caps the speed at which the extractor is fed, to play a slow
// stick; the writer's buffer then fills up and the download is dropped and
// resumed, which is what the peak memory figure is about. --md5-speed prints
// what the MD5 alone does on one core, with the library the extractor uses.

#include "../PeakRss.h"
#include "AsyncRequest.h"
#include "Tar/Stream.h"
#include "util/Md5.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QStandardPaths>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Feeds another stream no faster than a given rate; its position is the
// other stream's.
class ThrottledBuffer : public std::streambuf
{
public:
  ThrottledBuffer(std::ostream& target, double bytesPerSecond) : target(target), rate(bytesPerSecond) {}

protected:
  std::streamsize xsputn(const char* data, std::streamsize size) override
  {
    target.write(data, size);
    if (!target)
      return 0;
    written += size;
    const auto due = start + std::chrono::duration_cast<Clock::duration>(
                                 std::chrono::duration<double>(static_cast<double>(written) / rate));
    std::this_thread::sleep_until(due);
    return size;
  }
  int_type overflow(int_type c) override
  {
    if (traits_type::eq_int_type(c, traits_type::eof()))
      return traits_type::not_eof(c);
    const char byte = traits_type::to_char_type(c);
    return xsputn(&byte, 1) == 1 ? c : traits_type::eof();
  }
  pos_type seekoff(off_type, std::ios_base::seekdir, std::ios_base::openmode) override
  {
    return target.tellp();
  }

private:
  std::ostream& target;
  const double rate;
  const Clock::time_point start = Clock::now();
  long long written = 0;
};

class Download : public Tesk::IResponse
{
public:
  void OnData(qint64 bytes) override
  {
    total += bytes;
    request->GetDownloadedbytes(total);
  }
  void OnResult(Result value) override
  {
    result = value;
    done = true;
    QCoreApplication::quit();
  }

  Tesk::IRequest* request = nullptr;
  qint64 total = 0;
  Result result = Result::ServerError;
  bool done = false;
};

// Counts the attempts: every one goes through Send.
class CountingRequest : public Tesk::AsyncRequest
{
public:
  using AsyncRequest::AsyncRequest;
  void Send() override
  {
    if (!reply)
      ++attempts;
    AsyncRequest::Send();
  }
  int attempts = 0;
};

int Md5Speed()
{
  std::vector<char> buffer(64 << 20);
  for (std::size_t i = 0; i < buffer.size(); ++i)
    buffer[i] = static_cast<char>(i * 2654435761u >> 13);
  // The extractor hashes slices of its ring: so does this.
  constexpr std::size_t Slice = 256 * 1024;
  Md5 md5;
  const int rounds = 16; // 1 GiB
  const auto begin = Clock::now();
  for (int i = 0; i < rounds; ++i)
    for (std::size_t at = 0; at < buffer.size(); at += Slice)
      md5.Add(buffer.data() + at, Slice);
  const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
  const Md5::Digest digest = md5.Result();
  std::printf("md5_only_mb_s: %.1f\n", rounds * static_cast<double>(buffer.size()) / seconds / 1e6);
  return digest[0] == 0x12 && digest[1] == 0x34 ? 2 : 0; // keeps the hashing from being optimised away
}

} // namespace

int main(int argc, char** argv)
{
  if (argc >= 2 && std::strcmp(argv[1], "--md5-speed") == 0)
    return Md5Speed();
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s URL FOLDER [--sink-mbps N] [--timeout-ms N]\n       %s --md5-speed\n",
                 argv[0], argv[0]);
    return 2;
  }
  double sinkMbps = 0;
  int timeoutMs = 10000;
  for (int i = 3; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--sink-mbps") == 0)
      sinkMbps = std::stod(argv[i + 1]);
    else if (std::strcmp(argv[i], "--timeout-ms") == 0)
      timeoutMs = std::stoi(argv[i + 1]);
  }

  QCoreApplication app(argc, argv);
  QStandardPaths::setTestModeEnabled(true); // no config.json of the user's: the default retry window

  Tesk::Tar::Stream tar{boost::filesystem::path(argv[2])};
  tar.exceptions(std::ios::badbit | std::ios::failbit);
  ThrottledBuffer throttled(tar, sinkMbps * 1e6);
  std::ostream slow(&throttled);
  slow.exceptions(std::ios::badbit | std::ios::failbit);
  std::ostream& sink = sinkMbps > 0 ? slow : static_cast<std::ostream&>(tar);

  QNetworkAccessManager manager;
  Download download;
  const auto begin = Clock::now();
  double seconds = 0;
  std::string md5;
  int attempts = 0;
  {
    CountingRequest request(manager, QString::fromLocal8Bit(argv[1]),
                            {{QStringLiteral("Accept"), QStringLiteral("application/x-tar")}}, {}, download,
                            sink);
    download.request = &request;
    request.SetTimeout(std::chrono::milliseconds(timeoutMs));
    request.ReadRetryDurationFromConfig();
    request.Send();
    if (!download.done)
      app.exec();
    md5 = tar.md5();
    seconds = std::chrono::duration<double>(Clock::now() - begin).count();
    attempts = request.attempts;
  }

  std::ostringstream resultText;
  resultText << download.result;
  std::printf("result: %s\n", resultText.str().c_str());
  std::printf("bytes: %lld\n", static_cast<long long>(download.total));
  std::printf("seconds: %.3f\n", seconds);
  std::printf("throughput_mb_s: %.1f\n", static_cast<double>(download.total) / seconds / 1e6);
  std::printf("md5: %s\n", md5.c_str());
  std::printf("attempts: %d\n", attempts);
  std::printf("peak_rss_mib: %.1f\n", static_cast<double>(PeakRssKib()) / 1024.0);
  if (!tar.Error().empty())
    std::printf("error: %s\n", tar.Error().c_str());
  return download.result == Tesk::IResponse::Ok && tar.Finished() ? 0 : 1;
}
