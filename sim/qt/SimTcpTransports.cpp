#include "sim/qt/SimTcpTransports.h"

#include <QHostAddress>
#include <algorithm>

// ---- the connection ------------------------------------------------------

TSimTcpWire::~TSimTcpWire() {
  if (FSocket) {
    QTcpSocket* s = FSocket;
    FSocket = nullptr;
    QObject::disconnect(s, nullptr, nullptr, nullptr);
    s->abort();
    delete s;
    FDevice.Detach();
    FDevice.LinkClosed();
  }
}

void TSimTcpWire::Carry(QTcpSocket* socket) {
  socket->setParent(nullptr);
  FSocket = socket;
  QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
    const QByteArray bytes = socket->readAll();
    if (FSocket == socket && !bytes.isEmpty())
      FDevice.Receive(reinterpret_cast<const uint8_t*>(bytes.constData()),
                      static_cast<size_t>(bytes.size()));
  });
  QObject::connect(socket, &QTcpSocket::disconnected, socket, [this, socket] {
    if (FSocket == socket) Lost();
  });
  // Errors end in a disconnect (or were the connect failing, handled elsewhere).
  FDevice.Attach(&FScheduler, this);
  bool v4 = false;
  const quint32 peer = socket->peerAddress().toIPv4Address(&v4);
  const QString from = v4 ? QHostAddress(peer).toString() : socket->peerAddress().toString();
  Event("link opened (" + from.toStdString() + ":" + std::to_string(socket->peerPort()) + ")");
  FDevice.LinkOpened();
}

void TSimTcpWire::Emit(const uint8_t* data, size_t count) {
  if (!FSocket || count == 0) return;
  FSocket->write(reinterpret_cast<const char*>(data), static_cast<qint64>(count));
  FSocket->flush();
}

void TSimTcpWire::Lost() {
  QTcpSocket* s = FSocket;
  FSocket = nullptr;
  QObject::disconnect(s, nullptr, nullptr, nullptr);
  s->deleteLater();
  FDevice.Detach();
  FDevice.LinkClosed();
  Event("link closed");
  Ended(false);
}

void TSimTcpWire::Drop(bool graceful) {
  if (!FSocket) return;
  QTcpSocket* s = FSocket;
  FSocket = nullptr;
  QObject::disconnect(s, nullptr, nullptr, nullptr);
  FDevice.Detach();
  FDevice.LinkClosed();
  Event("device hung up");
  if (graceful && s->state() == QAbstractSocket::ConnectedState) {
    QObject::connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
    s->disconnectFromHost();  // replies already written leave first
    if (s->state() == QAbstractSocket::UnconnectedState) s->deleteLater();
  } else {
    s->abort();
    s->deleteLater();
  }
  Ended(true);
}

// ---- server --------------------------------------------------------------

TSimTcpServerTransport::TSimTcpServerTransport(TSimDevice& device, ISimScheduler& scheduler)
    : TSimTcpWire(device, scheduler) {
  QObject::connect(&FServer, &QTcpServer::newConnection, &FContext, [this] {
    while (QTcpSocket* s = FServer.nextPendingConnection()) {
      // One connection carries the device: the newest replaces an old one
      // whose end we have not seen yet (the tool reconnecting).
      if (LinkUp()) Drop(false);
      Carry(s);
    }
  });
}

TSimTcpServerTransport::~TSimTcpServerTransport() {
  QObject::disconnect(&FServer, nullptr, &FContext, nullptr);
  FServer.close();
}

bool TSimTcpServerTransport::Listen(int port) {
  if (port < 0 || port > 65535) {
    FError = "invalid port " + std::to_string(port);
    return false;
  }
  if (!FServer.listen(QHostAddress::Any, static_cast<quint16>(port))) {
    FError = "cannot listen on port " + std::to_string(port) + ": " +
             FServer.errorString().toStdString();
    return false;
  }
  return true;
}

// ---- client --------------------------------------------------------------

TSimTcpClientTransport::TSimTcpClientTransport(TSimDevice& device, ISimScheduler& scheduler)
    : TSimTcpWire(device, scheduler) {
  FRetryTimer.setSingleShot(true);
  FRetryTimer.setTimerType(Qt::PreciseTimer);
  FConnectTimer.setSingleShot(true);
  FConnectTimer.setTimerType(Qt::PreciseTimer);
  QObject::connect(&FRetryTimer, &QTimer::timeout, &FContext, [this] { Attempt(); });
  QObject::connect(&FConnectTimer, &QTimer::timeout, &FContext, [this] {
    if (!FPending) return;
    QTcpSocket* s = FPending;
    FPending = nullptr;
    QObject::disconnect(s, nullptr, nullptr, nullptr);
    s->abort();
    s->deleteLater();
    Retry(kRetryMs);
  });
}

TSimTcpClientTransport::~TSimTcpClientTransport() {
  FStopping = true;
  FRetryTimer.stop();
  FConnectTimer.stop();
  if (FPending) {
    QObject::disconnect(FPending, nullptr, nullptr, nullptr);
    FPending->abort();
    delete FPending;
    FPending = nullptr;
  }
}

void TSimTcpClientTransport::Start(const QString& host, int port) {
  FHost = host;
  FPort = port;
  Attempt();
}

void TSimTcpClientTransport::Attempt() {
  if (FStopping || LinkUp() || FPending) return;
  FLastAttempt.start();
  auto* s = new QTcpSocket();
  FPending = s;
  QObject::connect(s, &QTcpSocket::connected, &FContext, [this, s] {
    if (FPending != s) return;
    FPending = nullptr;
    FConnectTimer.stop();
    QObject::disconnect(s, nullptr, &FContext, nullptr);
    Carry(s);
  });
  QObject::connect(s, &QTcpSocket::errorOccurred, &FContext, [this, s] {
    if (FPending != s) return;
    FPending = nullptr;
    FConnectTimer.stop();
    QObject::disconnect(s, nullptr, &FContext, nullptr);
    s->deleteLater();
    Retry(kRetryMs);
  });
  FConnectTimer.start(kConnectTimeoutMs);
  s->connectToHost(FHost, static_cast<quint16>(FPort));
}

void TSimTcpClientTransport::Retry(int pauseMs) {
  if (FStopping) return;
  // Attempts start at least pauseMs apart, however fast they fail.
  qint64 wait = pauseMs;
  if (pauseMs == kRetryMs && FLastAttempt.isValid())
    wait = std::max<qint64>(0, kRetryMs - FLastAttempt.elapsed());
  FRetryTimer.start(static_cast<int>(wait));
}

void TSimTcpClientTransport::Ended(bool byHangup) {
  Retry(byHangup ? kHangupPauseMs : kRetryMs);
}
