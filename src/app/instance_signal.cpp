#include "app/instance_signal.h"

#include <unistd.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>

namespace autodeliver {

namespace {

constexpr char kShowRequest[] = "show\n";

}  // namespace

QString InstanceSocketPath(const QString& folder) {
  QString canonical = QFileInfo(folder).canonicalFilePath();
  if (canonical.isEmpty()) canonical = QDir::cleanPath(QDir(folder).absolutePath());
  const QByteArray digest = QCryptographicHash::hash(canonical.toUtf8(), QCryptographicHash::Sha256).toHex();
  QString base = qEnvironmentVariable("XDG_RUNTIME_DIR");
  if (base.isEmpty() || !QDir::isAbsolutePath(base)) base = QDir::tempPath();
  // The uid keeps users apart in a shared temporary folder; 16 hex digits
  // of the digest keep the path well within a socket address's length.
  return QStringLiteral("%1/autodeliver-%2-%3.sock")
      .arg(base)
      .arg(static_cast<qulonglong>(::getuid()))
      .arg(QString::fromLatin1(digest.left(16)));
}

InstanceServer::InstanceServer(QObject* parent) : QObject(parent), server_(new QLocalServer(this)) {
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  connect(server_, &QLocalServer::newConnection, this, [this] {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
      connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
      connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
        while (socket->canReadLine()) {
          if (socket->readLine() == kShowRequest) emit showRequested();
        }
      });
    }
  });
}

InstanceServer::~InstanceServer() = default;

bool InstanceServer::Listen(const QString& folder) {
  const QString path = InstanceSocketPath(folder);
  QLocalServer::removeServer(path);
  return server_->listen(path);
}

bool KnockAtHolder(const QString& folder, int timeoutMs) {
  QLocalSocket socket;
  socket.connectToServer(InstanceSocketPath(folder));
  if (!socket.waitForConnected(timeoutMs)) return false;
  socket.write(kShowRequest);
  const bool sent = socket.waitForBytesWritten(timeoutMs) || socket.bytesToWrite() == 0;
  socket.disconnectFromServer();
  if (socket.state() != QLocalSocket::UnconnectedState) socket.waitForDisconnected(timeoutMs);
  return sent;
}

}  // namespace autodeliver
