// The communication controller: sole owner of the link to the reader, its
// receive ring, the log line and every protocol spoken over it. The protocol
// methods of each subsystem are declared in that subsystem's folder and
// pulled into the class body below.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "link/ComPara.h"
#include "link/Host.h"
#include "link/LinkPorts.h"
#include "link/Ui.h"

class TFlashWrRXCont {
 public:
  static constexpr int kRxBufSize = 16384;
  static constexpr uint32_t kAckTimeoutMs = 1000;
  static constexpr uint32_t kSocketStateTimeoutMs = 12000;
  static constexpr uint32_t kPollPauseMs = 10;
  static constexpr int kSocketReadChunk = 256;

  TFlashWrRXCont(IHost& host, ILinkFactory& links, IUi& ui, const tagCOMPara& comPara);
  ~TFlashWrRXCont();
  TFlashWrRXCont(const TFlashWrRXCont&) = delete;
  TFlashWrRXCont& operator=(const TFlashWrRXCont&) = delete;

  // Link primitives.
  int SendData(const uint8_t* data, int count, bool clearFirst);
  int GetRxCount() const;
  uint8_t GetRxByte();
  void ClearRxBuffer();
  bool WaitAck(int count);
  bool WaitResponse(uint8_t* buffer, int capacity, int count, uint32_t timeoutMs);
  void AddLog(const std::string& text, bool force);
  bool OpenComPort(int portNumber);
  void CloseLink();
  bool OpenTcpLink(int tcpPort, int fTcpServer, int tcpServPort, const std::string& tcpServAddr);
  bool WaitSocketState(int wanted);
  tagCOMPara& GetComPara();

  // Stores received bytes in the ring (the receive events use it).
  void AppendRx(const uint8_t* data, int count);

  // Event handlers of the link components.
  void CommX1RxChar(int count);
  void CommX1Error(const std::string& errors);
  void ClientSocket1Connect();
  void ClientSocket1Disconnect();
  void ClientSocket1Read();
  void ClientSocket1Error(const std::string& error);
  void ServerSocket1Listen();
  void ServerSocket1ClientConnect(ISocketConnection& conn);
  void ServerSocket1ClientDisconnect(ISocketConnection& conn);
  void ServerSocket1ClientRead(ISocketConnection& conn);
  void ServerSocket1ClientError(ISocketConnection& conn, const std::string& error);

  IHost& Host() { return FHost; }
  IUi& Ui() { return FUi; }

  // Components.
  std::unique_ptr<ISerialPort> CommX1;
  std::unique_ptr<IClientSocket> ClientSocket1;
  std::unique_ptr<IServerSocket> ServerSocket1;

  IUi* FLogMemo;
  uint8_t FRxBuf[kRxBufSize] = {};
  int32_t FRxWritePos = 0;
  int32_t FRxReadPos = 0;
  tagCOMPara FComPara;
  int32_t FReWriteMode = 0;
  int32_t FDetailLog = 0;
  int32_t FTxTrace = 0;
  int32_t FRxTrace = 0;
  int32_t FLinkKind = 0;
  tagTCPIPPara FTcpPara;
  int32_t FSockConnected = 0;
  int32_t FServerMode = 0;
  // Bytes dropped because the ring was full since the last discard.
  int32_t FRxOverflow = 0;

#include "reader/ReaderMembers.inc"
#include "bootmonitor/BootMonitorMembers.inc"
#include "mcuboot/McuBootMembers.inc"
#include "link/ConnectMembers.inc"

 private:
  void ReadSocket(ISocketConnection& conn);

  IHost& FHost;
  IUi& FUi;
};

// "label" followed by every byte as two upper-case hex digits and a blank.
std::string HexTrace(const std::string& label, const uint8_t* data, int count);
