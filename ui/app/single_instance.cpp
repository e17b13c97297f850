#include "ui/app/single_instance.h"

#include <unistd.h>

#include <QDataStream>
#include <QDeadlineTimer>
#include <QDir>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>

#include "core/log.h"

namespace quorvane {

single_instance::single_instance(QString folder)
    : folder_(folder.isEmpty() ? QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation) : folder),
      base_name_(QStringLiteral("%1-%2").arg(QString::fromLatin1(single_instance_id)).arg(::getuid())) {
  if (folder_.isEmpty()) folder_ = QDir::tempPath();
  QDir().mkpath(folder_);
  server_.setSocketOptions(QLocalServer::UserAccessOption);
  connect(&server_, &QLocalServer::newConnection, this, [this] { receive(); });
}

single_instance::~single_instance() {
  server_.close();
  if (lock_) lock_->unlock();
}

QString single_instance::lock_path() const {
  return folder_ + QLatin1Char('/') + base_name_ + QStringLiteral(".lock");
}

QString single_instance::socket_path() const {
  return folder_ + QLatin1Char('/') + base_name_;
}

bool single_instance::become_primary(activation on_activation) {
  lock_ = std::make_unique<QLockFile>(lock_path());
  // A lock whose process is gone is stale at once; a live holder's lock is never taken, however old.
  lock_->setStaleLockTime(0);
  if (!lock_->tryLock(0)) {
    lock_.reset();
    return false;
  }
  // The lock decides; a socket file left by a crashed first instance is removed before listening.
  QLocalServer::removeServer(socket_path());
  if (!server_.listen(socket_path())) {
    QV_LOG(log_error, "Unable to listen on socket '%s': %s", socket_path().toUtf8().constData(),
           server_.errorString().toUtf8().constData());
    lock_->unlock();
    lock_.reset();
    return false;
  }
  on_activation_ = std::move(on_activation);
  return true;
}

void single_instance::receive() {
  while (QLocalSocket* peer = server_.nextPendingConnection()) {
    connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
    connect(peer, &QLocalSocket::readyRead, this, [this, peer] {
      QDataStream in(peer);
      in.startTransaction();
      QStringList arguments;
      in >> arguments;
      if (!in.commitTransaction()) return;  // the rest has not arrived yet
      peer->disconnectFromServer();
      if (on_activation_) on_activation_(arguments);
    });
  }
}

bool single_instance::send_to_primary(const QStringList& arguments, int timeout_ms) const {
  QDeadlineTimer deadline(timeout_ms);
  QLocalSocket socket;
  // The first instance may hold the lock and not listen yet.
  for (;;) {
    socket.connectToServer(socket_path());
    if (socket.waitForConnected(200)) break;
    if (deadline.hasExpired()) {
      QV_LOG(log_warning, "Unable to reach the running console on '%s': %s",
             socket_path().toUtf8().constData(), socket.errorString().toUtf8().constData());
      return false;
    }
    QThread::msleep(50);
  }
  QByteArray bytes;
  QDataStream out(&bytes, QIODevice::WriteOnly);
  out << arguments;
  socket.write(bytes);
  const bool written = socket.waitForBytesWritten(int(std::max<qint64>(deadline.remainingTime(), 200)));
  // Whatever is still buffered is written before the connection closes.
  socket.disconnectFromServer();
  return written;
}

}  // namespace quorvane
