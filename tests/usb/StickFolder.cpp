#include "StickFolder.h"

#include <QCryptographicHash>

#include <boost/filesystem/operations.hpp>

#include <fstream>
#include <stdexcept>

StickFolder::StickFolder(std::string mountPath, std::string updateDir, std::string checksumName)
    : mount_(std::move(mountPath)), updateDir_(std::move(updateDir)), checksumName_(std::move(checksumName))
{
}

void StickFolder::Add(const std::string& path, const std::string& content)
{
  AddUnlisted(path, content);
  lines_.push_back(Md5(content) + "  " + path);
}

void StickFolder::AddUnlisted(const std::string& path, const std::string& content)
{
  WriteFile(UpdateFolder() + "/" + path, content);
}

void StickFolder::AddLine(const std::string& line)
{
  lines_.push_back(line);
}

void StickFolder::WriteChecksums() const
{
  std::string text;
  for (const auto& line : lines_)
    text += line + "\n";
  WriteChecksumText(text);
}

void StickFolder::WriteChecksumText(const std::string& text) const
{
  WriteFile(ChecksumPath(), text);
}

std::string StickFolder::UpdateFolder() const
{
  return mount_ + "/" + updateDir_;
}

std::string StickFolder::ChecksumPath() const
{
  return UpdateFolder() + "/" + checksumName_;
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
