#include "support/ScriptedLink.h"

TBytes MakeReaderFrame(uint8_t third, const TBytes& data) {
  // Built byte by byte: GCC 12 warns falsely on insert into a fresh vector.
  TBytes f;
  f.reserve(data.size() + 7);
  for (uint8_t b : {uint8_t{0x02}, uint8_t{0x00}, third, static_cast<uint8_t>(data.size())})
    f.push_back(b);
  for (uint8_t b : data) f.push_back(b);
  f.push_back(0x03);
  uint8_t sum = 0;
  for (uint8_t b : f) sum = static_cast<uint8_t>(sum + b);
  f.push_back(sum);
  f.push_back(0x0D);
  return f;
}

std::unique_ptr<TFlashWrRXCont> MakeQuietController(IHost& host, ILinkFactory& links, IUi& ui,
                                                    const tagCOMPara& para) {
  auto c = std::make_unique<TFlashWrRXCont>(host, links, ui, para);
  c->FTxTrace = 0;
  c->FRxTrace = 0;
  return c;
}

void AddSimReaderEndpoints(TSimLinkFactory& links, TSimDevice* reader) {
  links.AddSerialDevice("ttyUSB0", reader);
  links.AddTcpEndpoint("10.1.2.3", 9004, reader);
}

bool OpenSimReaderLink(TFlashWrRXCont& c, bool tcp) {
  if (!tcp) return c.OpenComPort(ComPortNumber("ttyUSB0"));
  c.FLinkKind = 1;
  return c.OpenTcpLink(10777, 0, 9004, "10.1.2.3");
}
