#include "link/FlashWrRXCont.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "link/PortNames.h"
#include "link/TimeOut.h"

namespace {
constexpr int kLogMaxLines = 1000;
}  // namespace

std::string HexTrace(const std::string& label, const uint8_t* data, int count) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string s = label;
  s.reserve(label.size() + 3 * static_cast<size_t>(std::max(count, 0)));
  for (int i = 0; i < count; ++i) {
    s += kDigits[data[i] >> 4];
    s += kDigits[data[i] & 0x0F];
    s += ' ';
  }
  return s;
}

TFlashWrRXCont::TFlashWrRXCont(IHost& host, ILinkFactory& links, IUi& ui, const tagCOMPara& comPara)
    : CommX1(links.CreateSerialPort()),
      ClientSocket1(links.CreateClientSocket()),
      ServerSocket1(links.CreateServerSocket()),
      FLogMemo(&ui),
      FComPara(comPara),
      FHost(host),
      FUi(ui) {
  SetTimeOutHost(&host);
  FReWriteMode = 0;
  FDetailLog = 0;
  FTxTrace = 1;
  FRxTrace = 1;
  if (FComPara.Port == 0) FComPara.Port = 1;
  CommX1->SetPortName(ComPortName(FComPara.Port));
  CommX1->SetBaudRate(FComPara.BaudRate);
  CommX1->SetParity(static_cast<int>(FComPara.Parity & 0xFF));
  CommX1->SetFlowControl(static_cast<int>(FComPara.FlowControl));

  CommX1->OnRxChar = [this](int n) { CommX1RxChar(n); };
  CommX1->OnError = [this](const std::string& e) { CommX1Error(e); };
  ClientSocket1->OnConnect = [this] { ClientSocket1Connect(); };
  ClientSocket1->OnDisconnect = [this] { ClientSocket1Disconnect(); };
  ClientSocket1->OnRead = [this] { ClientSocket1Read(); };
  ClientSocket1->OnError = [this](const std::string& e) { ClientSocket1Error(e); };
  ServerSocket1->OnListen = [this] { ServerSocket1Listen(); };
  // The port cannot be listened on (e.g. in use): worth an always line, the
  // wait for the board would otherwise end without a reason.
  ServerSocket1->OnListenError = [this](const std::string& e) {
    AddLog("ServerSocket1 listen error: " + e, true);
  };
  ServerSocket1->OnClientConnect = [this](ISocketConnection& c) { ServerSocket1ClientConnect(c); };
  ServerSocket1->OnClientDisconnect = [this](ISocketConnection& c) {
    ServerSocket1ClientDisconnect(c);
  };
  ServerSocket1->OnClientRead = [this](ISocketConnection& c) { ServerSocket1ClientRead(c); };
  ServerSocket1->OnClientError = [this](ISocketConnection& c, const std::string& e) {
    ServerSocket1ClientError(c, e);
  };
}

TFlashWrRXCont::~TFlashWrRXCont() {
  // Components may raise events while they shut down; nobody listens any more.
  CommX1->OnRxChar = nullptr;
  CommX1->OnError = nullptr;
  ClientSocket1->OnConnect = ClientSocket1->OnDisconnect = ClientSocket1->OnRead = nullptr;
  ClientSocket1->OnError = nullptr;
  ServerSocket1->OnListen = nullptr;
  ServerSocket1->OnListenError = nullptr;
  ServerSocket1->OnClientConnect = ServerSocket1->OnClientDisconnect = nullptr;
  ServerSocket1->OnClientRead = nullptr;
  ServerSocket1->OnClientError = nullptr;
  if (CommX1->IsOpen()) CommX1->Close();
  ClientSocket1->Deactivate();
  ServerSocket1->Deactivate();
  SetTimeOutHost(nullptr);
}

// ---- receive ring -------------------------------------------------------

int TFlashWrRXCont::GetRxCount() const {
  if (FRxWritePos > FRxReadPos) return FRxWritePos - FRxReadPos;
  if (FRxWritePos < FRxReadPos) return kRxBufSize - FRxReadPos + FRxWritePos;
  return 0;
}

uint8_t TFlashWrRXCont::GetRxByte() {
  const uint8_t b = FRxBuf[FRxReadPos];
  if (++FRxReadPos >= kRxBufSize) FRxReadPos = 0;
  return b;
}

void TFlashWrRXCont::ClearRxBuffer() {
  for (int n = GetRxCount(); n > 0; --n) GetRxByte();
  FRxReadPos = 0;
  FRxWritePos = 0;
  FRxOverflow = 0;
}

