// Carry a device over TCP, one connection at a time: as the interface board's
// server (the PC connects to it) or as its client (it connects to the PC).
#pragma once
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <functional>
#include <string>

#include "sim/SimDevice.h"

// Shared by both: the one connection that carries the device.
class TSimTcpWire : public ISimWire {
 public:
  TSimTcpWire(TSimDevice& device, ISimScheduler& scheduler)
      : FDevice(device), FScheduler(scheduler) {}
  ~TSimTcpWire() override;

  void Emit(const uint8_t* data, size_t count) override;
  bool LinkUp() const { return FSocket != nullptr; }

  std::function<void(const std::string&)> OnEvent;

 protected:
  // Takes the socket (its parent becomes nobody's; it is deleted later).
  void Carry(QTcpSocket* socket);
  // Ends the connection: graceful lets replies already sent leave first.
  void Drop(bool graceful);
  // Called after the connection ended by itself or by Drop.
  virtual void Ended(bool byHangup) { (void)byHangup; }
  void Event(const std::string& text) {
    if (OnEvent) OnEvent(text);
  }

 private:
  void Lost();

  TSimDevice& FDevice;
  ISimScheduler& FScheduler;
  QTcpSocket* FSocket = nullptr;
};

class TSimTcpServerTransport : public TSimTcpWire {
 public:
  TSimTcpServerTransport(TSimDevice& device, ISimScheduler& scheduler);
  ~TSimTcpServerTransport() override;

  // Listens on every address; port 0 picks a free one. False with ErrorText().
  bool Listen(int port);
  int Port() const { return FServer.isListening() ? FServer.serverPort() : 0; }
  const std::string& ErrorText() const { return FError; }

  // Closes the connection; the next one the tool makes carries the device.
  void Hangup() override { Drop(true); }

 private:
  QTcpServer FServer;
  std::string FError;
  QObject FContext;
};

class TSimTcpClientTransport : public TSimTcpWire {
 public:
  // Between the starts of two connect attempts while the PC is not there.
  static constexpr int kRetryMs = 500;
  // Pause after the device hung up before it connects again.
  static constexpr int kHangupPauseMs = 1000;
  // An attempt nobody answers is given up after this.
  static constexpr int kConnectTimeoutMs = 5000;

  TSimTcpClientTransport(TSimDevice& device, ISimScheduler& scheduler);
  ~TSimTcpClientTransport() override;

  // Starts connecting to host:port, and keeps reconnecting until destroyed.
  void Start(const QString& host, int port);

  // Closes the connection and connects again after kHangupPauseMs.
  void Hangup() override { Drop(false); }

 private:
  void Attempt();
  void Retry(int pauseMs);
  void Ended(bool byHangup) override;

  QString FHost;
  int FPort = 0;
  QTcpSocket* FPending = nullptr;  // the attempt under way
  QTimer FRetryTimer;
  QTimer FConnectTimer;
  QElapsedTimer FLastAttempt;
  bool FStopping = false;
  QObject FContext;
};
