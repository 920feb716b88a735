// What the connection dialogs need from the system: the present serial
// ports, the PC's own IPv4 addresses, and the system's device and network
// settings windows.
#pragma once
#include <cstdint>
#include <vector>

#include <QString>
#include <QStringList>

#include "link/EnumCom.h"

class QWidget;

// The serial ports as QSerialPortInfo sees them, named as link/PortNames.h
// maps them (COMn on Windows, ttyUSB0 and the like elsewhere). Devices whose
// name has no port number there (the dialog could not open them) are left out.
class TSystemPortLister : public ISerialPortLister {
 public:
  bool ListPorts(std::vector<COMPPORT_NMAE>& ports) override;
};

// One IPv4 address of the PC with its net mask, both in network byte order
// (first byte of the dotted form in the lowest byte).
struct TLocalAddress {
  uint32_t Addr = 0;
  uint32_t Mask = 0;
};

class ILocalAddressSource {
 public:
  virtual ~ILocalAddressSource() = default;
  // Appends the PC's IPv4 addresses in the system's order; false (and
  // nothing appended) when the table cannot be read.
  virtual bool LoadAddresses(std::vector<TLocalAddress>& list) = 0;
};

// The addresses of the interfaces that are up, from QNetworkInterface.
class TSystemAddressSource : public ILocalAddressSource {
 public:
  bool LoadAddresses(std::vector<TLocalAddress>& list) override;
};

// A settings window of the system, as a program and its arguments.
enum class TSettingsPanel { DeviceManager, NetworkConnections };
struct TSettingsCommand {
  QString Program;  // empty when the system has none
  QStringList Arguments;
};
// The first candidate for the panel whose program exists (findExecutable
// gives the full path of a program name, or empty).
TSettingsCommand FindSettingsCommand(TSettingsPanel panel,
                                     QString (*findExecutable)(const QString&));

// Opens the panel; where the system has none, says so in a message box.
void OpenSettingsPanel(TSettingsPanel panel, QWidget* parent);
