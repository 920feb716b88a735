// The firmware version this build of the tool carries and writes.
#pragma once

inline constexpr int kFirmwareVersion = 2130;
inline constexpr char kFirmwareVersionText[] = "2130";
