#pragma once

#include "util/Descriptor.h"

#include <QDeadlineTimer>
#include <QLocalServer>
#include <QObject>
#include <QString>
#include <QStringList>

#include <chrono>
#include <string>
#include <vector>

// Keeps one copy of the application running per user session (the user's
// runtime folder) and data folder. The
// copy that runs holds a lock for as long as this object lives (main keeps it
// to the end) and listens on a local socket; a later start finds the lock
// held, asks the running copy through the socket to come to the front and
// ends, before it reads or writes anything else.
//
// The lock is a lock on a file (flock), which the system lets go of when its
// holder ends however it ends: a copy that crashed or was killed never keeps
// the next one from starting. The file lies beside the socket in the user's
// runtime folder, which is local, the user's own and emptied at logout, so
// that the lock works whatever the data folder lies on (a home on NFS, a full
// or read-only disk); only without a runtime folder does it lie in the data
// folder. Where it cannot be held there, the temporary folder holds it.
//
// The socket is where copies meet: the copy that holds the lock still asks
// for a running copy before it listens, so a copy that runs without the lock
// (it could be held nowhere when that copy started, or its file was removed)
// is found, not replaced. The socket a dead copy left behind is replaced only
// by the copy that holds the lock.
class SingleInstance : public QObject
{
  Q_OBJECT

public:
  enum class Role
  {
    Run,       // this copy runs (Errors says when it runs without the lock or the socket)
    Handed,    // another copy runs and was asked to come to the front
    Unanswered // another copy holds the lock but did not answer in time
  };

  // `folder` is the data folder.
  explicit SingleInstance(const QString& folder, QObject* parent = nullptr);
  ~SingleInstance() override;

  // Takes the lock and listens, or asks the copy that holds the lock to come
  // to the front. A copy that holds the lock but cannot be reached yet (it is
  // starting or quitting) is asked again, and the lock tried again, until
  // `patience` has passed.
  Role Claim(std::chrono::milliseconds patience);

  // What went wrong with the lock or the socket, for the log once it is open.
  const std::vector<std::string>& Errors() const { return errors; }

  // The places the lock file is tried in, in order, for the data folder
  // `folder`: the user's runtime folder (XDG_RUNTIME_DIR), else the data
  // folder; then the temporary folder.
  static QStringList LockPaths(const QString& folder);
  // The local socket's name: a path in the user's runtime folder, else a
  // name in the temporary folder.
  static QString ServerName(const QString& folder);

signals:
  // A later start asked this copy to come to the front.
  void ActivationRequested();

private:
  enum class Lock
  {
    Held,
    Busy,  // another copy holds it
    Failed // it cannot be held at this place
  };

  Lock TryLock(const QString& path);
  void Unlock();
  void Listen();
  void Accept();
  bool AskRunningCopy(const QDeadlineTimer& deadline);
  void Note(const std::string& error);

  const QString folder;
  // The lock file while it is held, and its path.
  Descriptor lock;
  QString lockPath;
  // Closed before the lock is let go of.
  QLocalServer server;
  std::vector<std::string> errors;
};
