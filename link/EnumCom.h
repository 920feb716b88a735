// Listing of the serial ports present on the PC, each with its port name and
// the description the system keeps for it. Created for one listing, used and
// thrown away; the system side is a lister the caller hands in.
#pragma once
#include <memory>
#include <string>
#include <vector>

struct COMPPORT_NMAE {
  std::string PortName;    // e.g. COM3, or ttyUSB0 off Windows
  std::string DeviceDesc;  // empty when the system has none
};

// Where the ports come from: the system (app/), or a fixed list (tests).
class ISerialPortLister {
 public:
  virtual ~ISerialPortLister() = default;
  // The present ports in the system's own order; false when the system's
  // device set cannot be obtained.
  virtual bool ListPorts(std::vector<COMPPORT_NMAE>& ports) = 0;
};

class TEnumCom {
 public:
  explicit TEnumCom(ISerialPortLister& lister) : FLister(lister) {}
  ~TEnumCom() { ClearPorts(); }
  TEnumCom(const TEnumCom&) = delete;
  TEnumCom& operator=(const TEnumCom&) = delete;

  // Appends the present ports to the list and sorts it; returns the number of
  // devices visited (0, list unchanged, when the system gives no device set).
  int EnumPorts();
  void AddPort(const std::string& portName, const std::string& deviceDesc);
  void SortPorts();
  void ClearPorts();

  int Count() const { return static_cast<int>(FPorts.size()); }
  const COMPPORT_NMAE& Port(int index) const { return *FPorts[static_cast<size_t>(index)]; }

 private:
  ISerialPortLister& FLister;
  std::vector<std::unique_ptr<COMPPORT_NMAE>> FPorts;
};

// Order of two entries by port name, letter case ignored; a name of exactly
// four characters counts as if a "0" stood before its fourth (COM3 as COM03),
// so that COM1..COM9 come before COM10..COM99.
int ComparePortNames(const COMPPORT_NMAE& a, const COMPPORT_NMAE& b);

// The serial dialog's list entry of a port: "COM3(USB Serial Device)".
std::string PortEntryText(const COMPPORT_NMAE& port);
// The port name of an entry: its text up to the first "(".
std::string EntryPortName(const std::string& entry);
