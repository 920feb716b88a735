// The server socket on QTcpServer: listens for the interface board when the
// PC is the TCP server; every accepted connection is kept in acceptance order.
#pragma once
#include <QObject>
#include <QTcpServer>
#include <string>
#include <vector>

#include "link/LinkPorts.h"
#include "link/qt/QtClientSocket.h"

class TQtServerSocket : public IServerSocket {
 public:
  TQtServerSocket();
  ~TQtServerSocket() override;

  void SetPort(int port) override { FPort = port; }
  // Listens on every address; an active server is restarted.
  void Activate() override;
  // Closes every connection (each raises OnClientDisconnect), stops listening.
  void Deactivate() override;
  bool Active() const override { return FServer.isListening(); }
  int ActiveConnections() const override { return static_cast<int>(FConns.size()); }
  ISocketConnection* Connection(int index) override;

  // The port actually listened on (port 0 picks a free one).
  int ListeningPort() const { return FServer.isListening() ? FServer.serverPort() : 0; }

 private:
  // Lives as a child of its socket, so it stays valid until the socket is
  // deleted later, after the disconnect event has run.
  class TConn : public QObject, public TQtSocketConnection {
   public:
    TConn(TQtServerSocket* server, QTcpSocket* socket)
        : QObject(socket), TQtSocketConnection(*socket, [server, this] {
            if (server->OnClientRead) server->OnClientRead(*this);
          }) {}
  };

  void Accept(QTcpSocket* socket);
  void Lost(TConn* conn);

  QTcpServer FServer;
  std::vector<TConn*> FConns;
  int FPort = 0;
  // Declared last so that its connections go first on destruction.
  QObject FContext;
};
