#include "link/qt/QtLinkFactory.h"

#include "link/qt/QtClientSocket.h"
#include "link/qt/QtSerialPort.h"
#include "link/qt/QtServerSocket.h"

std::unique_ptr<ISerialPort> TQtLinkFactory::CreateSerialPort() {
  return std::make_unique<TQtSerialPort>();
}

std::unique_ptr<IClientSocket> TQtLinkFactory::CreateClientSocket() {
  return std::make_unique<TQtClientSocket>();
}

std::unique_ptr<IServerSocket> TQtLinkFactory::CreateServerSocket() {
  return std::make_unique<TQtServerSocket>();
}
