// Prints how long a whole firmware download takes and how much memory it
// needs: against the simulated unit in virtual time (the host CPU cost of the
// tool's own code) and, with the line rate modelled, the time the same
// transfer takes on a 115200 bit/s serial line.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "app/ImageSource.h"
#include "link/FlashWrRXCont.h"
#include "link/PortNames.h"
#include "sim/InProcessLink.h"
#include "sim/SimUnit.h"
#include "sim/VirtualHost.h"

namespace {

class TQuietUi : public IUi {
 public:
  int LogLineCount() override { return FLines; }
  void LogClear() override { FLines = 0; }
  void LogAppendLine(const std::string&) override { ++FLines; }
  void ShowMessage(const std::string& text, TMsgKind) override {
    std::fprintf(stderr, "message: %s\n", text.c_str());
  }

 private:
  int FLines = 0;
};

struct TResult {
  bool Ok = false;
  double RealMs = 0;
  double VirtualMs = 0;
};

TResult RunOnce(bool modelLineRate) {
  TVirtualHost host;
  TSimLinkFactory links(host);
  std::string error;
  auto unit = TSimUnit::Create(host, TSimLink::Serial, {}, &error);
  unit->Reader().FThrottle = modelLineRate;
  links.AddSerialDevice("ttyUSB0", &unit->Reader());
  TQuietUi ui;
  TQtImageSource images;
  tagCOMPara para;
  para.BaudRate = 115200;
  TFlashWrRXCont c(host, links, ui, para);
  c.FTxTrace = 0;
  c.FRxTrace = 0;
  c.FImageSource = &images;
  c.OpenComPort(ComPortNumber("ttyUSB0"));

  const uint64_t v0 = host.NowMs();
  const auto t0 = std::chrono::steady_clock::now();
  TResult r;
  r.Ok = c.DownloadFirmware() != 0 && (c.EndProcessing() & 0xFF) != 0;
  r.RealMs =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
  r.VirtualMs = static_cast<double>(host.NowMs() - v0);
  c.CloseLink();
  host.RunFor(10000);
  return r;
}

}  // namespace

int main() {
  const TResult plain = RunOnce(false);
  const TResult line = RunOnce(true);
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("download + end processing, simulated unit, embedded images\n");
  std::printf("  result                         %s / %s\n", plain.Ok ? "OK" : "NG",
              line.Ok ? "OK" : "NG");
  std::printf("  host CPU time (wall, virtual)  %.1f ms\n", plain.RealMs);
  std::printf("  modelled time, no line rate    %.1f s\n", plain.VirtualMs / 1000.0);
  std::printf("  modelled time at 115200 bit/s  %.1f s\n", line.VirtualMs / 1000.0);
  std::printf("  peak resident memory           %.1f MiB\n", usage.ru_maxrss / 1024.0);
  return plain.Ok && line.Ok ? 0 : 1;
}
