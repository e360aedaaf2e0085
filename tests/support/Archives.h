#pragma once

// Archives for the tests: folder trees with known contents, archives made by
// GNU tar, map archives as the service serves them, hand-made headers for
// archives GNU tar would not write, and a guard that takes away root's right
// to write anywhere.

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <cstdint>
#include <map>
#include <memory>
#include <string>

namespace TestSupport {

// Deterministic bytes that differ from seed to seed.
QByteArray Pattern(std::size_t size, unsigned seed);

// A tree of folders and files with names and sizes that exercise the tar
// layouts: empty files, sizes around the block size, a name of exactly 100
// bytes, names longer than 100 and 255 bytes, empty and nested folders.
void MakeSampleTree(const QString& root);

// Archives the contents of `folder` (as "./...") in the given --format
// ("gnu", "pax", "ustar") and returns the archive's bytes (empty on failure).
QByteArray TarFolder(const QString& folder, const QString& format);

// A map archive made by GNU tar: the map's metadata document "<name>.meta.xml"
// at its top (or in a sub-folder "META"), `dataBytes` of map data in a few
// files below "data" (the largest "data/region.bin") and an empty folder.
struct MapArchive
{
  std::string name;                           // the archive's folder name
  QString file;                               // the .tar file
  QByteArray bytes;                           // its content
  std::string md5;                            // its MD5, lower-case hex
  std::map<std::string, std::string> listing; // the unpacked tree (see Listing)
  qint64 fileBytes = 0;                       // the sizes of the files in it, summed
  QByteArray metadata;                        // the metadata document

  // A file beside the archive holding `bytes` (for corrupt or cut variants).
  QString WriteVariant(const QString& fileName, const QByteArray& bytes) const;

  QTemporaryDir dir;
};
std::shared_ptr<MapArchive> MakeArchive(const std::string& name, qint64 dataBytes,
                                        const QByteArray& metadata = {}, bool metadataAtTop = true);

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
  // A header block; its checksum is computed (LastHeader() and FixChecksum()
  // tamper with it afterwards).
  TarBuilder& Add(const Entry& entry);
  // A header followed by its data, padded to the block size.
  TarBuilder& AddFile(const std::string& name, const QByteArray& data)
  {
    return Add({name, '0', data.size()}).AddData(data);
  }
  TarBuilder& AddDirectory(const std::string& name) { return Add({name, '5', 0}); }
  // A pax extended header ('x', or 'g' for a global one) holding the records.
  TarBuilder& AddPax(const std::map<std::string, std::string>& records, char type = 'x');
  // A GNU long name ('L').
  TarBuilder& AddLongName(const std::string& name)
  {
    return Add({"././@LongLink", 'L', static_cast<std::int64_t>(name.size()) + 1, {}, {}, true})
        .AddData(QByteArray(name.c_str(), static_cast<int>(name.size()) + 1));
  }
  // Data padded to the block size.
  TarBuilder& AddData(const QByteArray& data)
  {
    bytes.append(data).append(QByteArray((512 - data.size() % 512) % 512, '\0'));
    return *this;
  }
  TarBuilder& End() { return AddData(QByteArray(1024, '\0')); } // two zero blocks

  char* LastHeader() { return bytes.data() + lastHeader; }
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

} // namespace TestSupport
