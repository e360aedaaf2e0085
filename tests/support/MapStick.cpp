#include "MapStick.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <stdexcept>

namespace TestSupport {

MapStick::MapStick()
{
  if (!dir.isValid() || !QDir(dir.path()).mkpath("OrvaneNDSUpdate/meta_data"))
    throw std::runtime_error("cannot make the stick folder");
}

std::string MapStick::Path() const
{
  return dir.path().toStdString();
}

void MapStick::Write(const std::string& relative, const std::string& content)
{
  const QString path = dir.path() + "/" + QString::fromStdString(relative);
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
      file.write(content.data(), static_cast<qint64>(content.size())) != static_cast<qint64>(content.size()))
    throw std::runtime_error("cannot write " + path.toStdString());
}

void MapStick::WriteHeadUnit(const std::string& subscriptionEnd, std::int64_t available, std::int64_t used)
{
  Write("OrvaneNDSUpdate/meta_data/GENERAL.JSON",
        "{\"subscription_end_date\": \"" + subscriptionEnd + "\", \"available_map_space\": " +
            std::to_string(available) + ", \"used_map_space\": " + std::to_string(used) + "}");
}

void MapStick::WriteMetadata(const ServedMap& map)
{
  Write("OrvaneNDSUpdate/meta_data/" + map.id + ".xml", MapService::MetadataXml(map).toStdString());
}

void MapStick::Remove()
{
  dir.remove();
}

} // namespace TestSupport
