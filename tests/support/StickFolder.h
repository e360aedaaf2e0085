#pragma once

#include <string>
#include <utility>
#include <vector>

// Writes a stick's update folder below a mount path: files with their MD5
// collected for the checksum file, which WriteChecksums writes as md5sum does.
class StickFolder
{
public:
  explicit StickFolder(std::string mountPath) : mount(std::move(mountPath)) {}

  // A file in the update folder (parents created), listed in the checksum file.
  void Add(const std::string& path, const std::string& content)
  {
    AddUnlisted(path, content);
    AddLine(Md5(content) + "  " + path);
  }
  // A file in the update folder that the checksum file does not list.
  void AddUnlisted(const std::string& path, const std::string& content)
  {
    WriteFile(UpdateFolder() + "/" + path, content);
  }
  // A line for the checksum file as it is.
  void AddLine(const std::string& line) { lines.push_back(line); }

  void WriteChecksums() const;
  void WriteChecksumText(const std::string& text) const { WriteFile(ChecksumPath(), text); }

  std::string UpdateFolder() const { return mount + "/OrvaneNDSUpdate"; }
  std::string ChecksumPath() const { return UpdateFolder() + "/CHECKSUMS.MD5"; }

  static std::string Md5(const std::string& content);
  static void WriteFile(const std::string& path, const std::string& content);

private:
  std::string mount;
  std::vector<std::string> lines;
};