void TFlashWrRXCont::AppendRx(const uint8_t* data, int count) {
  // The ring holds at most kRxBufSize - 1 unread bytes. Bytes that do not fit
  // are dropped rather than written over unread ones: the oldest data stays
  // intact and whatever frame lost its tail fails its own length or sum check.
  const int room = kRxBufSize - 1 - GetRxCount();
  const int take = std::min(count, room);
  for (int i = 0; i < take; ++i) {
    FRxBuf[FRxWritePos] = data[i];
    if (++FRxWritePos >= kRxBufSize) FRxWritePos = 0;
  }
  if (take < count) {
    if (FRxOverflow == 0) AddLog("RX overflow: received bytes dropped", true);
    FRxOverflow += count - take;
  }
}

// ---- sending ------------------------------------------------------------

int TFlashWrRXCont::SendData(const uint8_t* data, int count, bool clearFirst) {
  if (clearFirst) ClearRxBuffer();
  if (FLinkKind == 0) {
    if (!CommX1->IsOpen()) return 0;
    const int written = CommX1->Write(data, count);
    if (FTxTrace) AddLog(HexTrace("TX: ", data, count), false);
    return written;
  }
  if (!FSockConnected) return 0;
  ISocketConnection* target = nullptr;
  if (FServerMode == 1)
    target = ServerSocket1->Connection(ServerSocket1->ActiveConnections() - 1);
  else
    target = &ClientSocket1->Connection();
  if (!target || !target->Send(data, count)) return 0;
  AddLog(HexTrace("TX: ", data, count), false);
  return 1;
}

// ---- waiting ------------------------------------------------------------

bool TFlashWrRXCont::WaitAck(int count) {
  TimeOutCheck(0, kAckTimeoutMs);
  for (;;) {
    FHost.ProcessMessages();
    if (GetRxCount() >= count) {
      GetRxByte();
      GetRxByte();
      return GetRxByte() == '0';
    }
    if (TimeOutCheck(1, kAckTimeoutMs)) return false;
    FHost.WaitForActivity(TimeOutRemaining(kAckTimeoutMs));
  }
}

bool TFlashWrRXCont::WaitResponse(uint8_t* buffer, int capacity, int count, uint32_t timeoutMs) {
  bool ok = false;
  int c = 0;
  TimeOutCheck(0, timeoutMs);
  for (;;) {
    FHost.ProcessMessages();
    c = GetRxCount();
    if (c >= count) {
      ok = true;
      break;
    }
    if (TimeOutCheck(1, timeoutMs)) {
      AddLog("レスポンス待ち　タイムオーバー", false);
      break;
    }
    FHost.WaitForActivity(TimeOutRemaining(timeoutMs));
  }
  for (int i = 0; i < c; ++i) {
    const uint8_t b = GetRxByte();
    if (buffer && i < capacity) buffer[i] = b;
  }
  return ok;
}

bool TFlashWrRXCont::WaitSocketState(int wanted) {
  FHost.ProcessMessages();
  TimeOutCheck(0, kSocketStateTimeoutMs);
  // The first pass pauses like every pass of the poll it replaces; later
  // passes sleep until a socket event or the deadline.
  FHost.WaitForActivity(kPollPauseMs);
  for (;;) {
    FHost.ProcessMessages();
    if (FSockConnected == wanted) return true;
    if (TimeOutCheck(1, kSocketStateTimeoutMs)) return false;
    FHost.WaitForActivity(TimeOutRemaining(kSocketStateTimeoutMs));
  }
}

// ---- log ----------------------------------------------------------------

void TFlashWrRXCont::AddLog(const std::string& text, bool force) {
  if (!(FDetailLog || force) || !FLogMemo) return;
  if (FLogMemo->LogLineCount() >= kLogMaxLines) FLogMemo->LogClear();
  FLogMemo->LogAppendLine(text);
}

// ---- opening and closing ------------------------------------------------

bool TFlashWrRXCont::OpenComPort(int portNumber) {
  if (CommX1->IsOpen()) CommX1->Close();
  FRxReadPos = 0;
  FRxWritePos = 0;
  const std::string name = ComPortName(portNumber);
  CommX1->SetPortName(name);
  CommX1->Open();
  if (CommX1->IsOpen()) return true;
  FUi.ShowMessage(
      name + "がオープン出来ません!!\n\n  ポートを及びパラメータ設定を再確認してください。",
      TMsgKind::Plain);
  return false;
}

void TFlashWrRXCont::CloseLink() {
  if (FLinkKind == 0) {
    if (CommX1->IsOpen()) CommX1->Close();
    return;
  }
  if (!FSockConnected) return;
  if (FServerMode == 1)
    ServerSocket1->Deactivate();
  else
    ClientSocket1->Deactivate();
}

