#include "SingleInstance.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QThread>

#include <algorithm>

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

} // namespace

SingleInstance::SingleInstance(const QString& folder, QObject* parent)
    : QObject(parent), folder(folder), lock(LockPath(folder))
{
  connect(&server, &QLocalServer::newConnection, this, &SingleInstance::Accept);
}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::LockPath(const QString& folder)
{
  return folder + QStringLiteral("/lumora.lock");
}

QString SingleInstance::ServerName(const QString& folder)
{
  // The name holds a digest of the data folder (as the file system resolves
  // it, so that two spellings of one folder meet).
  const QFileInfo info(folder);
  const QString path = info.exists() ? info.canonicalFilePath() : info.absoluteFilePath();
  const QString digest =
      QString::fromLatin1(QCryptographicHash::hash(path.toUtf8(), QCryptographicHash::Sha1).toHex().left(16));
  // The socket lies in the user's runtime folder, which no other user can
  // reach. Without one (or where the path would be too long for a socket
  // address) it lies in the temporary folder, which all users share, with
  // the user's id in its name.
  const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
  if (!runtime.isEmpty() && QFileInfo(runtime).isDir()) {
    const QString socket = QDir(runtime).absoluteFilePath(QStringLiteral("lumora-%1.socket").arg(digest));
    if (QFile::encodeName(socket).size() < MaxSocketPath)
      return socket;
  }
  return QStringLiteral("Lumora-%1-%2").arg(::getuid()).arg(digest);
}

SingleInstance::Role SingleInstance::Claim(std::chrono::milliseconds patience)
{
  if (folder.isEmpty()) {
    errors.push_back("Failed to lock the data folder: there is none; another copy may run beside this one");
    return Role::Run;
  }
  QDir().mkpath(folder);

  const QDeadlineTimer deadline(patience.count());
  for (;;) {
    // A lock left by a process that is gone is taken over here.
    if (lock.tryLock(0)) {
      Listen();
      return Role::Run;
    }
    if (lock.error() != QLockFile::LockFailedError) {
      const char* reason =
          lock.error() == QLockFile::PermissionError ? "permission denied" : "it cannot be made";
      errors.push_back("Failed to lock " + LockPath(folder).toStdString() + ": " + reason +
                       "; another copy may run beside this one");
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

void SingleInstance::Listen()
{
  const QString name = ServerName(folder);
  // A copy that was killed left its socket behind; with the lock held, no
  // living copy can be using it.
  QLocalServer::removeServer(name);
  server.setSocketOptions(QLocalServer::UserAccessOption);
  if (!server.listen(name)) {
    errors.push_back("Failed to listen for later starts on " + name.toStdString() + ": " +
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
