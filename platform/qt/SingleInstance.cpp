#include "platform/qt/SingleInstance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QLocalSocket>
#include <cerrno>
#include <cstdlib>
#include <string>

#include "platform/Paths.h"

namespace platform {

SingleInstance::SingleInstance(std::string mutexName, QObject* parent)
    : QObject(parent), name_(std::move(mutexName)) {}

SingleInstance::~SingleInstance() {
  if (server_) server_->close();
  if (fd_ >= 0) ::close(fd_);
}

namespace {
// The lock is per user. $XDG_RUNTIME_DIR is the user's own; without it the
// folder is the shared /tmp, where the name alone would let one user's
// instance (or a file it left) lock every other user out.
std::string BasePath(const std::string& name) {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && *runtime == '/') return RuntimeDir() + "/" + name;
  return RuntimeDir() + "/" + name + "-" + std::to_string(::getuid());
}
}  // namespace

std::string SingleInstance::LockPath() const { return BasePath(name_) + ".lock"; }
std::string SingleInstance::ServerPath() const { return BasePath(name_); }

SingleInstance::Outcome SingleInstance::Acquire() {
  if (fd_ >= 0) return Outcome::First;
  // O_NOFOLLOW: in a shared folder the name might be a link planted by
  // someone else; fail rather than create or lock what it points to.
  const int fd = ::open(LockPath().c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return Outcome::Failed;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int err = errno;
    ::close(fd);
    return err == EWOULDBLOCK ? Outcome::AlreadyRunning : Outcome::Failed;
  }
  fd_ = fd;
  return Outcome::First;
}

bool SingleInstance::StartServer() {
  if (fd_ < 0) return false;
  if (!server_) {
    server_ = std::make_unique<QLocalServer>();
    connect(server_.get(), &QLocalServer::newConnection, this, &SingleInstance::OnNewConnection);
  }
  if (server_->isListening()) return true;
  // Holding the lock, any socket of that name is a leftover of a process
  // that died; remove it so listen() succeeds.
  const QString path = QString::fromStdString(ServerPath());
  QLocalServer::removeServer(path);
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  return server_->listen(path);
}

bool SingleInstance::AskRunningToRaise(int timeoutMs) {
  QLocalSocket socket;
  socket.connectToServer(QString::fromStdString(ServerPath()));
  if (!socket.waitForConnected(timeoutMs)) return false;
  socket.write("raise\n");
  const bool written = socket.waitForBytesWritten(timeoutMs);
  // Wait for the running instance to hang up, so it has seen the request
  // before this process exits.
  if (written && socket.state() == QLocalSocket::ConnectedState) {
    socket.waitForDisconnected(timeoutMs);
  }
  return written;
}

void SingleInstance::OnNewConnection() {
  while (QLocalSocket* socket = server_->nextPendingConnection()) {
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    auto handle = [this, socket] {
      if (!socket->canReadLine()) return;
      const QByteArray line = socket->readLine().trimmed();
      if (line == "raise") emit raiseRequested();
      socket->disconnectFromServer();
    };
    connect(socket, &QLocalSocket::readyRead, this, handle);
    handle();
  }
}

}  // namespace platform
