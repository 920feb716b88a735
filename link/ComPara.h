// Link parameter records exchanged between the main window, the settings file
// and the controller. Always copied whole.
#pragma once
#include <cstdint>
#include <string>

struct tagCOMPara {
  int32_t Port = 0;             // port number; 0 = not set
  int32_t BaudRate = 0;         // bits per second
  uint32_t Parity = 0;          // 0 none, 1 odd, 2 even, 3 mark, 4 space (low byte)
  uint32_t FlowControl = 0;     // 1 RTS/CTS, 2 XON/XOFF, else none
  int32_t WriteSpeedIndex = 0;  // port dialog's write-speed selection
  int32_t BootNewBitRate = 0;   // boot-mode tools: new bit rate
  uint8_t BootRatio1 = 0;       // boot-mode tools: multiplication ratios of the
  uint8_t BootRatio2 = 0;       //   new-bit-rate selection
  float BootInputFreq = 0.0f;   // boot-mode tools: input clock, MHz
};

struct tagTCPIPPara {
  int32_t TCPPort = 10777;     // where the PC listens as server
  int32_t fTCPServer = 0;      // 0 client, 1 server
  int32_t TCPServPort = 9004;  // the interface board's port (client)
  std::string TCPServAddr;     // the interface board's address (client)
};

// The interface board's address when nothing else is known; a private address.
inline constexpr const char* kDefaultIfbAddress = "192.168.1.200";
