#include "link/qt/QtSerialPort.h"

#include <algorithm>
#include <cerrno>
#include <climits>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace {

QSerialPort::Parity ToQtParity(int code) {
  switch (code) {
    case 1:
      return QSerialPort::OddParity;
    case 2:
      return QSerialPort::EvenParity;
    case 3:
      return QSerialPort::MarkParity;
    case 4:
      return QSerialPort::SpaceParity;
    default:
      return QSerialPort::NoParity;
  }
}

QSerialPort::FlowControl ToQtFlow(int code) {
  if (code == 1) return QSerialPort::HardwareControl;
  if (code == 2) return QSerialPort::SoftwareControl;
  return QSerialPort::NoFlowControl;
}

const char* ErrorKind(QSerialPort::SerialPortError error) {
  switch (error) {
    case QSerialPort::DeviceNotFoundError:
      return "device not found";
    case QSerialPort::PermissionError:
      return "permission denied";
    case QSerialPort::OpenError:
      return "open error";
    case QSerialPort::WriteError:
      return "write error";
    case QSerialPort::ReadError:
      return "read error";
    case QSerialPort::ResourceError:
      return "device gone";
    case QSerialPort::UnsupportedOperationError:
      return "unsupported setting";
    case QSerialPort::TimeoutError:
      return "time-out";
    case QSerialPort::NotOpenError:
      return "port not open";
    default:
      return "line error";
  }
}

}  // namespace

TQtSerialPort::TQtSerialPort() {
  FPort.setDataBits(QSerialPort::Data8);
  FPort.setStopBits(QSerialPort::OneStop);
  FPort.setBaudRate(FBaudRate);
  QObject::connect(&FPort, &QSerialPort::readyRead, &FPort, [this] {
    const int waiting = BytesWaiting();
    if (waiting > 0 && OnRxChar) OnRxChar(waiting);
  });
  QObject::connect(&FPort, &QSerialPort::errorOccurred, &FPort,
                   [this](QSerialPort::SerialPortError e) { HandleError(e); });
}

TQtSerialPort::~TQtSerialPort() {
  QObject::disconnect(&FPort, nullptr, &FPort, nullptr);
  if (FPort.isOpen()) FPort.close();
}

void TQtSerialPort::SetBaudRate(int bps) {
  FBaudRate = bps;
  FPort.setBaudRate(bps);  // applied to the line at once when the port is open
}

void TQtSerialPort::SetParity(int code) {
  FParity = (code >= 0 && code <= 4) ? code : 0;
  FPort.setParity(ToQtParity(FParity));
}

void TQtSerialPort::SetFlowControl(int code) {
  FFlowControl = (code == 1 || code == 2) ? code : 0;
  FPort.setFlowControl(ToQtFlow(FFlowControl));
}

bool TQtSerialPort::Open() {
  if (FPort.isOpen()) return true;
  FPort.setPortName(QString::fromStdString(FName));
  FPort.setBaudRate(FBaudRate);
  FPort.setDataBits(QSerialPort::Data8);
  FPort.setStopBits(QSerialPort::OneStop);
  FPort.setParity(ToQtParity(FParity));
  FPort.setFlowControl(ToQtFlow(FFlowControl));
  // The caller reports a failed open; the modem lines may be missing (a
  // pseudo-terminal has none), which is no fault of the link.
  FQuiet = true;
  if (FPort.open(QIODevice::ReadWrite)) {
    FPort.setDataTerminalReady(false);
    if (FFlowControl != 1) FPort.setRequestToSend(false);
  }
  FPort.clearError();
  FQuiet = false;
  return FPort.isOpen();
}

void TQtSerialPort::Close() {
  if (FPort.isOpen()) FPort.close();
  FPort.clearError();
}

int TQtSerialPort::Write(const uint8_t* data, int count) {
  if (!FPort.isOpen() || count <= 0) return 0;
  int done = 0;
#ifdef Q_OS_UNIX
  // Hand the bytes to the driver now: QSerialPort would only write them from
  // the event loop, and a plain pause after sending must not hold them back.
  // Whatever the driver cannot take yet follows through Qt's buffer.
  if (FPort.bytesToWrite() == 0) {
    while (done < count) {
      const ssize_t n = ::write(FPort.handle(), data + done, static_cast<size_t>(count - done));
      if (n > 0) {
        done += static_cast<int>(n);
      } else if (n < 0 && errno == EINTR) {
        continue;
      } else if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
        return done;  // the line is gone; the read side reports it
      } else {
        break;
      }
    }
  }
#endif
  if (done < count &&
      FPort.write(reinterpret_cast<const char*>(data + done), count - done) != count - done)
    return done;
  return count;
}

int TQtSerialPort::BytesWaiting() const {
  return static_cast<int>(std::min<qint64>(FPort.bytesAvailable(), INT_MAX));
}

int TQtSerialPort::Read(uint8_t* data, int count) {
  if (count <= 0) return 0;
  const qint64 n = FPort.read(reinterpret_cast<char*>(data), count);
  return n > 0 ? static_cast<int>(n) : 0;
}

void TQtSerialPort::HandleError(QSerialPort::SerialPortError error) {
  if (error == QSerialPort::NoError || FQuiet) return;
  const std::string text =
      FName + ": " + ErrorKind(error) + " (" + FPort.errorString().toStdString() + ")";
  if (error == QSerialPort::ReadError || error == QSerialPort::ResourceError) {
    // A vanished device, or a pseudo-terminal whose other end closed, raises
    // this again on every pass of the event loop: close the port right away.
    if (!FPort.isOpen()) return;
    FPort.close();
  }
  FPort.clearError();
  if (OnError) OnError(text);
}
