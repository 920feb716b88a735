#include "sim/InProcessLink.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <vector>

namespace {

// Bytes received from a device, waiting to be read by the tool.
class TRxQueue {
 public:
  void Push(const uint8_t* d, size_t n) { FBytes.insert(FBytes.end(), d, d + n); }
  int Size() const { return static_cast<int>(FBytes.size()); }
  int Pop(uint8_t* out, int n) {
    const int k = std::min(n, Size());
    std::copy_n(FBytes.begin(), k, out);
    FBytes.erase(FBytes.begin(), FBytes.begin() + k);
    return k;
  }
  void Clear() { FBytes.clear(); }

 private:
  std::deque<uint8_t> FBytes;
};

class TSimSerialPort : public ISerialPort, public ISimWire {
 public:
  explicit TSimSerialPort(TSimLinkFactory& f) : FFactory(f) {}
  ~TSimSerialPort() override { Close(); }

  void SetPortName(const std::string& name) override { FName = name; }
  std::string PortName() const override { return FName; }
  void SetBaudRate(int bps) override {
    FBaud = bps;
    if (FDevice) FDevice->BaudRateChanged(bps);
  }
  int BaudRate() const override { return FBaud; }
  void SetParity(int code) override { FParity = code; }
  int Parity() const override { return FParity; }
  void SetFlowControl(int code) override { FFlow = code; }
  int FlowControl() const override { return FFlow; }

  bool Open() override {
    if (FDevice) return true;
    FDevice = FFactory.SerialDevice(FName);
    if (!FDevice) return false;
    FDevice->Attach(&FFactory.Scheduler(), this);
    FDevice->BaudRateChanged(FBaud);
    FDevice->LinkOpened();
    return true;
  }
  void Close() override {
    if (!FDevice) return;
    TSimDevice* d = FDevice;
    FDevice = nullptr;
    d->Detach();
    d->LinkClosed();
    FRx.Clear();
  }
  bool IsOpen() const override { return FDevice != nullptr; }
  int Write(const uint8_t* data, int count) override {
    if (!FDevice || count <= 0) return 0;
    FDevice->Receive(data, static_cast<size_t>(count));
    return count;
  }
  int BytesWaiting() const override { return FRx.Size(); }
  int Read(uint8_t* data, int count) override { return FRx.Pop(data, count); }

  void Emit(const uint8_t* data, size_t count) override {
    if (!FDevice) return;
    FRx.Push(data, count);
    if (OnRxChar) OnRxChar(FRx.Size());
  }
  void Hangup() override {
    if (OnError) OnError("device gone");
    Close();
  }

 private:
  TSimLinkFactory& FFactory;
  std::string FName;
  int FBaud = 9600, FParity = 0, FFlow = 0;
  TSimDevice* FDevice = nullptr;
  TRxQueue FRx;
};

// One simulated TCP connection between the tool and a device.
class TSimConnection : public ISocketConnection, public ISimWire {
 public:
  TSimConnection(ISimScheduler& s, TSimDevice* d) : FScheduler(s), FDevice(d) {
    FDevice->Attach(&FScheduler, this);
    FDevice->LinkOpened();
  }
  ~TSimConnection() override {
    *FAlive = false;
    Drop();
  }

  int PendingBytes() const override { return FRx.Size(); }
  int Receive(uint8_t* data, int count) override { return FRx.Pop(data, count); }
  bool Send(const uint8_t* data, int count) override {
    if (!FDevice) return false;
    FDevice->Receive(data, static_cast<size_t>(count));
    return true;
  }
  void Close() override {
    const bool was = Drop();
    if (was && OnClosed) OnClosed(*this);
  }
  bool Connected() const { return FDevice != nullptr; }

  void Emit(const uint8_t* data, size_t count) override {
    if (!FDevice) return;
    FRx.Push(data, count);
    RaiseRead();
  }
  void Hangup() override {
    // Like a socket whose peer closed: what arrived is still read first.
    while (FRx.Size() > 0 && OnRead) {
      const int before = FRx.Size();
      OnRead(*this);
      if (FRx.Size() >= before) break;
    }
    Close();
  }

  std::function<void(TSimConnection&)> OnRead;
  std::function<void(TSimConnection&)> OnClosed;

 private:
  // Like a socket, a read event comes again while bytes are still pending.
  void RaiseRead() {
    if (FReadQueued) return;
    FReadQueued = true;
    FScheduler.After(0, [this, alive = FAlive] {
      if (!*alive) return;
      FReadQueued = false;
      if (FRx.Size() == 0 || !FDevice) return;
      const int before = FRx.Size();
      if (OnRead) OnRead(*this);
      if (*alive && FRx.Size() > 0 && FRx.Size() < before) RaiseRead();
    });
  }
  bool Drop() {
    if (!FDevice) return false;
    TSimDevice* d = FDevice;
    FDevice = nullptr;
    d->Detach();
    d->LinkClosed();
    return true;
  }

  ISimScheduler& FScheduler;
  TSimDevice* FDevice;
  TRxQueue FRx;
  bool FReadQueued = false;

 public:
  std::shared_ptr<bool> FAlive = std::make_shared<bool>(true);
};

class TSimClientSocket : public IClientSocket {
 public:
  explicit TSimClientSocket(TSimLinkFactory& f) : FFactory(f) {}
  ~TSimClientSocket() override {
    *FToken = false;
    Deactivate();
  }

