#include "link/qt/QtClientSocket.h"

#include <QHostAddress>
#include <algorithm>
#include <climits>

// ---- connection ---------------------------------------------------------

int TQtSocketConnection::PendingBytes() const {
  return static_cast<int>(std::min<qint64>(FSocket.bytesAvailable(), INT_MAX));
}

int TQtSocketConnection::Receive(uint8_t* data, int count) {
  if (count <= 0) return 0;
  const qint64 n = FSocket.read(reinterpret_cast<char*>(data), count);
  return n > 0 ? static_cast<int>(n) : 0;
}

bool TQtSocketConnection::Send(const uint8_t* data, int count) {
  if (FSocket.state() != QAbstractSocket::ConnectedState) return false;
  if (count <= 0) return true;
  if (FSocket.write(reinterpret_cast<const char*>(data), count) != count) return false;
  // Start sending now rather than when the event loop next runs.
  FSocket.flush();
  return true;
}

void TQtSocketConnection::RaiseRead() {
  if (FReadQueued) return;  // the queued pass sees the new bytes too
  const qint64 before = FSocket.bytesAvailable();
  if (before <= 0 || !FOnRead) return;
  FOnRead();
  const qint64 after = FSocket.bytesAvailable();
  // Only while the handler takes bytes: one that takes none must not spin.
  if (after > 0 && after < before) {
    FReadQueued = true;
    QMetaObject::invokeMethod(
        &FSocket,
        [this] {
          FReadQueued = false;
          RaiseRead();
        },
        Qt::QueuedConnection);
  }
}

void TQtSocketConnection::DrainReads() {
  FReadQueued = false;
  for (;;) {
    const qint64 before = FSocket.bytesAvailable();
    if (before <= 0 || !FOnRead) return;
    FOnRead();
    if (FSocket.bytesAvailable() >= before) return;
  }
}

bool ParseDottedIPv4(const std::string& text, quint32* address) {
  quint32 value = 0;
  int parts = 0;
  size_t i = 0;
  while (parts < 4) {
    int part = 0;
    size_t digits = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9' && digits < 4) {
      part = part * 10 + (text[i] - '0');
      ++i;
      ++digits;
    }
    if (digits == 0 || digits > 3 || part > 255) return false;
    value = (value << 8) | static_cast<quint32>(part);
    ++parts;
    if (parts < 4) {
      if (i >= text.size() || text[i] != '.') return false;
      ++i;
    }
  }
  if (i != text.size()) return false;
  *address = value;
  return true;
}

// ---- client socket ------------------------------------------------------

TQtClientSocket::TQtClientSocket()
    : FConnection(FSocket, [this] {
        if (OnRead) OnRead();
      }) {
  FAttemptTimer.setSingleShot(true);
  FAttemptTimer.setTimerType(Qt::PreciseTimer);
  FConnectTimer.setSingleShot(true);
  FConnectTimer.setTimerType(Qt::PreciseTimer);
  QObject::connect(&FAttemptTimer, &QTimer::timeout, &FContext, [this] { Attempt(); });
  QObject::connect(&FConnectTimer, &QTimer::timeout, &FContext, [this] {
    if (FSocket.state() == QAbstractSocket::ConnectedState) return;
    FSocket.abort();
    RaiseError("connection to " + FAddress + ":" + std::to_string(FPort) + " timed out after " +
               std::to_string(FConnectTimeoutMs) + " ms");
  });
  QObject::connect(&FSocket, &QTcpSocket::connected, &FContext, [this] {
    FConnectTimer.stop();
    FConnected = true;
    if (OnConnect) OnConnect();
    if (FSocket.bytesAvailable() > 0) FConnection.RaiseRead();
  });
  QObject::connect(&FSocket, &QTcpSocket::readyRead, &FContext,
                   [this] { FConnection.RaiseRead(); });
  QObject::connect(&FSocket, &QTcpSocket::disconnected, &FContext, [this] {
    FConnectTimer.stop();
    if (!FConnected) return;
    FConnected = false;
    // The connection ended; an error handler that wants another one
    // activates the socket again.
    FActive = false;
    FConnection.DrainReads();
    if (OnDisconnect) OnDisconnect();
  });
  QObject::connect(&FSocket, &QTcpSocket::errorOccurred, &FContext,
                   [this](QAbstractSocket::SocketError e) {
                     FConnectTimer.stop();
                     // The remote closing is a disconnect, not an error.
                     if (e == QAbstractSocket::RemoteHostClosedError && FConnected) return;
                     RaiseError(FSocket.errorString().toStdString());
                   });
}

TQtClientSocket::~TQtClientSocket() {
  OnConnect = nullptr;
  OnDisconnect = nullptr;
  OnRead = nullptr;
  OnError = nullptr;
  FAttemptTimer.stop();
  FConnectTimer.stop();
  QObject::disconnect(&FSocket, nullptr, &FContext, nullptr);
  FSocket.abort();
}

void TQtClientSocket::Activate() {
  FActive = true;
  if (FSocket.state() == QAbstractSocket::ConnectedState) return;
  // A new activation replaces an attempt under way (the address may differ).
  FConnectTimer.stop();
  if (FSocket.state() != QAbstractSocket::UnconnectedState) FSocket.abort();
  qint64 delay = 0;
  if (FLastAttempt.isValid()) delay = std::max<qint64>(0, kConnectPaceMs - FLastAttempt.elapsed());
  FAttemptTimer.start(static_cast<int>(delay));
}

void TQtClientSocket::Deactivate() {
  FActive = false;
  FAttemptTimer.stop();
  FConnectTimer.stop();
  FSocket.abort();  // raises OnDisconnect when a connection was up
}

void TQtClientSocket::Attempt() {
  if (!FActive) return;
  FLastAttempt.start();
  quint32 address = 0;
  if (!ParseDottedIPv4(FAddress, &address)) {
    RaiseError("invalid IPv4 address \"" + FAddress + "\"");
    return;
  }
  if (FPort <= 0 || FPort > 65535) {
    RaiseError("invalid port " + std::to_string(FPort));
    return;
  }
  FSocket.connectToHost(QHostAddress(address), static_cast<quint16>(FPort));
  FConnectTimer.start(FConnectTimeoutMs);
}

void TQtClientSocket::RaiseError(const std::string& text) {
  if (OnError) OnError(text);
}
