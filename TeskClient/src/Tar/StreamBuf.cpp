#include "Tar/StreamBuf.h"

#include "Log.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace Tesk::Tar {

namespace {

// Long names and pax records are held in memory; real ones are a few hundred
// bytes, so anything beyond this is a damaged or hostile archive.
constexpr std::int64_t MaxExtendedSize = 1024 * 1024;

constexpr std::int64_t BlockSize = static_cast<std::int64_t>(Header::BlockSize);

std::int64_t PaddingOf(std::int64_t size)
{
  return (BlockSize - size % BlockSize) % BlockSize;
}

} // namespace

StreamBuf::StreamBuf(const boost::filesystem::path& root, std::size_t ring)
    : root(root), hashing(ring, [this](const char* data, std::size_t size) { md5.Add(data, size); }),
      unpacking(ring, [this](const char* data, std::size_t size) { Unpack(data, size); })
{
  if (!IsOpen())
    openError = "Failed to open the target folder \"" + root.string() + "\"";
}

StreamBuf::~StreamBuf()
{
  Close();
}

std::string StreamBuf::FailureText()
{
  if (!openError.empty())
    return openError;
  return unpacking.Failed() ? unpacking.Error() : std::string();
}

std::string StreamBuf::Error()
{
  unpacking.Drain();
  return FailureText();
}

bool StreamBuf::Finished()
{
  unpacking.Drain();
  return !unpacking.Failed() && state == State::End;
}

bool StreamBuf::Refused()
{
  unpacking.Drain();
  return unpacking.Failed() && refused;
}

std::string StreamBuf::Md5()
{
  std::string text;
  hashing.Drained([&] { text = md5.Hex(); });
  return text;
}

void StreamBuf::Close()
{
  if (closed)
    return;
  closed = true;
  unpacking.Drain();
  file.Reset();
  if (!discarding && !unpacking.Failed() && openError.empty() && state != State::End && position.load() > 0)
    LOG(Warning) << "Tar stream closed before the end of the archive, after " << position.load() << " bytes";
}

void StreamBuf::Discard()
{
  discarding = true;
}

void StreamBuf::Suspend()
{
  unpacking.Drained([this] {
    if (suspended)
      return;
    suspended = true;
    reopenFile = file.Valid();
    // A file system may report a failed write only when the file is closed.
    const int fd = file.Release();
    if (fd >= 0 && ::close(fd) != 0 && errno != EINTR)
      closeError = errno;
    root.Close();
  });
}

int StreamBuf::SyncTarget()
{
  int error = 0;
  unpacking.Drained([this, &error] { error = root.Sync(); });
  return error;
}

void StreamBuf::Reopen()
{
  suspended = false;
  if (state == State::End || state == State::Failed)
    return;
  if (closeError != 0)
    throw RootFolder::WriteError("Failed to close file: \"" + entryName +
                                     "\": " + std::generic_category().message(closeError),
                                 closeError);
  root.Reopen();
  if (!reopenFile)
    return;
  Descriptor again = root.OpenExistingFile(fileComponents);
  struct stat status;
  if (!again.Status(status) || status.st_dev != fileDevice || status.st_size != fileWritten)
    throw RootFolder::WriteError(
        "Failed to open file again: \"" + entryName + "\": it is not the file written", ENOENT);
  if (::lseek(again.Get(), fileWritten, SEEK_SET) != fileWritten) {
    const int error = errno;
    throw RootFolder::WriteError(
        "Failed to open file again: \"" + entryName + "\": " + std::generic_category().message(error), error);
  }
  file = std::move(again);
  reopenFile = false;
}

std::streamsize StreamBuf::xsputn(const char* data, std::streamsize size)
{
  if (size < 0)
    return 0;
  if (discarding)
    return size;
  const std::string failure = FailureText();
  if (!failure.empty())
    throw std::runtime_error(failure);
  hashing.Append(data, static_cast<std::size_t>(size));
  unpacking.Append(data, static_cast<std::size_t>(size));
  position += size;
  return size;
}

StreamBuf::int_type StreamBuf::overflow(int_type c)
{
  if (traits_type::eq_int_type(c, traits_type::eof()))
    return traits_type::not_eof(c);
  const char byte = traits_type::to_char_type(c);
  xsputn(&byte, 1);
  return c;
}

