#include "IResponse.h"

#include <istream>
#include <ostream>
#include <string>

namespace Tesk {

namespace {

const char* const kResultNames[] = {"Ok", "ContentError", "ServerError", "NoConnection", "IOError"};
constexpr int kResultCount = sizeof(kResultNames) / sizeof(kResultNames[0]);

} // namespace

void IResponse::OnProgress(qint64, qint64) {}

void IResponse::OnData(qint64) {}

std::ostream& operator<<(std::ostream& os, IResponse::Result result)
{
  const int value = static_cast<int>(result);
  if (value >= 0 && value < kResultCount)
    os << kResultNames[value];
  return os;
}

std::istream& operator>>(std::istream& is, IResponse::Result& result)
{
  std::string word;
  const auto state = is.rdstate();
  if (!(is >> word)) {
    // Leave the stream as it was when there was no word to read.
    is.clear(state);
    return is;
  }
  for (int value = 0; value < kResultCount; ++value) {
    if (word == kResultNames[value]) {
      result = static_cast<IResponse::Result>(value);
      return is;
    }
  }
  is.clear(state);
  return is;
}

} // namespace Tesk
