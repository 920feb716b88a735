// Link components wired straight to simulated devices, in the scheduler's
// time. Tests use them with the virtual host: the controller's real code runs
// against the simulator without any port or socket.
#pragma once
#include <map>
#include <memory>
#include <string>
#include <utility>

#include "link/LinkPorts.h"
#include "sim/SimDevice.h"

class TSimLinkFactory : public ILinkFactory {
 public:
  explicit TSimLinkFactory(ISimScheduler& scheduler) : FScheduler(scheduler) {}

  // A serial port of this name exists and leads to the device.
  void AddSerialDevice(const std::string& portName, TSimDevice* device) {
    FSerial[portName] = device;
  }
  // A TCP server of the device listens at address:port (the PC as client).
  void AddTcpEndpoint(const std::string& address, int port, TSimDevice* device) {
    FEndpoints[{address, port}] = device;
  }
  // The device connects to the PC when the PC listens on port (PC as server).
  void AddBoardConnectingTo(int port, TSimDevice* device) { FBoards[port] = device; }

  TSimDevice* SerialDevice(const std::string& name) const;
  TSimDevice* Endpoint(const std::string& address, int port) const;
  TSimDevice* Board(int port) const;
  ISimScheduler& Scheduler() { return FScheduler; }

  // Pause between two connect attempts of the client socket.
  uint32_t FReconnectPaceMs = 500;
  uint32_t FConnectDelayMs = 1;

  std::unique_ptr<ISerialPort> CreateSerialPort() override;
  std::unique_ptr<IClientSocket> CreateClientSocket() override;
  std::unique_ptr<IServerSocket> CreateServerSocket() override;

 private:
  ISimScheduler& FScheduler;
  std::map<std::string, TSimDevice*> FSerial;
  std::map<std::pair<std::string, int>, TSimDevice*> FEndpoints;
  std::map<int, TSimDevice*> FBoards;
};