bool TFlashWrRXCont::OpenTcpLink(int tcpPort, int fTcpServer, int tcpServPort,
                                 const std::string& tcpServAddr) {
  FTcpPara.TCPPort = tcpPort;
  FTcpPara.fTCPServer = fTcpServer;
  FTcpPara.TCPServPort = tcpServPort;
  FTcpPara.TCPServAddr = tcpServAddr;
  FServerMode = fTcpServer;
  if (FSockConnected) {
    if (FServerMode == 1)
      ServerSocket1->Deactivate();
    else
      ClientSocket1->Deactivate();
  }
  FSockConnected = 0;
  WaitSocketState(0);
  FRxReadPos = 0;
  FRxWritePos = 0;
  if (FServerMode == 1) {
    ServerSocket1->SetPort(tcpPort);
    ServerSocket1->Activate();
  } else {
    ClientSocket1->SetAddress(tcpServAddr);
    ClientSocket1->SetPort(tcpServPort);
    ClientSocket1->Activate();
  }
  return WaitSocketState(1);
}

tagCOMPara& TFlashWrRXCont::GetComPara() {
  FComPara.Port = ComPortNumber(CommX1->PortName());
  FComPara.BaudRate = CommX1->BaudRate();
  FComPara.Parity = static_cast<uint32_t>(CommX1->Parity());
  const int flow = CommX1->FlowControl();
  FComPara.FlowControl = (flow == 1 || flow == 2) ? static_cast<uint32_t>(flow) : 0;
  return FComPara;
}

// ---- events -------------------------------------------------------------

void TFlashWrRXCont::CommX1RxChar(int count) {
  if (count <= 0) return;
  std::vector<uint8_t> bytes(static_cast<size_t>(count));
  const int got = CommX1->Read(bytes.data(), count);
  if (got <= 0) return;
  AppendRx(bytes.data(), got);
  if (FRxTrace) AddLog(HexTrace("RX: ", bytes.data(), got), false);
  FHost.NotifyActivity();
}

void TFlashWrRXCont::CommX1Error(const std::string& errors) {
  if (FDetailLog) AddLog(errors, false);
}

void TFlashWrRXCont::ReadSocket(ISocketConnection& conn) {
  const int pending = conn.PendingBytes();
  AddLog(std::to_string(pending), false);
  uint8_t scratch[kSocketReadChunk];
  const int got = conn.Receive(scratch, std::min(pending, kSocketReadChunk));
  if (got <= 0) return;
  AppendRx(scratch, got);
  if (FRxTrace) AddLog(HexTrace("RX: ", scratch, got), false);
  FHost.NotifyActivity();
}

void TFlashWrRXCont::ClientSocket1Connect() {
  AddLog("ClientSocket1Connect00", false);
  FSockConnected = 1;
  FHost.NotifyActivity();
}

void TFlashWrRXCont::ClientSocket1Disconnect() {
  AddLog("ClientSocket1Disconnect00", false);
  FSockConnected = 0;
  FHost.NotifyActivity();
}

void TFlashWrRXCont::ClientSocket1Read() {
  ReadSocket(ClientSocket1->Connection());
}

void TFlashWrRXCont::ClientSocket1Error(const std::string& /*error*/) {
  // Handled here: drop the failed attempt and start a new one.
  ClientSocket1->Connection().Close();
  ClientSocket1->Activate();
  AddLog("ClientSocket1Error", false);
}

void TFlashWrRXCont::ServerSocket1Listen() {
  AddLog("ServerSocket1Listen", false);
}

void TFlashWrRXCont::ServerSocket1ClientConnect(ISocketConnection& /*conn*/) {
  AddLog("ServerSocket1ClientConnect", false);
  AddLog("ActiveConnections: " + std::to_string(ServerSocket1->ActiveConnections()), false);
  FSockConnected = 1;
  FHost.NotifyActivity();
}

void TFlashWrRXCont::ServerSocket1ClientDisconnect(ISocketConnection& /*conn*/) {
  AddLog("ServerSocket1ClientDisconnect", false);
  FSockConnected = 0;
  FHost.NotifyActivity();
}

void TFlashWrRXCont::ServerSocket1ClientRead(ISocketConnection& conn) {
  AddLog("ServerSocket1ClientRead", false);
  ReadSocket(conn);
}

void TFlashWrRXCont::ServerSocket1ClientError(ISocketConnection& conn,
                                              const std::string& /*error*/) {
  conn.Close();
  AddLog("ServerSocket1ClientError", false);
}
