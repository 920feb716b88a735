// The three link components the controller owns: a serial port, a TCP client
// socket and a TCP server socket. Backends raise the events through the
// std::function members; the controller binds its handlers to them.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class ISerialPort {
 public:
  virtual ~ISerialPort() = default;
  virtual void SetPortName(const std::string& name) = 0;
  virtual std::string PortName() const = 0;
  // Takes effect at once on an open port.
  virtual void SetBaudRate(int bps) = 0;
  virtual int BaudRate() const = 0;
  virtual void SetParity(int code) = 0;  // 0 none, 1 odd, 2 even, 3 mark, 4 space
  virtual int Parity() const = 0;
  virtual void SetFlowControl(int code) = 0;  // 1 hardware, 2 software, else none
  virtual int FlowControl() const = 0;
  virtual bool Open() = 0;
  virtual void Close() = 0;
  virtual bool IsOpen() const = 0;
  // Returns the number of bytes written, 0 when the port is closed.
  virtual int Write(const uint8_t* data, int count) = 0;
  virtual int BytesWaiting() const = 0;
  virtual int Read(uint8_t* data, int count) = 0;

  std::function<void(int waiting)> OnRxChar;
  std::function<void(const std::string& errors)> OnError;
};

// One TCP connection: the client socket's own, or one accepted by the server.
class ISocketConnection {
 public:
  virtual ~ISocketConnection() = default;
  virtual int PendingBytes() const = 0;
  virtual int Receive(uint8_t* data, int count) = 0;
  // Non-blocking send; false when the socket reports an error.
  virtual bool Send(const uint8_t* data, int count) = 0;
  virtual void Close() = 0;
};

class IClientSocket {
 public:
  virtual ~IClientSocket() = default;
  virtual void SetAddress(const std::string& dotted) = 0;
  virtual void SetPort(int port) = 0;
  // Start a non-blocking connect; attempts are paced by the backend.
  virtual void Activate() = 0;
  virtual void Deactivate() = 0;
  virtual bool Active() const = 0;
  virtual ISocketConnection& Connection() = 0;

  std::function<void()> OnConnect;
  std::function<void()> OnDisconnect;
  std::function<void()> OnRead;
  std::function<void(const std::string& error)> OnError;
};

class IServerSocket {
 public:
  virtual ~IServerSocket() = default;
  virtual void SetPort(int port) = 0;
  virtual void Activate() = 0;  // listen
  virtual void Deactivate() = 0;
  virtual bool Active() const = 0;
  virtual int ActiveConnections() const = 0;
  virtual ISocketConnection* Connection(int index) = 0;

  std::function<void()> OnListen;
  // Listening failed (port in use, no permission); the server stays inactive.
  std::function<void(const std::string& error)> OnListenError;
  std::function<void(ISocketConnection&)> OnClientConnect;
  std::function<void(ISocketConnection&)> OnClientDisconnect;
  std::function<void(ISocketConnection&)> OnClientRead;
  std::function<void(ISocketConnection&, const std::string& error)> OnClientError;
};

class ILinkFactory {
 public:
  virtual ~ILinkFactory() = default;
  virtual std::unique_ptr<ISerialPort> CreateSerialPort() = 0;
  virtual std::unique_ptr<IClientSocket> CreateClientSocket() = 0;
  virtual std::unique_ptr<IServerSocket> CreateServerSocket() = 0;
};
