#include "reader/ParamBackupFile.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <system_error>

#if __has_include(<unistd.h>) && __has_include(<fcntl.h>)
#include <fcntl.h>
#include <unistd.h>
#define QVX_HAVE_FSYNC 1
#endif

namespace fs = std::filesystem;

namespace ParamBackupFile {

namespace {

constexpr char kMagic[8] = {'Q', 'V', 'X', 'P', 'A', 'R', 'A', 'M'};
constexpr size_t kVersionPos = 8;
constexpr size_t kCountPos = 10;
constexpr size_t kRomVersionPos = 12;
constexpr size_t kImagePos = kRomVersionPos + kRomVersionField;
constexpr size_t kHeaderBytes = kImagePos;
constexpr char kPrefix[] = "params-";
constexpr char kExtension[] = ".qvxparam";
constexpr char kTempSuffix[] = ".tmp";
constexpr int kMaxNameTries = 100;

uint32_t Crc32(const uint8_t* data, size_t count) {
  static const std::array<uint32_t, 256> table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[i] = c;
    }
    return t;
  }();
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < count; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFFu;
}

void Put16(std::vector<uint8_t>& b, size_t pos, uint16_t v) {
  b[pos] = static_cast<uint8_t>(v & 0xFF);
  b[pos + 1] = static_cast<uint8_t>(v >> 8);
}

uint16_t Get16(const std::vector<uint8_t>& b, size_t pos) {
  return static_cast<uint16_t>(b[pos] | b[pos + 1] << 8);
}

uint32_t Get32(const std::vector<uint8_t>& b, size_t pos) {
  return static_cast<uint32_t>(b[pos]) | static_cast<uint32_t>(b[pos + 1]) << 8 |
         static_cast<uint32_t>(b[pos + 2]) << 16 | static_cast<uint32_t>(b[pos + 3]) << 24;
}

// The version text as it goes into a file name: letters and digits only.
std::string NamePart(const std::string& romVersion) {
  std::string s;
  for (char ch : romVersion) {
    if (ch == '\0') break;
    s += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
  }
  while (!s.empty() && s.back() == '_') s.pop_back();
  return s.empty() ? "unknown" : s;
}

bool IsBackupName(const std::string& name) {
  const std::string ext = kExtension;
  return name.rfind(kPrefix, 0) == 0 && name.size() > ext.size() &&
         name.compare(name.size() - ext.size(), ext.size(), ext) == 0;
}

// Flushes the file to the disk where the platform lets us.
bool SyncFile(std::FILE* f) {
  if (std::fflush(f) != 0) return false;
#ifdef QVX_HAVE_FSYNC
  if (::fsync(::fileno(f)) != 0) return false;
#endif
  return true;
}

// Makes the rename itself durable; a failure here loses nothing written.
void SyncFolder(const fs::path& folder) {
#ifdef QVX_HAVE_FSYNC
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
#else
  (void)folder;
#endif
}

std::string Quoted(const fs::path& p) {
  return "\"" + p.string() + "\"";
}

}  // namespace

fs::path DefaultFolder() {
  if (const char* dir = std::getenv(kFolderVariable); dir && *dir) return fs::path(dir);
  fs::path base;
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg && fs::path(xdg).is_absolute()) {
    base = xdg;
  } else if (const char* home = std::getenv("HOME"); home && *home) {
    base = fs::path(home) / ".local" / "share";
#ifdef _WIN32
  } else if (const char* local = std::getenv("LOCALAPPDATA"); local && *local) {
    base = local;
#endif
  } else {
    return {};
  }
  return base / "qvxupdate" / "param-backups";
}

std::vector<uint8_t> Encode(const TParamBackup& backup) {
  std::vector<uint8_t> b(kFileBytes, 0);
  std::copy(std::begin(kMagic), std::end(kMagic), b.begin());
  Put16(b, kVersionPos, kFormatVersion);
  Put16(b, kCountPos, static_cast<uint16_t>(kWordCount));
  const size_t n = std::min(backup.RomVersion.size(), kRomVersionField);
  std::copy_n(backup.RomVersion.begin(), n, b.begin() + kRomVersionPos);
  const size_t image = std::min(backup.Image.size(), kImageBytes);
  std::copy_n(backup.Image.begin(), image, b.begin() + kImagePos);
  const uint32_t crc = Crc32(b.data(), kFileBytes - 4);
  for (int i = 0; i < 4; ++i) b[kFileBytes - 4 + i] = static_cast<uint8_t>(crc >> (8 * i));
  return b;
}

