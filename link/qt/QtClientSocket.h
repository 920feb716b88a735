// TCP links on QTcpSocket: the connection wrapper shared with the server
// socket, and the client socket that connects to the interface board.
#pragma once
#include <QElapsedTimer>
#include <QObject>
#include <QTcpSocket>
#include <QTimer>
#include <functional>
#include <string>

#include "link/LinkPorts.h"

// One connection on a QTcpSocket. The controller takes at most 256 bytes per
// read event and relies on the event coming again while bytes remain; Qt
// raises readyRead only for newly arrived data, so the read event is repeated
// here (queued) for as long as the handler keeps taking bytes.
class TQtSocketConnection : public ISocketConnection {
 public:
  TQtSocketConnection(QTcpSocket& socket, std::function<void()> onRead)
      : FSocket(socket), FOnRead(std::move(onRead)) {}

  int PendingBytes() const override;
  int Receive(uint8_t* data, int count) override;
  bool Send(const uint8_t* data, int count) override;
  void Close() override { FSocket.abort(); }

  QTcpSocket& Socket() { return FSocket; }
  // Raises the read event now and again while it takes bytes and some remain.
  void RaiseRead();
  // The remote closed: hands every byte still buffered to the read event.
  void DrainReads();

 private:
  QTcpSocket& FSocket;
  std::function<void()> FOnRead;
  bool FReadQueued = false;
};

class TQtClientSocket : public IClientSocket {
 public:
  // At least this long between the starts of two connect attempts: a refused
  // loopback connect fails at once and the controller re-activates from its
  // error handler.
  static constexpr int kConnectPaceMs = 500;
  // Qt has no connect time-out; an unanswered attempt is given up after this.
  static constexpr int kConnectTimeoutMs = 5000;

  TQtClientSocket();
  ~TQtClientSocket() override;

  void SetAddress(const std::string& dotted) override { FAddress = dotted; }
  void SetPort(int port) override { FPort = port; }
  void Activate() override;
  void Deactivate() override;
  bool Active() const override { return FActive; }
  ISocketConnection& Connection() override { return FConnection; }

  void SetConnectTimeoutMs(int ms) { FConnectTimeoutMs = ms; }

 private:
  void Attempt();
  void RaiseError(const std::string& text);

  QTcpSocket FSocket;
  TQtSocketConnection FConnection;
  QTimer FAttemptTimer;
  QTimer FConnectTimer;
  QElapsedTimer FLastAttempt;  // invalid until the first attempt
  std::string FAddress;
  int FPort = 0;
  int FConnectTimeoutMs = kConnectTimeoutMs;
  bool FActive = false;
  bool FConnected = false;
  // Declared last so that its connections go first on destruction.
  QObject FContext;
};

// A dotted IPv4 address of four decimal parts 0..255; no host-name lookup.
bool ParseDottedIPv4(const std::string& text, quint32* address);
