// The serial link on QSerialPort: 8 data bits, 1 stop bit, parity and flow
// control as set, DTR and RTS not asserted.
#pragma once
#include <QSerialPort>
#include <string>

#include "link/LinkPorts.h"

class TQtSerialPort : public ISerialPort {
 public:
  TQtSerialPort();
  ~TQtSerialPort() override;

  // "ttyUSB0" and "pts/3" are looked up under /dev/; an absolute path is used as it is.
  void SetPortName(const std::string& name) override { FName = name; }
  std::string PortName() const override { return FName; }
  void SetBaudRate(int bps) override;
  int BaudRate() const override { return FBaudRate; }
  void SetParity(int code) override;
  int Parity() const override { return FParity; }
  void SetFlowControl(int code) override;
  int FlowControl() const override { return FFlowControl; }
  bool Open() override;
  void Close() override;
  bool IsOpen() const override { return FPort.isOpen(); }
  int Write(const uint8_t* data, int count) override;
  int BytesWaiting() const override;
  int Read(uint8_t* data, int count) override;

 private:
  void HandleError(QSerialPort::SerialPortError error);

  QSerialPort FPort;
  std::string FName;
  int FBaudRate = 9600;
  int FParity = 0;
  int FFlowControl = 0;
  // Errors expected while opening and setting the modem lines are not events.
  bool FQuiet = false;
};
