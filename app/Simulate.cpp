#include "app/Simulate.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include "sim/reader/SimReader.h"

namespace {

// The simulator's time on the event loop.
class TQtSimScheduler : public ISimScheduler {
 public:
  explicit TQtSimScheduler(QObject* context) : FContext(context) { FClock.start(); }
  uint64_t NowMs() override { return static_cast<uint64_t>(FClock.elapsed()); }
  void After(uint32_t ms, std::function<void()> fn) override {
    QTimer::singleShot(static_cast<int>(ms), Qt::PreciseTimer, FContext, std::move(fn));
  }

 private:
  QObject* FContext;
  QElapsedTimer FClock;
};

TSimReaderOptions TcpReader() {
  TSimReaderOptions o;
  o.Link = TSimLink::Tcp;
  return o;
}

}  // namespace

// Members are destroyed bottom up: the server and its connections first,
// then the timers (with their context), the reader last.
struct TBuiltInReader::TImpl : ISimWire {
  TSimReader Reader{TcpReader()};
  QObject Context;
  TQtSimScheduler Scheduler{&Context};
  QTcpServer Server;
  QPointer<QTcpSocket> Peer;

  void Emit(const uint8_t* data, size_t count) override {
    if (Peer) Peer->write(reinterpret_cast<const char*>(data), static_cast<qint64>(count));
  }
  void Hangup() override {
    if (Peer) Peer->disconnectFromHost();
  }

  void Accept() {
    while (QTcpSocket* socket = Server.nextPendingConnection()) {
      // One tool at a time: a new connection replaces the old one.
      if (Peer) Peer->abort();
      Peer = socket;
      QObject::connect(socket, &QTcpSocket::readyRead, &Context, [this, socket] {
        const QByteArray bytes = socket->readAll();
        if (socket == Peer)
          Reader.Receive(reinterpret_cast<const uint8_t*>(bytes.constData()),
                         static_cast<size_t>(bytes.size()));
      });
      QObject::connect(socket, &QTcpSocket::disconnected, &Context, [this, socket] {
        if (socket == Peer) {
          Reader.LinkClosed();
          Reader.Detach();
          Peer.clear();
        }
        socket->deleteLater();
      });
      Reader.Attach(&Scheduler, this);
      Reader.LinkOpened();
    }
  }
};

TBuiltInReader::TBuiltInReader() : F(std::make_unique<TImpl>()) {}

TBuiltInReader::~TBuiltInReader() = default;

bool TBuiltInReader::Start(QString* error) {
  QObject::connect(&F->Server, &QTcpServer::newConnection, &F->Context, [this] { F->Accept(); });
  if (F->Server.listen(QHostAddress(QString::fromLatin1(kSimulatorAddress)), 0)) return true;
  if (error) *error = F->Server.errorString();
  return false;
}

int TBuiltInReader::Port() const {
  return F->Server.isListening() ? F->Server.serverPort() : 0;
}

TTcpIpChoice SimulatedTcpChoice(int port, const tagTCPIPPara& stored) {
  TTcpIpChoice c;
  c.ModalResult = kModalOk;
  c.Para = stored;
  c.Para.fTCPServer = 0;
  c.Para.TCPServAddr = kSimulatorAddress;
  c.Para.TCPServPort = port;
  c.LocalAddressListed = true;  // the loopback is never listed; no check applies
  return c;
}
