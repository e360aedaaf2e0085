#include "StickFolder.h"

#include <QCryptographicHash>

#include <boost/filesystem/operations.hpp>

#include <fstream>
#include <stdexcept>

void StickFolder::WriteChecksums() const
{
  std::string text;
  for (const auto& line : lines)
    text += line + "\n";
  WriteChecksumText(text);
}

std::string StickFolder::Md5(const std::string& content)
{
  return QCryptographicHash::hash(QByteArray::fromStdString(content), QCryptographicHash::Md5)
      .toHex()
      .toStdString();
}

void StickFolder::WriteFile(const std::string& path, const std::string& content)
{
  // Paths are bytes here (UTF-8 or not), as on the stick.
  boost::filesystem::create_directories(boost::filesystem::path(path).parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  if (!out.flush())
    throw std::runtime_error("Cannot write " + path);
}
