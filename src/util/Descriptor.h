#pragma once

#include <string>
#include <sys/stat.h>
#include <sys/types.h>
#include <vector>

// An owned file descriptor, and the operations below a folder that it holds
// open. Each operation names one entry of that folder (never a path), never
// follows a symbolic link and never enters another file system, so that
// nothing outside the folder is reached whatever its content, and no depth or
// length of the tree below it gets in the way.
//
//     Descriptor folder = Descriptor::OpenFolderPath("/media/stick");
//     Descriptor sub = folder.OpenFolder("OrvaneNDSUpdate");    // not a link, same file system
//     Descriptor file = sub.OpenFile("CHECKSUMS.MD5", O_RDONLY); // a regular file or nothing
//
// A failed operation returns an invalid descriptor or false and leaves the
// reason in errno: ELOOP for a link where a file was asked for, ENOTDIR for
// a link or anything else that is not a folder where a folder was asked for,
// EXDEV for another file system, EINVAL for a file that is not a
// regular one, or what the system said.
class Descriptor
{
public:
  struct Entry
  {
    std::string name;
    struct stat status; // of the entry itself, a link not followed
  };

  // What a walk (Walk) does in each folder.
  class Visitor
  {
  public:
    virtual ~Visitor() = default;
    // The entries of the folder at `path` (relative to the walk's start, empty
    // for the start itself). `enter` receives the names of the sub-folders to
    // walk next. False ends the walk.
    virtual bool Visit(const Descriptor& folder, const std::string& path, const std::vector<Entry>& entries,
                       std::vector<std::string>& enter) = 0;
    // Everything below the sub-folder `name` of the folder at `path` has been
    // walked. False ends the walk.
    virtual bool Leave(const Descriptor& /*folder*/, const std::string& /*path*/, const std::string& /*name*/)
    {
      return true;
    }
    // The folder or entry at `path` could not be opened, listed or read
    // (`error` is an errno value). True goes on without it.
    virtual bool Failed(const std::string& path, int error) = 0;
  };

  Descriptor() = default;
  explicit Descriptor(int owned) : fd(owned) {}
  ~Descriptor();
  Descriptor(Descriptor&& other) noexcept;
  Descriptor& operator=(Descriptor&& other) noexcept;
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;

  int Get() const { return fd; }
  bool Valid() const { return fd >= 0; }
  void Reset();
  // Gives the descriptor up without closing it.
  int Release();

  // Opens the folder that `path` names, links on the way followed: the path
  // is the caller's own (a mount path), not taken from what is below it.
  static Descriptor OpenFolderPath(const std::string& path);

  bool Status(struct stat& status) const;
  bool StatusOf(const std::string& name, struct stat& status) const;
  // The sub-folder `name`.
  Descriptor OpenFolder(const std::string& name) const;
  // The sub-folder `name`, created first when it is missing.
  Descriptor MakeFolder(const std::string& name, mode_t mode = 0755) const;
  // The regular file `name`, opened with `flags` (O_WRONLY | O_CREAT | O_TRUNC,
  // for instance; a FIFO does not block the open).
  Descriptor OpenFile(const std::string& name, int flags, mode_t mode = 0644) const;
  // Removes the entry `name`: an empty folder, or anything else but a folder.
  bool Remove(const std::string& name, bool folder) const;
  // The names in this folder, "." and ".." left out, in the order the file
  // system gives them.
  bool List(std::vector<std::string>& names) const;

  // Walks the tree below this folder depth first: each folder is listed
  // whole before the visitor sees it, so the visitor may remove what it lists.
  // Folders reached through a link or on another file system are never
  // entered. Whatever the depth, only a few descriptors are held: the folders
  // far above the current one are closed and opened again through ".." on
  // the way back, checked to be the same folder. False when the walk ended
  // early (the visitor ended it, or a folder above was moved meanwhile).
  bool Walk(Visitor& visitor) const;

private:
  int fd = -1;
};