int StreamBuf::sync()
{
  // Thrown rather than returned as -1, so that a stream with an exception
  // mask passes on the extractor's own text, as a write does.
  unpacking.Drain();
  const std::string failure = FailureText();
  if (!failure.empty())
    throw std::runtime_error(failure);
  return 0;
}

StreamBuf::pos_type StreamBuf::seekoff(off_type, std::ios_base::seekdir, std::ios_base::openmode)
{
  return pos_type(off_type(position.load()));
}

void StreamBuf::Unpack(const char* data, std::size_t size)
{
  if (suspended && !discarding) {
    try {
      Reopen();
    } catch (const std::exception& failure) {
      // What was there before the pause has changed: the target's fault.
      Fail(failure, false);
      throw;
    }
  }
  std::size_t done = 0;
  try {
    while (done < size && !discarding) {
      const std::size_t taken = Consume(data + done, size - done);
      done += taken;
      parsed += static_cast<std::int64_t>(taken);
    }
  } catch (const RootFolder::WriteError& failure) {
    // The target folder was emptied before: a file where the archive wants
    // a folder, or the other way round, was put there by the archive itself.
    Fail(failure, failure.code == ENOTDIR || failure.code == EISDIR);
    throw;
  } catch (const std::exception& failure) {
    Fail(failure, true);
    throw;
  }
}

void StreamBuf::Fail(const std::exception& failure, bool inArchive)
{
  state = State::Failed;
  refused = inArchive;
  file.Reset();
  LOG(Error) << "Tar stream failed: " << failure.what();
}

std::size_t StreamBuf::Consume(const char* data, std::size_t size)
{
  switch (state) {
  case State::Header: {
    if (blockFill == 0) {
      headerOffset = parsed;
      if (size >= Header::BlockSize) {
        ProcessHeader(data);
        return Header::BlockSize;
      }
    }
    const std::size_t taken = std::min(Header::BlockSize - blockFill, size);
    std::memcpy(block + blockFill, data, taken);
    blockFill += taken;
    if (blockFill == Header::BlockSize) {
      blockFill = 0;
      ProcessHeader(block);
    }
    return taken;
  }
  case State::FileData: {
    const std::size_t taken = static_cast<std::size_t>(std::min<std::int64_t>(remaining, size));
    WriteFileData(data, taken);
    remaining -= static_cast<std::int64_t>(taken);
    if (remaining == 0) {
      CloseFile();
      EndOfData();
    }
    return taken;
  }
  case State::Extended: {
    const std::size_t taken = static_cast<std::size_t>(std::min<std::int64_t>(remaining, size));
    extended.append(data, taken);
    remaining -= static_cast<std::int64_t>(taken);
    if (remaining == 0)
      FinishExtended();
    return taken;
  }
  case State::Skip: {
    const std::size_t taken = static_cast<std::size_t>(std::min<std::int64_t>(remaining, size));
    remaining -= static_cast<std::int64_t>(taken);
    if (remaining == 0)
      EndOfData();
    return taken;
  }
  case State::End:
    return size;
  case State::Failed:
    break;
  }
  throw std::runtime_error("The tar stream has failed");
}

void StreamBuf::EndOfData()
{
  if (padding > 0) {
    remaining = padding;
    padding = 0;
    state = State::Skip;
  } else {
    state = State::Header;
  }
}

