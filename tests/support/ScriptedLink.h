// A controller in virtual time wired to a scripted device on ttyUSB0, and the
// reader's frame as the tests build it by hand (independent of the code that
// builds and checks it).
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>

#include "link/ComPara.h"
#include "link/FlashWrRXCont.h"
#include "link/PortNames.h"
#include "sim/InProcessLink.h"
#include "sim/ScriptedDevice.h"
#include "sim/VirtualHost.h"
#include "support/TestUi.h"

// STX, 0x00, letter or status, LEN, data, ETX, SUM (low byte of the sum of
// everything before it), CR.
TBytes MakeReaderFrame(uint8_t third, const TBytes& data);

// The controller's trace lines stay out of the log, so that tests see only
// what the code under test writes.
std::unique_ptr<TFlashWrRXCont> MakeQuietController(IHost& host, ILinkFactory& links, IUi& ui,
                                                    const tagCOMPara& para);

// A simulated reader reachable on ttyUSB0 and, behind the interface board, at
// 10.1.2.3:9004.
void AddSimReaderEndpoints(TSimLinkFactory& links, TSimDevice* reader);
// Opens c to that reader over TCP (local port 10777) or the serial port.
bool OpenSimReaderLink(TFlashWrRXCont& c, bool tcp);

// Fixture: the controller opened on ttyUSB0 to Device. Suites that need a
// bit rate call Connect themselves from their own SetUp.
template <class TUiType = TTestUi>
struct TScriptedLinkTest : ::testing::Test {
  TVirtualHost Host;
  TSimLinkFactory Links{Host};
  TUiType Ui;
  TScriptedDevice Device;
  std::unique_ptr<TFlashWrRXCont> C;

  void SetUp() override { Connect(); }

  void Connect(int32_t baudRate = 0) {
    tagCOMPara para;
    para.BaudRate = baudRate;
    Links.AddSerialDevice("ttyUSB0", &Device);
    C = MakeQuietController(Host, Links, Ui, para);
    ASSERT_TRUE(C->OpenComPort(ComPortNumber("ttyUSB0")));
  }
  // Every request is answered with these bytes after delayMs.
  void AnswerWith(const TBytes& bytes, uint32_t delayMs = 5) {
    Device.OnReceive = [bytes, delayMs](TScriptedDevice& d, const TBytes&) {
      d.Reply(bytes, delayMs);
    };
  }
  // What the controller sent while running fn.
  TBytes Sent(const std::function<void()>& fn) {
    Device.FReceived.clear();
    fn();
    return Device.FReceived;
  }
  uint32_t Elapsed(uint32_t since) { return Host.TickCount() - since; }
};
