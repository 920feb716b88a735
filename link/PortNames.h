// Serial port names and their stable numbers. Windows numbers COM ports;
// elsewhere device families map to number ranges so that the settings file
// can keep a number: ttyS<k> = k+1, ttyUSB<k> = 257+k, ttyACM<k> = 513+k,
// pts/<k> = 769+k.
#pragma once
#include <string>

// The port name for a number ("COM3" on Windows, "ttyUSB0" elsewhere).
std::string ComPortName(int number);

// The number for a port name or device path; 0 when it has none.
int ComPortNumber(const std::string& name);