void StreamBuf::ProcessHeader(const char* header)
{
  if (Header::IsZeroBlock(header)) {
    LOG(Debug) << "End of tar archive at offset " << headerOffset;
    state = State::End;
    return;
  }
  const Header parsedHeader = Header::Parse(header, headerOffset);
  switch (parsedHeader.type) {
  case Header::Type::LongName:
  case Header::Type::PaxLocal:
    if (parsedHeader.size > MaxExtendedSize)
      throw std::runtime_error(std::string("Refused ") + Header::TypeName(parsedHeader.type) + " of " +
                               std::to_string(parsedHeader.size) + " bytes at offset " +
                               std::to_string(headerOffset));
    extendedType = parsedHeader.type;
    extended.clear();
    remaining = parsedHeader.size;
    padding = PaddingOf(parsedHeader.size);
    state = State::Extended;
    if (remaining == 0)
      FinishExtended();
    return;
  case Header::Type::LongLink:
  case Header::Type::PaxGlobal:
  case Header::Type::VolumeLabel:
    remaining = parsedHeader.size;
    padding = PaddingOf(parsedHeader.size);
    state = State::Skip;
    if (remaining == 0)
      EndOfData();
    return;
  case Header::Type::File:
  case Header::Type::Directory:
    StartEntry(parsedHeader);
    return;
  case Header::Type::HardLink:
  case Header::Type::SymbolicLink:
  case Header::Type::CharDevice:
  case Header::Type::BlockDevice:
  case Header::Type::Fifo:
    throw std::runtime_error(std::string("Refused ") + Header::TypeName(parsedHeader.type) + ": \"" +
                             (hasPendingName ? pendingName : parsedHeader.name) + "\"");
  case Header::Type::Unsupported:
    break;
  }
  throw std::runtime_error(std::string("Refused unsupported entry type '") + parsedHeader.flag + "': \"" +
                           (hasPendingName ? pendingName : parsedHeader.name) + "\"");
}

void StreamBuf::StartEntry(const Header& header)
{
  const std::string name = hasPendingName ? pendingName : header.name;
  const std::int64_t size = pendingSize >= 0 ? pendingSize : header.size;
  hasPendingName = false;
  pendingName.clear();
  pendingSize = -1;

  // Old archivers mark a folder by a trailing slash on a file entry.
  const bool directory = header.type == Header::Type::Directory || (!name.empty() && name.back() == '/');
  const std::vector<std::string> components = RootFolder::SplitName(name);
  if (directory) {
    // No data follow a folder entry whatever its size says (archivers put
    // the folder's size on disk there): the next header comes right after
    // it, as GNU tar reads it.
    root.MakeDirectory(components);
    LOG(Debug) << "Created directory: " << name;
    state = State::Header;
    return;
  }
  file = root.CreateFile(components);
  entryName = name;
  struct stat status;
  if (!file.Status(status)) {
    const int error = errno;
    throw RootFolder::WriteError(
        "Failed to create file: \"" + name + "\": " + std::generic_category().message(error), error);
  }
  fileComponents = components;
  fileDevice = status.st_dev;
  fileWritten = 0;
  LOG(Debug) << "Extracting file: " << name << " (" << size << " bytes)";
  remaining = size;
  padding = PaddingOf(size);
  state = State::FileData;
  if (remaining == 0) {
    CloseFile();
    EndOfData();
  }
}

void StreamBuf::FinishExtended()
{
  if (extendedType == Header::Type::LongName) {
    pendingName = extended.substr(0, extended.find('\0'));
    hasPendingName = true;
  } else {
    const auto records = Header::ParsePax(extended);
    const auto path = records.find("path");
    if (path != records.end()) {
      if (path->second.find('\0') != std::string::npos)
        throw std::runtime_error("Malformed extended header");
      pendingName = path->second;
      hasPendingName = true;
    }
    const auto size = records.find("size");
    if (size != records.end())
      pendingSize = Header::ParseDecimal(size->second, "size");
  }
  extended.clear();
  EndOfData();
}

void StreamBuf::WriteFileData(const char* data, std::size_t size)
{
  while (size > 0) {
    const ssize_t written = ::write(file.Get(), data, size);
    if (written < 0 && errno == EINTR)
      continue;
    if (written <= 0) {
      const int error = written < 0 ? errno : ENOSPC;
      throw RootFolder::WriteError(
          "Failed to write file: \"" + entryName + "\": " + std::generic_category().message(error), error);
    }
    data += written;
    size -= static_cast<std::size_t>(written);
    fileWritten += written;
  }
}

void StreamBuf::CloseFile()
{
  // A file system may report a failed write only when the file is closed.
  const int fd = file.Release();
  if (fd >= 0 && ::close(fd) != 0 && errno != EINTR) {
    const int error = errno;
    throw RootFolder::WriteError(
        "Failed to close file: \"" + entryName + "\": " + std::generic_category().message(error), error);
  }
}

} // namespace Tesk::Tar
