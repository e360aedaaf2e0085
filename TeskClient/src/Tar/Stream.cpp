#include "Tar/Stream.h"

#include "Log.h"

namespace Tesk::Tar {

Stream::Stream(const boost::filesystem::path& root) : std::ostream(nullptr), buffer(root)
{
  rdbuf(&buffer);
  if (buffer.IsOpen()) {
    LOG(Info) << "Opened tar stream for: " << root;
  } else {
    LOG(Error) << "Failed to open tar stream for: " << root;
    setstate(std::ios::badbit);
  }
}

Stream::~Stream()
{
  try {
    if (good())
      flush();
  } catch (...) {
    // A destructor does not throw; the state already tells.
  }
  buffer.Close();
}

void Stream::Discard()
{
  buffer.Discard();
}

void Stream::Suspend()
{
  buffer.Suspend();
}

int Stream::SyncTarget()
{
  return buffer.SyncTarget();
}

std::string Stream::md5()
{
  return buffer.Md5();
}

std::string Stream::Error()
{
  return buffer.Error();
}

bool Stream::Finished()
{
  return buffer.Finished();
}

bool Stream::Refused()
{
  return buffer.Refused();
}

} // namespace Tesk::Tar
