// The built-in simulated reader of --simulate: the simulator's whole unit
// (reader, interface board, boot monitor) inside this process, served in real
// time on a free TCP port, to which the tool connects as TCP client over the
// loopback.
#pragma once
#include <memory>

#include <QString>

#include "link/ComPara.h"
#include "link/Ui.h"

inline constexpr char kSimulatorAddress[] = "127.0.0.1";

class TBuiltInReader {
 public:
  TBuiltInReader();
  ~TBuiltInReader();
  TBuiltInReader(const TBuiltInReader&) = delete;
  TBuiltInReader& operator=(const TBuiltInReader&) = delete;

  // Starts listening; false with the reason when no port could be had.
  bool Start(QString* error);
  // The port it listens on (0 before Start).
  int Port() const;

 private:
  struct TImpl;
  std::unique_ptr<TImpl> F;
};

// The TCP/IP dialog's answer that connects to the simulator: client mode to
// its port, the stored listening port kept.
TTcpIpChoice SimulatedTcpChoice(int port, const tagTCPIPPara& stored);
