// The TCP/IP connection step: the address dialog, the link as client or
// server, and the reader's ROM version as its sign of life.
#include <cstring>

#include "link/FlashWrRXCont.h"

namespace {
constexpr char kPleaseWaitCaption[] = "しばらくお待ちください";
constexpr char kCheckReaderLine[] = "------- Check QVX R/W ----------";
constexpr char kTcpSelectTitle[] = "TCP/IP選択エラー";
constexpr char kTcpSelectText[] = "TCP/IP選択に問題があります。\n\nTCP/IPの再選択をしてください。";
constexpr char kReWriteLine[] = "再書き込みモードで、ファームのアップデートを実行します。";
constexpr size_t kRomVersionLength = 9;
}  // namespace

bool TFlashWrRXCont::SelectTcpIp() {
  const TTcpIpChoice choice = FUi.RunTcpIpDialog(FTcpPara, FReWriteMode);
  bool result = false;

  if (choice.ModalResult == kModalOk) {
    FUi.SetConnected(1);
    FUi.ShowPleaseWait(kPleaseWaitCaption, kCheckReaderLine);
    FUi.SetStatusText(kCheckReaderLine);  // stays after the search
    FHost.ProcessMessages();
    if (!choice.LocalAddressListed) {
      FUi.SetConnected(0);
      FUi.ShowMessageTitled(kTcpSelectTitle, kTcpSelectText, TMsgKind::Warning);
      result = false;
    } else {
      const tagTCPIPPara& p = choice.Para;
      result = OpenTcpLink(p.TCPPort, p.fTCPServer, p.TCPServPort, p.TCPServAddr);
      FUi.StoreLastTcpPara(p);
    }
    if (FReWriteMode) {
      AddLog(kReWriteLine, true);
    } else if (result) {
      ClearRxBuffer();
      result = false;
      if (ReadRomVersion(FUi.MainDetailLog())) {
        FRomVersion[kRomVersionLength] = '\0';
        AddLog(std::string("ROM Version : ") + FRomVersion, true);
        AddLog("Find QVX R/W", true);
        result = true;
      }
    }
  } else if (choice.ModalResult == kModalTypeChange) {
    FUi.SetConnected(0);
    FLinkKind = 0;
  } else {
    FUi.SetConnected(1);
    FProgramEnding = 1;
  }

  FUi.ClosePleaseWait();
  if (FProgramEnding) FUi.CloseMainWindow();
  return result;
}
