#include "app/Platform.h"

#include <QHostAddress>
#include <QMessageBox>
#include <QNetworkInterface>
#include <QProcess>
#include <QSerialPortInfo>
#include <QStandardPaths>
#include <QWidget>

#include "link/IpAddress.h"
#include "link/PortNames.h"

namespace {

struct TCandidate {
  const char* Program;
  QStringList Arguments;
};

// Programs that show the devices, or the network connections, in order of
// preference. Windows has one of each; Linux desktops differ.
QList<TCandidate> Candidates(TSettingsPanel panel) {
#ifdef Q_OS_WIN
  if (panel == TSettingsPanel::DeviceManager) return {{"mmc.exe", {"devmgmt.msc"}}};
  return {{"control.exe", {"ncpa.cpl,,"}}};
#else
  if (panel == TSettingsPanel::DeviceManager)
    return {{"hardinfo2", {}}, {"hardinfo", {}}, {"kinfocenter", {}}};
  return {{"nm-connection-editor", {}},
          {"gnome-control-center", {"network"}},
          {"systemsettings", {"kcm_networkmanagement"}},
          {"kcmshell6", {"kcm_networkmanagement"}},
          {"kcmshell5", {"kcm_networkmanagement"}}};
#endif
}

QString FindOnPath(const QString& name) {
  return QStandardPaths::findExecutable(name);
}

uint32_t FromQt(quint32 hostOrder) {
  return MakeAddr(static_cast<int>(hostOrder >> 24), static_cast<int>(hostOrder >> 16),
                  static_cast<int>(hostOrder >> 8), static_cast<int>(hostOrder));
}

const char kNoDeviceManager[] =
    "この環境にはデバイスマネージャーがありません。\n\n"
    "シリアルポートは /dev/ttyUSB*, /dev/ttyACM*, /dev/ttyS* として現れます。";
const char kNoNetworkPanel[] =
    "この環境ではネットワーク接続の設定画面を開けません。\n\n"
    "システムの設定からネットワークを確認してください。";

}  // namespace

bool TSystemPortLister::ListPorts(std::vector<COMPPORT_NMAE>& ports) {
  for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
    const std::string name = info.portName().toStdString();
    if (ComPortNumber(name) == 0) continue;
    ports.push_back({name, info.description().toStdString()});
  }
  return true;
}

bool TSystemAddressSource::LoadAddresses(std::vector<TLocalAddress>& list) {
  for (const QNetworkInterface& iface : QNetworkInterface::allInterfaces()) {
    if (!(iface.flags() & QNetworkInterface::IsUp)) continue;
    for (const QNetworkAddressEntry& entry : iface.addressEntries()) {
      if (entry.ip().protocol() != QAbstractSocket::IPv4Protocol) continue;
      list.push_back({FromQt(entry.ip().toIPv4Address()), FromQt(entry.netmask().toIPv4Address())});
    }
  }
  return true;
}

TSettingsCommand FindSettingsCommand(TSettingsPanel panel,
                                     QString (*findExecutable)(const QString&)) {
  for (const TCandidate& c : Candidates(panel)) {
    const QString path = findExecutable(QString::fromLatin1(c.Program));
    if (!path.isEmpty()) return {path, c.Arguments};
  }
  return {};
}

void OpenSettingsPanel(TSettingsPanel panel, QWidget* parent) {
  const TSettingsCommand cmd = FindSettingsCommand(panel, FindOnPath);
  if (!cmd.Program.isEmpty() && QProcess::startDetached(cmd.Program, cmd.Arguments)) return;
  const char* text = panel == TSettingsPanel::DeviceManager ? kNoDeviceManager : kNoNetworkPanel;
  QMessageBox box(QMessageBox::Information, parent ? parent->windowTitle() : QString(),
                  QString::fromUtf8(text), QMessageBox::Ok, parent);
  box.exec();
}
