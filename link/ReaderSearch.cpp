// The serial connection step: the port dialog, then the reader search on the
// chosen port or on every listed port, or in re-write mode the port opened
// without a search.
#include <exception>

#include "link/EnumCom.h"
#include "link/FlashWrRXCont.h"
#include "link/PortNames.h"

namespace {

constexpr char kPleaseWaitCaption[] = "しばらくお待ちください";
constexpr char kCheckReaderLine[] = "------- Check QVX R/W ----------";
constexpr char kComSelectTitle[] = "COM選択エラー";
constexpr char kComSelectText[] = "COM選択に問題があります。\n\nCOMの再選択をしてください。";
constexpr char kReWriteLine[] = "再書き込みモードで、ファームのアップデートを実行します。";

// The operation-mode command the search uses as its presence probe.
constexpr bool kProbeFlag = false;
constexpr uint8_t kProbeB1 = 0, kProbeB2 = 0, kProbeB3 = 8;
constexpr uint16_t kProbeWord = 0;

int SpeedItemOf(int baudRate) {
  switch (baudRate) {
    case 9600:
      return kSpeedItem9600;
    case 38400:
      return kSpeedItem38400;
    case 115200:
      return kSpeedItem115200;
    default:
      return kSpeedItem19200;
  }
}

int BaudRateOf(int speedItem) {
  switch (speedItem) {
    case kSpeedItem9600:
      return 9600;
    case kSpeedItem19200:
      return 19200;
    case kSpeedItem38400:
      return 38400;
    default:
      return 115200;
  }
}

}  // namespace

bool TFlashWrRXCont::SelectComPort(int writeSpeedIndex) {
  TSerialPortDialogSetup setup;
  setup.PortName = ComPortName(FComPara.Port);
  setup.SpeedItem = SpeedItemOf(FComPara.BaudRate);
  setup.WriteSpeedItem = writeSpeedIndex;
  // The write-speed selection comes back too but changes nothing.
  const TSerialPortChoice choice = FUi.RunSerialPortDialog(setup, FReWriteMode);

  if (choice.ModalResult == kModalTypeChange) {
    FUi.SetConnected(0);
    FLinkKind = 1;
    return false;
  }
  if (choice.ModalResult != kModalOk) {
    FUi.SetConnected(1);
    FProgramEnding = 1;
    FUi.CloseMainWindow();
    return false;
  }

  FUi.SetConnected(1);
  if (choice.Selected < 0 || choice.Selected >= static_cast<int>(choice.Entries.size())) {
    FUi.SetConnected(0);
    FUi.ShowMessageTitled(kComSelectTitle, kComSelectText, TMsgKind::Warning);
    return false;
  }
  const std::string& selected = choice.Entries[static_cast<size_t>(choice.Selected)];

  if (FReWriteMode) {
    AddLog(kReWriteLine, true);
    FComPara.Port = ComPortNumber(EntryPortName(selected));
    FComPara.BaudRate = BaudRateOf(choice.SpeedItem);
    CommX1->SetBaudRate(FComPara.BaudRate);
    CommX1->SetParity(static_cast<int>(FComPara.Parity & 0xFF));
    CommX1->SetFlowControl(static_cast<int>(FComPara.FlowControl));
    OpenComPort(FComPara.Port);  // a failure has shown its message
    return true;
  }

  CommX1->SetParity(static_cast<int>(FComPara.Parity & 0xFF));
  CommX1->SetFlowControl(static_cast<int>(FComPara.FlowControl));
  if (choice.AutoCheck) return SearchReaderList(choice.Entries);
  return SearchReaderPort(selected);
}

bool TFlashWrRXCont::SearchReaderPort(const std::string& entry) {
  return SearchReaderList({entry});
}

bool TFlashWrRXCont::SearchReaderList(const std::vector<std::string>& entries) {
  FUi.ShowPleaseWait(kPleaseWaitCaption, kCheckReaderLine);
  FUi.SetStatusText(kCheckReaderLine);
  FHost.ProcessMessages();

  bool found = false;
  try {
    for (const std::string& entry : entries) {
      FHost.ProcessMessages();
      // An entry whose name carries no port number cannot be opened; the
      // list search goes on with the next one.
      const int n = ComPortNumber(EntryPortName(entry));
      if (n <= 0) continue;
      const std::string check = "Check PORT:" + std::to_string(n);
      AddLog(check, false);
      FHost.ProcessMessages();
      FComPara.BaudRate = kSearchBaudRate;
      FUi.SetPleaseWaitLabel(check + " 115.2kbps");
      CommX1->SetBaudRate(FComPara.BaudRate);
      CommX1->SetParity(static_cast<int>(FComPara.Parity & 0xFF));
      CommX1->SetFlowControl(static_cast<int>(FComPara.FlowControl));
      OpenComPort(n);
      if (CommX1->IsOpen() && ProbeReader()) {
        found = true;
        break;
      }
    }
    if (found) {
      FComPara.Port = ComPortNumber(CommX1->PortName());
      FComPara.BaudRate = CommX1->BaudRate();
      FUi.StoreMainComPara(FComPara);
      AddLog("Find QVX R/W ", true);
      AddLog("PORT   : " + std::to_string(FComPara.Port), true);
      AddLog("Speed  : " + std::to_string(FComPara.BaudRate), true);
    }
  } catch (const std::exception&) {
    found = false;
  }

  FUi.SetStatusText("");
  FUi.ClosePleaseWait();
  return found;
}

bool TFlashWrRXCont::ProbeReader() {
  if (!CommX1->IsOpen()) return false;
  try {
    const bool answered = DousaModeSet(kProbeFlag, kProbeB1, kProbeB2, kProbeB3, kProbeWord) ||
                          DousaModeSet(kProbeFlag, kProbeB1, kProbeB2, kProbeB3, kProbeWord);
    return answered && ReadRomVersion(true);
  } catch (const std::exception&) {
    return false;
  }
}
