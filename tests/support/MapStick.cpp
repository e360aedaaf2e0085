#include "MapStick.h"

#include "Files.h"

#include <QDir>

#include <stdexcept>

namespace TestSupport {

MapStick::MapStick(const std::string& mountPath)
    : mount(mountPath.empty() ? dir.path().toStdString() : mountPath)
{
  if (!dir.isValid() || !QDir().mkpath(QString::fromStdString(MetadataFolder())))
    throw std::runtime_error("cannot make the stick folder " + mount);
}

void MapStick::Write(const std::string& relative, const std::string& content) const
{
  if (!WriteFile(QString::fromStdString(Path() + "/" + relative), QByteArray::fromStdString(content)))
    throw std::runtime_error("cannot write " + relative);
}

void MapStick::Add(const std::string& path, const std::string& content)
{
  Write("OrvaneNDSUpdate/" + path, content);
  AddLine(Md5(content) + "  " + path);
}

void MapStick::WriteChecksums() const
{
  std::string text;
  for (const auto& line : lines)
    text += line + "\n";
  WriteChecksumText(text);
}

void MapStick::WriteHeadUnit(const std::string& subscriptionEnd, std::int64_t available,
                             std::int64_t used) const
{
  Write("OrvaneNDSUpdate/meta_data/GENERAL.JSON",
        "{\"subscription_end_date\": \"" + subscriptionEnd + "\", \"available_map_space\": " +
            std::to_string(available) + ", \"used_map_space\": " + std::to_string(used) + "}");
}

void MapStick::WriteMetadata(const ServedMap& map) const
{
  Write("OrvaneNDSUpdate/meta_data/" + map.id + ".xml", MapService::MetadataXml(map).toStdString());
}

void MapStick::WriteVehicleFiles(const ServedMap& installed, const std::string& subscriptionEnd)
{
  Add("meta_data/GENERAL.JSON",
      "{\"subscription_end_date\": \"" + subscriptionEnd +
          "\", \"available_map_space\": 8589934592, \"used_map_space\": 34359738368}");
  Add("meta_data/" + installed.id + ".xml", MapService::MetadataXml(installed).toStdString());
  Add("NAVDATA/PART1.NDS", std::string(70000, 'n'));
  WriteChecksums();
}

std::string MapStick::Md5(const std::string& content)
{
  return Md5Hex(QByteArray::fromStdString(content)).toStdString();
}

} // namespace TestSupport
