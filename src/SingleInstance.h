#pragma once

#include <QDeadlineTimer>
#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>

#include <chrono>
#include <string>
#include <vector>

// Keeps one copy of the application running per user and data folder. The
// copy that runs holds a lock file in the data folder for as long as this
// object lives (main keeps it to the end) and listens on a local socket; a
// later start finds the lock held, asks the running copy through the socket
// to come to the front and ends, before it reads or writes anything else.
//
// A copy that died leaves its lock file and its socket behind. QLockFile
// takes the lock file over when the process it names no longer runs (or the
// file is old), and only when no living process holds the file lock that the
// holder keeps on it for its whole life; so a copy that runs is never robbed
// of its lock. The socket left behind is replaced only by the copy that holds
// the lock.
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

  // `folder` is the data folder; it holds the lock file.
  explicit SingleInstance(const QString& folder, QObject* parent = nullptr);
  ~SingleInstance() override;

  // Takes the lock and listens, or asks the copy that holds the lock to come
  // to the front. A copy that holds the lock but cannot be reached yet (it is
  // starting or quitting) is asked again, and the lock tried again, until
  // `patience` has passed.
  Role Claim(std::chrono::milliseconds patience);

  // What went wrong with the lock or the socket, for the log once it is open.
  const std::vector<std::string>& Errors() const { return errors; }

  // The lock file and the local socket's name for the data folder `folder`:
  // a path in the user's runtime folder (XDG_RUNTIME_DIR), else a name in the
  // temporary folder.
  static QString LockPath(const QString& folder);
  static QString ServerName(const QString& folder);

signals:
  // A later start asked this copy to come to the front.
  void ActivationRequested();

private:
  void Listen();
  void Accept();
  bool AskRunningCopy(const QDeadlineTimer& deadline);

  const QString folder;
  QLockFile lock;
  // Closed before the lock is released.
  QLocalServer server;
  std::vector<std::string> errors;
};
