#pragma once

#include <string>
#include <utility>
#include <vector>

// Writes a stick's update folder below a mount path: files with their MD5
// collected for the checksum file, which WriteChecksums writes as md5sum does.
class StickFolder
{
public:
  explicit StickFolder(std::string mountPath, std::string updateDir = "OrvaneNDSUpdate",
                       std::string checksumName = "CHECKSUMS.MD5");

  // A file in the update folder (parents created), listed in the checksum file.
  void Add(const std::string& path, const std::string& content);
  // A file in the update folder that the checksum file does not list.
  void AddUnlisted(const std::string& path, const std::string& content);
  // A line for the checksum file as it is.
  void AddLine(const std::string& line);

  void WriteChecksums() const;
  void WriteChecksumText(const std::string& text) const;

  std::string UpdateFolder() const;
  std::string Mount() const { return mount_; }
  std::string ChecksumPath() const;

  static std::string Md5(const std::string& content);
  static void WriteFile(const std::string& path, const std::string& content);

private:
  std::string mount_;
  std::string updateDir_;
  std::string checksumName_;
  std::vector<std::string> lines_;
};
