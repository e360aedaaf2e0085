#include "RoadFiles.h"

#include "Archives.h"
#include "MapStick.h"

namespace TestSupport {

QByteArray MakeMapArchive(ServedMap& map, int dataBytes)
{
  const auto archive = MakeArchive(map.id, dataBytes, MapService::MetadataXml(map));
  map.checksum = archive->md5;
  map.size = archive->bytes.size();
  return archive->bytes;
}

void WriteVehicleFiles(const QString& root, const ServedMap& installed, const std::string& subscriptionEnd)
{
  MapStick(root.toStdString()).WriteVehicleFiles(installed, subscriptionEnd);
}

} // namespace TestSupport
