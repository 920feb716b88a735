#include "app/Simulate.h"

#include <string>
#include <vector>

#include "sim/SimUnit.h"
#include "sim/qt/QtSimScheduler.h"
#include "sim/qt/SimTcpTransports.h"

// Destroyed bottom up: the transport (and its connection) first, then the
// unit, the scheduler last.
struct TBuiltInReader::TImpl {
  TQtSimScheduler Scheduler;
  std::unique_ptr<TSimUnit> Unit;
  std::unique_ptr<TSimTcpServerTransport> Transport;
};

TBuiltInReader::TBuiltInReader() : F(std::make_unique<TImpl>()) {}

TBuiltInReader::~TBuiltInReader() = default;

bool TBuiltInReader::Start(QString* error) {
  std::string why;
  F->Unit = TSimUnit::Create(F->Scheduler, TSimLink::Tcp, {}, &why);
  if (!F->Unit) {
    if (error) *error = QString::fromStdString(why);
    return false;
  }
  F->Transport = std::make_unique<TSimTcpServerTransport>(F->Unit->Reader(), F->Scheduler);
  if (F->Transport->Listen(0)) return true;
  if (error) *error = QString::fromStdString(F->Transport->ErrorText());
  F->Transport.reset();
  return false;
}

int TBuiltInReader::Port() const {
  return F->Transport ? F->Transport->Port() : 0;
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
