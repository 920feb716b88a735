// Helpers for tests over real links: the Qt application object, a
// pseudo-terminal whose master the test holds, free loopback ports and the
// process's CPU time (to tell waiting from spinning).
#pragma once
#include <QCoreApplication>
#include <cstdint>
#include <string>
#include <vector>

using TByteVec = std::vector<uint8_t>;

// The one application object of a test executable (created on first use).
QCoreApplication& EnsureQtApp();

// A loopback TCP port nobody listens on at the moment of the call.
int FreeTcpPort();

// User plus system CPU seconds used by this process so far.
double CpuSeconds();

// 0, 1, ..., 255.
TByteVec AllByteValues();

// A pseudo-terminal in raw mode; the test is the device side (the master),
// the code under test opens SlavePath.
class TTestPty {
 public:
  TTestPty();
  ~TTestPty();
  TTestPty(const TTestPty&) = delete;
  TTestPty& operator=(const TTestPty&) = delete;

  bool Ok() const { return FMaster >= 0; }
  const std::string& SlavePath() const { return FSlavePath; }
  int Master() const { return FMaster; }

  void Write(const TByteVec& bytes);
  // Reads from the master until count bytes came or timeoutMs passed. It
  // does not run the Qt event loop: what arrives was sent without it.
  TByteVec Read(size_t count, int timeoutMs);
  // The device goes away: the slave side hangs up.
  void CloseMaster();

 private:
  int FMaster = -1;
  std::string FSlavePath;
};
