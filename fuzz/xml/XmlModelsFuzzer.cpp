// Every reply model must turn any input into a record or a Tesk::ContentError:
// any other exception, a crash or a sanitizer report is a finding.

#include "Models/ContentError.h"
#include "Models/DownloadInfo.h"
#include "Models/LocaleContentData.h"
#include "Models/LocaleData.h"
#include "Models/Metadata.h"
#include "Models/PackageList.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

template <typename Parse>
void Try(Parse parse)
{
  try {
    parse();
  } catch (const Tesk::ContentError&) {
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
  const std::string xml(reinterpret_cast<const char*>(data), size);
  Try([&] { Tesk::PackageList::Parse(xml); });
  Try([&] {
    const auto metadata = Tesk::ParseMetadata(xml);
    (void)Tesk::Header(metadata).id.size();
  });
  Try([&] { Tesk::DownloadInfo::Parse(xml); });
  Try([&] { Tesk::LocaleData::Parse(xml); });
  Try([&] { Tesk::LocaleContentData::Parse(xml); });
  return 0;
}
