// The reader's parameter memory kept in a file, so that a restore that stops
// half-way (or a crash) never takes the reader's own settings with it.
//
// File layout (little-endian):
//   0   8  magic "QVXPARAM"
//   8   2  format version (1)
//   10  2  word count (736)
//   12 16  the reader's ROM version text, NUL-padded
//   28 4n  the words, 4 bytes each, as the reader sends them
//   ..  4  CRC-32 (IEEE) of everything before it
#pragma once
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace ParamBackupFile {

constexpr int kWordCount = 736;
constexpr int kWordBytes = 4;
constexpr size_t kImageBytes = static_cast<size_t>(kWordCount) * kWordBytes;
constexpr uint16_t kFormatVersion = 1;
constexpr size_t kRomVersionField = 16;
constexpr size_t kFileBytes = 28 + kImageBytes + 4;
// Backups kept in the folder; older ones are deleted after a new one is written.
constexpr int kKeepBackups = 20;
// Overrides the folder (tests, or an operator who wants them elsewhere).
constexpr char kFolderVariable[] = "QVX_BACKUP_DIR";

struct TParamBackup {
  std::string RomVersion;      // at most kRomVersionField characters
  std::vector<uint8_t> Image;  // kImageBytes
};

// QVX_BACKUP_DIR, else $XDG_DATA_HOME/qvxupdate/param-backups, else
// ~/.local/share/qvxupdate/param-backups; empty when none can be told.
std::filesystem::path DefaultFolder();

std::vector<uint8_t> Encode(const TParamBackup& backup);
// False with a reason when the bytes are not a complete, intact backup.
bool Decode(const std::vector<uint8_t>& bytes, TParamBackup& out, std::string& error);

// "params-YYYYMMDD-HHMMSS-<rom version>.qvxparam" in local time.
std::string FileName(std::chrono::system_clock::time_point when, const std::string& romVersion);

// Writes the backup under a new name in folder (created when missing): a
// temporary file is written, flushed and synced, then renamed, so the folder
// only ever holds complete backups. False with a reason on any failure.
bool Write(const std::filesystem::path& folder, const TParamBackup& backup,
           std::filesystem::path& written, std::string& error,
           std::chrono::system_clock::time_point when = std::chrono::system_clock::now());
bool Read(const std::filesystem::path& path, TParamBackup& out, std::string& error);

// Deletes all but the newest keep backups in folder; the files in spare are
// never deleted (the one just written, the one being restored from).
void Prune(const std::filesystem::path& folder, int keep,
           const std::vector<std::filesystem::path>& spare);

}  // namespace ParamBackupFile
