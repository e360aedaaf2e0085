#include "Models/DownloadInfo.h"

#include "Models/XmlDocument.h"

#include <cctype>

namespace Tesk {

DownloadInfo DownloadInfo::Parse(const std::string& xml)
{
  const XmlDocument document(xml, "download information", "tns:downloadInfo");
  const auto& root = document.Root();
  DownloadInfo info;
  info.url = document.Text(root, "tns:url");
  info.checksum = document.Text(root, "tns:checksum");
  // The stream's MD5 is written in lower case; keep the expected one the same
  // way so that comparing the two texts compares the digests.
  if (info.checksum.size() != 32)
    document.Fail("<tns:checksum> is not an MD5: " + info.checksum.substr(0, 64));
  for (char& c : info.checksum) {
    if (!std::isxdigit(static_cast<unsigned char>(c)))
      document.Fail("<tns:checksum> is not an MD5: " + info.checksum);
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  info.size = document.Size(root, "tns:size");
  return info;
}

} // namespace Tesk
