#include "app/single_instance.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>

#include "app/diagnostics.h"
#include "app/paths.h"
#include "app/platform.h"

namespace {

constexpr int kConnectLimitMs = 1000;
constexpr int kAnswerLimitMs = 5000;
constexpr qint64 kLongestMessage = 65536;

QString socket_path() {
  const std::string folder = state_folder(shell_platform::user_state_home());
  return folder.empty() ? QString() : QString::fromStdString(folder) + "instance";
}

}  // namespace

SingleInstance::SingleInstance(QObject* parent) : QObject(parent), path_(socket_path()) {}

bool SingleInstance::HandOver(const QString& url) {
  if (path_.isEmpty()) return false;
  QLocalSocket socket;
  socket.connectToServer(path_);
  if (!socket.waitForConnected(kConnectLimitMs)) return false;
  socket.write(QJsonDocument(QJsonObject{{"url", url}}).toJson(QJsonDocument::Compact) + "\n");
  if (!socket.waitForBytesWritten(kAnswerLimitMs)) return false;
  while (!socket.canReadLine() && socket.waitForReadyRead(kAnswerLimitMs)) {
  }
  return socket.readLine() == "ok\n";
}

bool SingleInstance::Listen() {
  const std::string home = shell_platform::user_state_home();
  if (path_.isEmpty() || !shell_platform::make_private_folder(home, "varnkit")) return false;
  // Nobody answered there: what is left is the socket of a varnkit that ended without removing it.
  QLocalServer::removeServer(path_);
  server_.setSocketOptions(QLocalServer::UserAccessOption);
  if (!server_.listen(path_)) {
    diagnostic("no single instance: " + server_.errorString());
    return false;
  }
  connect(&server_, &QLocalServer::newConnection, this, [this] {
    while (QLocalSocket* socket = server_.nextPendingConnection()) {
      connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
      connect(socket, &QLocalSocket::readyRead, socket, [this, socket] {
        if (!socket->canReadLine()) {
          if (socket->bytesAvailable() > kLongestMessage) socket->abort();
          return;
        }
        const QJsonDocument message = QJsonDocument::fromJson(socket->readLine(kLongestMessage));
        socket->write("ok\n");
        socket->disconnectFromServer();
        emit handedOver(message.object().value("url").toString());
      });
    }
  });
  return true;
}
