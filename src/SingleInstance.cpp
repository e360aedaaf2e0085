#include "SingleInstance.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QThread>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// What a later start sends to the running copy.
const QByteArray Request = "activate\n";

// Room for a socket's path in its address (sun_path holds 108 bytes with the
// final zero on Linux), with a margin.
const int MaxSocketPath = 100;

// The pause between two tries while the running copy cannot be reached.
const qint64 RetryMs = 100;

// The time left for one step of the exchange with the running copy; a step
// that began just before the deadline still gets a moment.
int StepTimeout(const QDeadlineTimer& deadline)
{
  return static_cast<int>(std::max(deadline.remainingTime(), RetryMs));
}

// A short digest of the data folder (as the file system resolves it, so that
// two spellings of one folder meet) for the names of the socket and the lock.
QString Digest(const QString& folder)
{
  const QFileInfo info(folder);
  const QString path = info.exists() ? info.canonicalFilePath() : info.absoluteFilePath();
  return QString::fromLatin1(
      QCryptographicHash::hash(path.toUtf8(), QCryptographicHash::Sha1).toHex().left(16));
}

// The user's runtime folder, or nothing.
QString RuntimeFolder()
{
  const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
  return !runtime.isEmpty() && QFileInfo(runtime).isDir() ? QDir(runtime).absolutePath() : QString();
}

std::string SystemError(int error)
{
  return std::strerror(error);
}

// Whether `path` names the very file that `file` has open.
bool StillAt(const Descriptor& file, const QByteArray& path)
{
  struct stat held, current;
  return file.Status(held) && ::stat(path.constData(), &current) == 0 && current.st_dev == held.st_dev &&
         current.st_ino == held.st_ino;
}

} // namespace

SingleInstance::SingleInstance(const QString& folder, QObject* parent) : QObject(parent), folder(folder)
{
  connect(&server, &QLocalServer::newConnection, this, &SingleInstance::Accept);
}

SingleInstance::~SingleInstance()
{
  server.close();
  Unlock();
}

QStringList SingleInstance::LockPaths(const QString& folder)
{
  const QString digest = Digest(folder);
  const QString runtime = RuntimeFolder();
  return {runtime.isEmpty() ? folder + QStringLiteral("/lumora.lock")
                            : runtime + QStringLiteral("/lumora-%1.lock").arg(digest),
          QDir(QDir::tempPath())
              .absoluteFilePath(QStringLiteral("lumora-%1-%2.lock").arg(::getuid()).arg(digest))};
}

QString SingleInstance::ServerName(const QString& folder)
{
  const QString digest = Digest(folder);
  // The socket lies in the user's runtime folder, which no other user can
  // reach. Without one (or where the path would be too long for a socket
  // address) it lies in the temporary folder, which all users share, with
  // the user's id in its name.
  const QString runtime = RuntimeFolder();
  if (!runtime.isEmpty()) {
    const QString socket = runtime + QStringLiteral("/lumora-%1.socket").arg(digest);
    if (QFile::encodeName(socket).size() < MaxSocketPath)
      return socket;
  }
  return QStringLiteral("Lumora-%1-%2").arg(::getuid()).arg(digest);
}

SingleInstance::Role SingleInstance::Claim(std::chrono::milliseconds patience)
{
  if (folder.isEmpty()) {
    Note("Failed to lock the data folder: there is none; another copy may run beside this one");
    return Role::Run;
  }
  // Made first, so that every copy names it as the file system resolves it.
  QDir().mkpath(folder);
  const QStringList places = LockPaths(folder);

  const QDeadlineTimer deadline(patience.count());
  for (;;) {
    Lock state = Lock::Failed;
    for (const QString& place : places) {
      state = TryLock(place);
      if (state != Lock::Failed)
        break;
    }
    if (state != Lock::Busy) {
      // A copy may run without the lock (none could be held when it
      // started, or its file was removed since): it is found on the socket,
      // which a dead copy leaves refusing, and never replaced.
      if (AskRunningCopy(deadline)) {
        Unlock();
        return Role::Handed;
      }
      if (state == Lock::Failed)
        Note("No lock could be held; a copy started at the same moment may run beside this one");
      Listen();
      return Role::Run;
    }
    if (AskRunningCopy(deadline))
      return Role::Handed;
    if (deadline.hasExpired())
      return Role::Unanswered;
    // The copy that holds the lock is starting (it listens right after it
    // took the lock) or quitting (it stops listening first, and the lock is
    // free once it has ended).
    QThread::msleep(static_cast<unsigned long>(std::min(RetryMs, deadline.remainingTime())));
  }
}

