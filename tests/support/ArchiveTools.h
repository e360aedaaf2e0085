#pragma once

// Helpers of the tar and streaming tests: folder trees with known contents,
// archives made by GNU tar, hand-made headers for archives GNU tar would not
// write, and a guard that takes away root's right to write anywhere.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <map>
#include <string>
#include <utility>

namespace ArchiveTools {

// Deterministic bytes that differ from file to file.
QByteArray Pattern(std::size_t size, unsigned seed);

// Writes a file (creating its folders) and returns false on failure.
bool WriteFile(const QString& path, const QByteArray& data);
QByteArray ReadFile(const QString& path);

// A tree of folders and files with names and sizes that exercise the tar
// layouts: empty files, sizes around the block size, a name of exactly 100
// bytes, names longer than 100 and 255 bytes, empty and nested folders.
void MakeSampleTree(const QString& root);

// Archives the contents of folder (as "./...") in the given --format
// ("gnu", "pax", "ustar", "v7") and returns the archive's bytes.
QByteArray TarFolder(const QString& folder, const QString& format);

// Every entry below root: relative path -> "dir", or "file:" followed by the
// MD5 of the contents; symbolic links and other kinds are listed as such.
std::map<std::string, std::string> Listing(const QString& root);

QByteArray Md5Hex(const QByteArray& data);

// Builds archives header by header.
class TarBuilder
{
public:
  struct Entry
  {
    std::string name;
    char type = '0';
    std::int64_t size = 0;
    std::string linkName = {};
    std::string prefix = {};
    bool gnuMagic = false;
  };
  // A header block; the checksum is computed unless the caller corrupts the
  // block afterwards through Header().
  TarBuilder& Add(const Entry& entry);
  // A header followed by its data, padded to the block size.
  TarBuilder& AddFile(const std::string& name, const QByteArray& data);
  TarBuilder& AddDirectory(const std::string& name);
  // A pax extended header ('x') holding the given records.
  TarBuilder& AddPax(const std::map<std::string, std::string>& records, char type = 'x');
  // A GNU long name ('L').
  TarBuilder& AddLongName(const std::string& name);
  TarBuilder& AddData(const QByteArray& data); // data padded to the block size
  TarBuilder& End();                           // two zero blocks

  // The last header block added, for tampering; FixChecksum() recomputes.
  char* LastHeader();
  void FixChecksum();

  const QByteArray& Bytes() const { return bytes; }

private:
  QByteArray bytes;
  int lastHeader = -1;
};

// While alive, the calling thread and the threads it starts honour file
// permissions even when the process runs as root (it gives up the
// capabilities that override them). A no-op for other users.
class HonourPermissions
{
public:
  HonourPermissions();
  ~HonourPermissions();

private:
  bool changed = false;
};

} // namespace ArchiveTools