bool Decode(const std::vector<uint8_t>& b, TParamBackup& out, std::string& error) {
  if (b.size() < kHeaderBytes) {
    error = "too short to be a parameter backup (" + std::to_string(b.size()) + " bytes)";
    return false;
  }
  if (!std::equal(std::begin(kMagic), std::end(kMagic), b.begin())) {
    error = "not a parameter backup file";
    return false;
  }
  if (const uint16_t v = Get16(b, kVersionPos); v != kFormatVersion) {
    error = "unsupported backup format version " + std::to_string(v);
    return false;
  }
  if (const uint16_t n = Get16(b, kCountPos); n != kWordCount) {
    error = "holds " + std::to_string(n) + " words, " + std::to_string(kWordCount) + " expected";
    return false;
  }
  if (b.size() != kFileBytes) {
    error = b.size() < kFileBytes
                ? "truncated (" + std::to_string(b.size()) + " of " + std::to_string(kFileBytes) +
                      " bytes)"
                : "has " + std::to_string(b.size() - kFileBytes) + " bytes after its end";
    return false;
  }
  if (Crc32(b.data(), kFileBytes - 4) != Get32(b, kFileBytes - 4)) {
    error = "damaged (checksum mismatch)";
    return false;
  }
  const auto rom = b.begin() + kRomVersionPos;
  out.RomVersion.assign(rom, std::find(rom, rom + kRomVersionField, uint8_t{0}));
  out.Image.assign(b.begin() + kImagePos, b.begin() + kImagePos + kImageBytes);
  return true;
}

std::string FileName(std::chrono::system_clock::time_point when, const std::string& romVersion) {
  const std::time_t t = std::chrono::system_clock::to_time_t(when);
  char stamp[32] = "00000000-000000";
  if (const std::tm* local = std::localtime(&t))
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", local);
  return std::string(kPrefix) + stamp + "-" + NamePart(romVersion) + kExtension;
}

bool Write(const fs::path& folder, const TParamBackup& backup, fs::path& written,
           std::string& error, std::chrono::system_clock::time_point when) {
  written.clear();
  if (folder.empty()) {
    error = "no folder for parameter backups (set HOME or " + std::string(kFolderVariable) + ")";
    return false;
  }
  if (backup.Image.size() != kImageBytes) {
    error = "parameter image of " + std::to_string(backup.Image.size()) + " bytes";
    return false;
  }
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (ec || !fs::is_directory(folder)) {
    error = "cannot create the backup folder " + Quoted(folder) +
            (ec ? ": " + ec.message() : std::string());
    return false;
  }
  // Never replace an existing backup: backups made in the same second get a number.
  const std::string name = FileName(when, backup.RomVersion);
  const std::string stem = name.substr(0, name.size() - std::strlen(kExtension));
  fs::path target;
  for (int k = 1; k <= kMaxNameTries && target.empty(); ++k) {
    const fs::path candidate =
        folder / (k == 1 ? name : stem + "-" + std::to_string(k) + kExtension);
    if (!fs::exists(candidate, ec) && !fs::exists(candidate.string() + kTempSuffix, ec))
      target = candidate;
  }
  if (target.empty()) {
    error = "no free backup file name in " + Quoted(folder);
    return false;
  }
  const fs::path temp = target.string() + kTempSuffix;
  const std::vector<uint8_t> bytes = Encode(backup);
  std::FILE* f = std::fopen(temp.string().c_str(), "wbx");
  if (!f) {
    error = "cannot create " + Quoted(temp) + ": " + std::strerror(errno);
    return false;
  }
  const bool complete = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  const bool synced = complete && SyncFile(f);
  const int closeResult = std::fclose(f);
  if (!complete || !synced || closeResult != 0) {
    error = "cannot write " + Quoted(temp) + ": " + std::strerror(errno);
    fs::remove(temp, ec);
    return false;
  }
  fs::rename(temp, target, ec);
  if (ec) {
    error = "cannot rename " + Quoted(temp) + ": " + ec.message();
    fs::remove(temp, ec);
    return false;
  }
  SyncFolder(folder);
  written = target;
  return true;
}

bool Read(const fs::path& path, TParamBackup& out, std::string& error) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) {
    error = Quoted(path) + " is not a file";
    return false;
  }
  // Anything much larger than a backup is refused before it is read.
  const auto size = fs::file_size(path, ec);
  if (ec || size > 2 * kFileBytes) {
    error = Quoted(path) + (ec ? ": " + ec.message() : " is too large to be a parameter backup");
    return false;
  }
  std::FILE* f = std::fopen(path.string().c_str(), "rb");
  if (!f) {
    error = "cannot open " + Quoted(path) + ": " + std::strerror(errno);
    return false;
  }
  std::vector<uint8_t> bytes(static_cast<size_t>(size));
  const size_t got = std::fread(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
  bytes.resize(got);
  std::string why;
  if (!Decode(bytes, out, why)) {
    error = Quoted(path) + ": " + why;
    return false;
  }
  return true;
}

void Prune(const fs::path& folder, int keep, const std::vector<fs::path>& spare) {
  struct TEntry {
    fs::file_time_type Time;
    fs::path Path;
  };
  std::vector<TEntry> backups;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    if (!it->is_regular_file(ec) || !IsBackupName(it->path().filename().string())) continue;
    backups.push_back({it->last_write_time(ec), it->path()});
  }
  std::sort(backups.begin(), backups.end(), [](const TEntry& a, const TEntry& b) {
    return a.Time != b.Time ? a.Time > b.Time : a.Path.filename() > b.Path.filename();
  });
  int kept = 0;
  for (const TEntry& e : backups) {
    const bool isSpare = std::any_of(spare.begin(), spare.end(), [&](const fs::path& s) {
      std::error_code sameEc;
      return fs::equivalent(s, e.Path, sameEc);
    });
    if (isSpare || kept < keep) {
      ++kept;
      continue;
    }
    fs::remove(e.Path, ec);
  }
}

}  // namespace ParamBackupFile