  void SetAddress(const std::string& dotted) override { FAddress = dotted; }
  void SetPort(int port) override { FPort = port; }
  void Activate() override {
    FActive = true;
    auto& s = FFactory.Scheduler();
    const uint64_t now = s.NowMs();
    const uint64_t at =
        std::max(now + FFactory.FConnectDelayMs, FLastAttempt + FFactory.FReconnectPaceMs);
    FLastAttempt = at;
    const uint64_t generation = ++FGeneration;
    s.After(static_cast<uint32_t>(at - now), [this, generation, token = FToken] {
      if (*token && generation == FGeneration && FActive) Attempt();
    });
  }
  void Deactivate() override {
    FActive = false;
    ++FGeneration;
    DropConnection();
  }
  bool Active() const override { return FActive; }
  ISocketConnection& Connection() override {
    if (FConn) return *FConn;
    return FNoConnection;
  }

 private:
  class TNoConnection : public ISocketConnection {
   public:
    int PendingBytes() const override { return 0; }
    int Receive(uint8_t*, int) override { return 0; }
    bool Send(const uint8_t*, int) override { return false; }
    void Close() override {}
  };

  void Attempt() {
    if (FConn) return;
    TSimDevice* d = FFactory.Endpoint(FAddress, FPort);
    if (!d) {
      if (OnError) OnError("Connection refused");
      return;
    }
    FConn = std::make_unique<TSimConnection>(FFactory.Scheduler(), d);
    FConn->OnRead = [this](TSimConnection&) {
      if (OnRead) OnRead();
    };
    FConn->OnClosed = [this](TSimConnection&) { Lost(); };
    if (OnConnect) OnConnect();
  }
  void Lost() {
    // The connection object may be on the stack: free it later.
    FGraveyard.push_back(std::move(FConn));
    if (OnDisconnect) OnDisconnect();
  }
  void DropConnection() {
    if (!FConn) return;
    FConn->OnClosed = nullptr;
    FConn->Close();
    FGraveyard.push_back(std::move(FConn));
    if (OnDisconnect) OnDisconnect();
  }

  TSimLinkFactory& FFactory;
  std::string FAddress;
  int FPort = 0;
  bool FActive = false;
  uint64_t FLastAttempt = 0;
  uint64_t FGeneration = 0;
  std::shared_ptr<bool> FToken = std::make_shared<bool>(true);
  std::unique_ptr<TSimConnection> FConn;
  std::vector<std::unique_ptr<TSimConnection>> FGraveyard;
  TNoConnection FNoConnection;
};

class TSimServerSocket : public IServerSocket {
 public:
  explicit TSimServerSocket(TSimLinkFactory& f) : FFactory(f) {}
  ~TSimServerSocket() override {
    *FToken = false;
    Deactivate();
  }

  void SetPort(int port) override { FPort = port; }
  void Activate() override {
    if (FActive) Deactivate();
    FActive = true;
    if (OnListen) OnListen();
    TSimDevice* board = FFactory.Board(FPort);
    if (!board) return;
    const uint64_t generation = ++FGeneration;
    FFactory.Scheduler().After(FFactory.FConnectDelayMs, [this, board, generation, token = FToken] {
      if (*token && FActive && generation == FGeneration) Accept(board);
    });
  }
  void Deactivate() override {
    ++FGeneration;
    FActive = false;
    while (!FConns.empty()) {
      FConns.back()->OnClosed = nullptr;
      FConns.back()->Close();
      Remove(*FConns.back());
    }
  }
  bool Active() const override { return FActive; }
  int ActiveConnections() const override { return static_cast<int>(FConns.size()); }
  ISocketConnection* Connection(int index) override {
    if (index < 0 || index >= ActiveConnections()) return nullptr;
    return FConns[static_cast<size_t>(index)].get();
  }

 private:
  void Accept(TSimDevice* board) {
    FConns.push_back(std::make_unique<TSimConnection>(FFactory.Scheduler(), board));
    TSimConnection& c = *FConns.back();
    c.OnRead = [this](TSimConnection& conn) {
      if (OnClientRead) OnClientRead(conn);
    };
    c.OnClosed = [this](TSimConnection& conn) { Remove(conn); };
    if (OnClientConnect) OnClientConnect(c);
  }
  void Remove(TSimConnection& conn) {
    auto it = std::find_if(FConns.begin(), FConns.end(), [&](auto& p) { return p.get() == &conn; });
    if (it == FConns.end()) return;
    FGraveyard.push_back(std::move(*it));
    FConns.erase(it);
    if (OnClientDisconnect) OnClientDisconnect(conn);
  }

  TSimLinkFactory& FFactory;
  int FPort = 0;
  bool FActive = false;
  uint64_t FGeneration = 0;
  std::shared_ptr<bool> FToken = std::make_shared<bool>(true);
  std::vector<std::unique_ptr<TSimConnection>> FConns;
  std::vector<std::unique_ptr<TSimConnection>> FGraveyard;
};

}  // namespace

TSimDevice* TSimLinkFactory::SerialDevice(const std::string& name) const {
  auto it = FSerial.find(name);
  return it == FSerial.end() ? nullptr : it->second;
}

TSimDevice* TSimLinkFactory::Endpoint(const std::string& address, int port) const {
  auto it = FEndpoints.find({address, port});
  return it == FEndpoints.end() ? nullptr : it->second;
}

TSimDevice* TSimLinkFactory::Board(int port) const {
  auto it = FBoards.find(port);
  return it == FBoards.end() ? nullptr : it->second;
}

std::unique_ptr<ISerialPort> TSimLinkFactory::CreateSerialPort() {
  return std::make_unique<TSimSerialPort>(*this);
}
std::unique_ptr<IClientSocket> TSimLinkFactory::CreateClientSocket() {
  return std::make_unique<TSimClientSocket>(*this);
}
std::unique_ptr<IServerSocket> TSimLinkFactory::CreateServerSocket() {
  return std::make_unique<TSimServerSocket>(*this);
}
