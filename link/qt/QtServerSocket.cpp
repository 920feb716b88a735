#include "link/qt/QtServerSocket.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <QtGlobal>
#include <algorithm>

TQtServerSocket::TQtServerSocket() {
  QObject::connect(&FServer, &QTcpServer::newConnection, &FContext, [this] {
    while (QTcpSocket* socket = FServer.nextPendingConnection()) Accept(socket);
  });
}

TQtServerSocket::~TQtServerSocket() {
  OnListen = nullptr;
  OnListenError = nullptr;
  OnClientConnect = nullptr;
  OnClientDisconnect = nullptr;
  OnClientRead = nullptr;
  OnClientError = nullptr;
  Deactivate();
}

void TQtServerSocket::Activate() {
  if (FServer.isListening() || !FConns.empty()) Deactivate();
  std::string error;
  if (FPort < 0 || FPort > 65535)
    error = "invalid port " + std::to_string(FPort);
  else if (!FServer.listen(QHostAddress::Any, static_cast<quint16>(FPort)))
    error = "cannot listen on port " + std::to_string(FPort) + ": " +
            FServer.errorString().toStdString();
  if (!error.empty()) {
    if (OnListenError)
      OnListenError(error);
    else
      qWarning("%s", error.c_str());
    return;
  }
  if (OnListen) OnListen();
}

void TQtServerSocket::Deactivate() {
  FServer.close();
  while (!FConns.empty()) {
    TConn* conn = FConns.back();
    FConns.pop_back();
    QTcpSocket& socket = conn->Socket();
    QObject::disconnect(&socket, nullptr, conn, nullptr);
    socket.abort();
    if (OnClientDisconnect) OnClientDisconnect(*conn);
    socket.deleteLater();
  }
}

ISocketConnection* TQtServerSocket::Connection(int index) {
  if (index < 0 || index >= ActiveConnections()) return nullptr;
  return FConns[static_cast<size_t>(index)];
}

void TQtServerSocket::Accept(QTcpSocket* socket) {
  auto* conn = new TConn(this, socket);
  FConns.push_back(conn);
  QObject::connect(socket, &QTcpSocket::readyRead, conn, [conn] { conn->RaiseRead(); });
  QObject::connect(socket, &QTcpSocket::disconnected, conn, [this, conn] { Lost(conn); });
  QObject::connect(socket, &QTcpSocket::errorOccurred, conn,
                   [this, conn](QAbstractSocket::SocketError e) {
                     // The remote closing is a disconnect, not an error.
                     if (e == QAbstractSocket::RemoteHostClosedError) return;
                     if (OnClientError)
                       OnClientError(*conn, conn->Socket().errorString().toStdString());
                   });
  if (OnClientConnect) OnClientConnect(*conn);
  // Bytes buffered before the handlers were connected raise no readyRead again.
  if (socket->bytesAvailable() > 0) conn->RaiseRead();
}

void TQtServerSocket::Lost(TConn* conn) {
  auto it = std::find(FConns.begin(), FConns.end(), conn);
  if (it == FConns.end()) return;
  // What the board sent before closing still belongs to the reply.
  conn->DrainReads();
  it = std::find(FConns.begin(), FConns.end(), conn);  // a handler may have deactivated
  if (it == FConns.end()) return;
  FConns.erase(it);
  QTcpSocket& socket = conn->Socket();
  QObject::disconnect(&socket, nullptr, conn, nullptr);
  if (OnClientDisconnect) OnClientDisconnect(*conn);
  socket.deleteLater();  // takes conn with it, after this event
}