SingleInstance::Lock SingleInstance::TryLock(const QString& path)
{
  const QByteArray name = QFile::encodeName(path);
  for (;;) {
    Descriptor file(::open(name.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    struct stat opened;
    if (!file.Valid() || !file.Status(opened)) {
      Note("Failed to lock " + path.toStdString() + ": " + SystemError(errno));
      return Lock::Failed;
    }
    // In the shared temporary folder a file of another user's could stand
    // in the name: a lock on it would be that user's to hold.
    if (!S_ISREG(opened.st_mode) || opened.st_uid != ::geteuid()) {
      Note("Failed to lock " + path.toStdString() + ": it is not a file of this user's");
      return Lock::Failed;
    }
    if (::flock(file.Get(), LOCK_EX | LOCK_NB) != 0) {
      if (errno == EWOULDBLOCK)
        return Lock::Busy;
      // ENOLCK, for one, where the file system cannot lock (NFS without its
      // lock service).
      Note("Failed to lock " + path.toStdString() + ": " + SystemError(errno));
      return Lock::Failed;
    }
    // The copy that held it removes the file before it lets go: a lock taken
    // on the file it removed is no lock. The file now at the path is tried.
    if (StillAt(file, name)) {
      lock = std::move(file);
      lockPath = path;
      return Lock::Held;
    }
  }
}

void SingleInstance::Unlock()
{
  if (!lock.Valid())
    return;
  // Removed while still held, so that no later start locks this file after
  // it is let go of (see TryLock); but only while it is this copy's file (one
  // removed meanwhile may have been made anew by a later copy).
  const QByteArray name = QFile::encodeName(lockPath);
  if (StillAt(lock, name))
    ::unlink(name.constData());
  lock.Reset();
  lockPath.clear();
}

void SingleInstance::Note(const std::string& error)
{
  if (std::find(errors.begin(), errors.end(), error) == errors.end())
    errors.push_back(error);
}

void SingleInstance::Listen()
{
  const QString name = ServerName(folder);
  // A copy that was killed left its socket behind: no living copy answered on
  // it. (Two copies that both ran without a common lock, started at the same
  // moment, can still both get here; the later one's socket replaces the
  // other's.)
  QLocalServer::removeServer(name);
  server.setSocketOptions(QLocalServer::UserAccessOption);
  if (!server.listen(name)) {
    Note("Failed to listen for later starts on " + name.toStdString() + ": " +
         server.errorString().toStdString() + "; they cannot bring this copy to the front");
    return;
  }
  // A start while this copy quits finds nobody listening and waits for the
  // lock, instead of asking a copy that is going away.
  if (QCoreApplication* app = QCoreApplication::instance())
    connect(app, &QCoreApplication::aboutToQuit, &server, &QLocalServer::close);
}

void SingleInstance::Accept()
{
  while (QLocalSocket* socket = server.nextPendingConnection()) {
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
      if (socket->bytesAvailable() < Request.size())
        return;
      const bool asked = socket->read(Request.size()) == Request;
      socket->disconnectFromServer();
      if (asked)
        emit ActivationRequested();
    });
  }
}

bool SingleInstance::AskRunningCopy(const QDeadlineTimer& deadline)
{
  QLocalSocket socket;
  socket.connectToServer(ServerName(folder));
  // A running copy accepts as soon as it listens (the system holds the
  // connection until its event loop reads it).
  if (!socket.waitForConnected(StepTimeout(deadline)))
    return false;
  socket.write(Request);
  if (!socket.waitForBytesWritten(StepTimeout(deadline)))
    return false;
  socket.disconnectFromServer();
  return true;
}
