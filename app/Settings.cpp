#include "app/Settings.h"

#include <QFileInfo>

#include "app/IniFile.h"
#include "link/FlashWrRXCont.h"
#include "link/PortNames.h"

QString IniFileNameFor(const QString& programPath) {
  const QFileInfo info(programPath);
  const QString name = info.fileName();
  const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
  const QString iniName = dot < 0 ? name + QStringLiteral(".ini") : name.left(dot + 1) + "ini";
  const QString dir = programPath.left(programPath.size() - name.size());
  return dir + iniName;
}

void LoadSettings(const QString& iniFileName, TFlashWrRXCont& cont, tagCOMPara& mainComPara) {
  TIniFile ini;
  ReadIniFile(iniFileName, &ini, nullptr);  // unreadable: defaults, no message
  const std::string s = kSettingsSection;
  cont.FLinkKind = ini.ReadInteger(s, "Use_USB_TCP", kDefaultLinkKind);
  const int32_t port = ini.ReadInteger(s, "Port", kDefaultComPort);
  mainComPara.Port = port;
  cont.FComPara.Port = port;
  // The port component carries the number too, so that a run that never
  // opens the serial port saves the stored number back instead of the
  // constructor's placeholder.
  cont.CommX1->SetPortName(ComPortName(port));
  cont.FTcpPara.TCPPort = ini.ReadInteger(s, "TCPPort", kDefaultTcpPort);
  cont.FTcpPara.TCPServPort = ini.ReadInteger(s, "TCPServPort", kDefaultTcpServPort);
  cont.FTcpPara.fTCPServer = ini.ReadInteger(s, "fTCPServer", kDefaultTcpServer);
  cont.FTcpPara.TCPServAddr = ini.ReadString(s, "TCPServAddr").value_or(kDefaultIfbAddress);
}

bool SaveSettings(const QString& iniFileName, TFlashWrRXCont& cont, tagCOMPara& mainComPara,
                  QString* error) {
  // All six keys go to the file in one atomic replace: a failure leaves the
  // previous file whole rather than half updated.
  // A file that is there but cannot be read is not replaced by six lines.
  TIniFile ini;
  if (!ReadIniFile(iniFileName, &ini, error)) return false;
  const std::string s = kSettingsSection;
  ini.WriteInteger(s, "Use_USB_TCP", cont.FLinkKind);
  mainComPara = cont.GetComPara();
  ini.WriteInteger(s, "Port", mainComPara.Port);
  ini.WriteInteger(s, "TCPPort", cont.FTcpPara.TCPPort);
  ini.WriteInteger(s, "TCPServPort", cont.FTcpPara.TCPServPort);
  ini.WriteInteger(s, "fTCPServer", cont.FTcpPara.fTCPServer);
  ini.WriteString(s, "TCPServAddr", cont.FTcpPara.TCPServAddr);
  return SaveIniFile(iniFileName, ini, error);
}
