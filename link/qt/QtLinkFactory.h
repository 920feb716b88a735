// Link components on real serial ports (QSerialPort) and TCP sockets
// (QTcpSocket, QTcpServer).
#pragma once
#include "link/LinkPorts.h"

class TQtLinkFactory : public ILinkFactory {
 public:
  std::unique_ptr<ISerialPort> CreateSerialPort() override;
  std::unique_ptr<IClientSocket> CreateClientSocket() override;
  std::unique_ptr<IServerSocket> CreateServerSocket() override;
};
