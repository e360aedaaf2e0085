#pragma once

// Files and the environment of a test: whole-file writes and reads, trees
// listed with their contents, a variable set for a while, and writes cut
// short by a file-size limit.

#include <QByteArray>
#include <QString>

#include <functional>
#include <map>
#include <string>

#include <sys/resource.h>

namespace TestSupport {

// Writes `content` to `path` in one step (a file beside it renamed into its
// place), making its folders; false when it could not.
bool WriteFile(const QString& path, const QByteArray& content);
QByteArray ReadFile(const QString& path);
QByteArray Md5Hex(const QByteArray& data);

// Every entry below `root`: relative path -> "dir", "file:<md5>", "symlink"
// or "other".
std::map<std::string, std::string> Listing(const QString& root);

// What this process holds open at or below `folder` (as /proc/self/fd
// tells), the paths joined by ", "; empty when nothing.
std::string OpenBelow(const QString& folder);

// Sets an environment variable (or unsets it, for a null value) while it lives.
class ScopedEnv
{
public:
  ScopedEnv(const char* name, const QString& value);
  ~ScopedEnv() { had ? qputenv(name, old) : qunsetenv(name); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
  const char* name;
  bool had;
  QByteArray old;
};

// For a death test (EXPECT_EXIT): runs `body` with files limited to `bytes`,
// so that every longer write comes up short, its log going to standard error
// once the limit is lifted. Exits with 0.
[[noreturn]] void RunUnderFileSizeLimit(rlim_t bytes, const std::function<void()>& body);

} // namespace TestSupport
