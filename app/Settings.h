// The settings file beside the program: how the reader was reached last time.
// Read once when the main window is built, written once when it closes.
#pragma once
#include <cstdint>

#include <QString>

#include "link/ComPara.h"

class TFlashWrRXCont;

inline constexpr char kSettingsSection[] = "Option";

// Values used when a key is missing or not a number. The first start thus
// opens with the TCP/IP dialog.
inline constexpr int32_t kDefaultLinkKind = 1;
inline constexpr int32_t kDefaultComPort = 1;
inline constexpr int32_t kDefaultTcpPort = 10777;
inline constexpr int32_t kDefaultTcpServPort = 9004;
inline constexpr int32_t kDefaultTcpServer = 0;

// The settings file of a program: the text after the file name's last "."
// replaced by "ini" (X.exe gives X.ini), or ".ini" appended to a name
// without one.
QString IniFileNameFor(const QString& programPath);

// Reads the six keys of section "Option" into the controller (link kind,
// TCP/IP parameters, serial port) and into the main window's serial record.
// A missing or unreadable file gives the defaults.
void LoadSettings(const QString& iniFileName, TFlashWrRXCont& cont, tagCOMPara& mainComPara);

// Writes the six keys from the controller, refreshing the main window's serial
// record from the controller's port first. Every other line of the file stays
// as it was. False with a readable reason in *error when the file cannot be
// written; the old file is then untouched.
bool SaveSettings(const QString& iniFileName, TFlashWrRXCont& cont, tagCOMPara& mainComPara,
                  QString* error);
