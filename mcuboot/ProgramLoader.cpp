// The program data loader: Intel HEX and Motorola S-record files into the
// controller's memory image of the target, and the image's CRC.
#include "mcuboot/ProgramLoader.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <new>
#include <random>
#include <system_error>

#include "link/Checksums.h"
#include "link/FlashWrRXCont.h"

namespace fs = std::filesystem;

namespace {
// The program area of a kind-1 device: one block below 64 KiB and 256-byte
// steps from 64 KiB up.
constexpr uint32_t kKind1LowStart = 0x4000;
constexpr uint32_t kKind1LowEnd = 0xDFFF;
constexpr uint32_t kKind1HighStart = 0x10000;
constexpr uint32_t kKind1Step = 256;
constexpr uint32_t kKind1MinHigh = 0xE000;

// Records at addresses whose bits 8-19 are all set (the fixed vectors) are
// skipped silently when they lie outside the image.
constexpr uint32_t kSkipMask = 0xFFF00;
constexpr uint32_t kMaxHexRecord = 128;
constexpr int kHexData = 0;
constexpr int kHexSegment = 2;

const char kOutOfRangeText[] = "データが、範囲外です！！";
const char kLoadedText[] = "プログラムデータ読み込み終了";

fs::path PathOf(const std::string& utf8) {
  return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

// HexStrToInt of the characters at 1-based positions p..q; characters past
// the end of the line are not there (a short line gives a short field).
uint32_t Field(const std::string& line, size_t p, size_t q) {
  if (p > line.size()) return 0;
  return static_cast<uint32_t>(HexStrToInt(line.substr(p - 1, q - p + 1)));
}

std::string Hex4(uint16_t v) {
  char s[5];
  std::snprintf(s, sizeof s, "%04X", v);
  return s;
}

std::string ExtensionUpper(const std::string& name) {
  const size_t dot = name.find_last_of('.');
  const size_t sep = name.find_last_of("/\\");
  if (dot == std::string::npos || (sep != std::string::npos && dot < sep)) return "";
  std::string ext = name.substr(dot);
  for (char& c : ext)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return ext;
}

fs::path ExecutableFolder() {
  std::error_code ec;
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
  if (!ec && self.has_parent_path()) return self.parent_path();
  return fs::current_path(ec);
}
}  // namespace

int32_t HexStrToInt(const std::string& text) {
  uint32_t v = 0;
  for (char c : text) {
    uint32_t d = 0;
    if (c >= '0' && c <= '9')
      d = static_cast<uint32_t>(c - '0');
    else if (c >= 'a' && c <= 'f')
      d = static_cast<uint32_t>(c - 'a' + 10);
    else if (c >= 'A' && c <= 'F')
      d = static_cast<uint32_t>(c - 'A' + 10);
    v = v << 4 | d;
  }
  return static_cast<int32_t>(v);
}

bool ReadTextLines(const std::string& fileName, std::vector<std::string>& lines) {
  lines.clear();
  std::error_code ec;
  const fs::path path = PathOf(fileName);
  // Only plain files: a folder or a pipe would fail or block.
  if (!fs::is_regular_file(path, ec)) return false;
  std::string text;
  try {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (in.bad()) return false;
  } catch (const std::bad_alloc&) {
    return false;
  }
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find_first_of("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + ((text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ? 2 : 1);
  }
  return true;
}

std::string LoadDroppedFiles(TFlashWrRXCont& cont, const std::vector<std::string>& fullPaths) {
  const std::string name = fullPaths.empty() ? std::string() : fullPaths.front();
  if (name.empty()) return name;
  const bool ok = cont.LoadProgramData(name);
  cont.AddLog(ok ? "OK: Read ROM Data" : "NG: Read ROM Data", true);
  return name;
}

// ---- controller ----------------------------------------------------------

bool TFlashWrRXCont::SetImageExtent(uint32_t low, uint32_t high, uint32_t end, int32_t kind) {
  if (high < low || high - low >= kMcuImageMaxSize) return false;
  FImageLow = low;
  FImageHigh = high;
  FImageEnd = end;
  FDeviceKind = kind;
  FProgImage.assign(static_cast<size_t>(high - low) + 1, kMotFill);
  return true;
}

bool TFlashWrRXCont::LoadProgramData(const std::string& fileName) {
  const std::string ext = ExtensionUpper(fileName);
  bool ok = false;
  if (ext == ".HEX")
    ok = LoadHexFile(fileName);
  else if (ext == ".MOT")
    ok = LoadMotFile(fileName);
  else
    return false;
  AddLog("CRC: " + Hex4(ImageCrc()), false);
  return ok;
}

bool TFlashWrRXCont::LoadHexFile(const std::string& fileName) {
  return LoadProgramFile(fileName, true);
}

bool TFlashWrRXCont::LoadMotFile(const std::string& fileName) {
  return LoadProgramFile(fileName, false);
}

bool TFlashWrRXCont::LoadProgramFile(const std::string& fileName, bool intelHex) {
  std::vector<std::string> lines;
  if (!ReadTextLines(fileName, lines)) {
    // Unreadable is a failed load: the image keeps nothing of an earlier file.
    EndParse(false, intelHex ? kHexFailFill : kMotFill, 0);
    return false;
  }
  const bool ok = intelHex ? ParseHexLines(lines) : ParseMotLines(lines);
  if (ok && FSaveHexData) SaveHexData();
  if (ok) FProgDataLoaded = true;
  return ok;
}

TFlashWrRXCont::TRecordVerdict TFlashWrRXCont::StoreRecord(uint32_t address, const uint8_t* data,
                                                           size_t n, uint32_t& byteCount) {
  if (address >= FImageLow && address <= FImageHigh) {
    // Only the start is checked; a record running past the end grows the image.
    const size_t offset = address - FImageLow;
    if (offset + n > FProgImage.size()) FProgImage.resize(offset + n, kMotFill);
    std::copy_n(data, n, FProgImage.begin() + static_cast<std::ptrdiff_t>(offset));
    byteCount += static_cast<uint32_t>(n);
    return TRecordVerdict::Stored;
  }
  if ((address & kSkipMask) == kSkipMask) return TRecordVerdict::Skipped;
  FUi.ShowMessage(kOutOfRangeText, TMsgKind::Plain);
  return TRecordVerdict::OutOfRange;
}

void TFlashWrRXCont::EndParse(bool ok, uint8_t failFill, uint32_t byteCount) {
  if (!ok) {
    std::fill(FProgImage.begin(), FProgImage.end(), failFill);
    FProgDataLoaded = false;
    return;
  }
  if (byteCount > 0)
    AddLog(std::string(kLoadedText) + "[" + std::to_string(byteCount) + "Bytes]", false);
}

bool TFlashWrRXCont::ParseHexLines(const std::vector<std::string>& lines) {
  bool ok = true;
  uint32_t byteCount = 0;
  uint32_t segmentBase = 0;
  uint8_t data[kMaxHexRecord];
  for (const std::string& line : lines) {
    const uint32_t ll = Field(line, 2, 3);
    const uint32_t aaaa = Field(line, 4, 7);
    const uint32_t tt = Field(line, 8, 9);
    if (ll > kMaxHexRecord || (tt != kHexData && tt != kHexSegment)) continue;
    uint32_t sum = ll + (aaaa >> 8) + (aaaa & 0xFF) + tt;
    // Where the checksum field ends; an empty line is a 0-byte data record.
    const size_t needed = tt == kHexSegment ? 15 : 11 + 2 * ll;
    if (!line.empty() && line.size() < needed) {
      ok = false;  // cut short: the checksum is not there to check
      continue;
    }
    if (tt == kHexSegment) {
      const uint32_t segment = Field(line, 10, 13);
      sum += (segment >> 8) + (segment & 0xFF);
      if (Field(line, 14, 15) != ((256 - (sum & 0xFF)) & 0xFF)) {
        ok = false;
        continue;
      }
      segmentBase = segment * 16;
      continue;
    }
    for (uint32_t i = 0; i < ll; ++i) {
      data[i] = static_cast<uint8_t>(Field(line, 10 + 2 * i, 11 + 2 * i));
      sum += data[i];
    }
    if (Field(line, 10 + 2 * ll, 11 + 2 * ll) != ((256 - (sum & 0xFF)) & 0xFF)) {
      ok = false;
      continue;
    }
    if (StoreRecord(aaaa + segmentBase, data, ll, byteCount) == TRecordVerdict::OutOfRange) {
      ok = false;
      break;
    }
  }
  EndParse(ok, kHexFailFill, byteCount);
  return ok;
}

bool TFlashWrRXCont::ParseMotLines(const std::vector<std::string>& lines) {
  std::fill(FProgImage.begin(), FProgImage.end(), kMotFill);
  bool ok = true;
  uint32_t byteCount = 0;
  uint8_t data[256];
  for (const std::string& line : lines) {
    const std::string type = line.substr(0, 2);
    size_t addressBytes = 0;
    if (type == "S2")
      addressBytes = 3;
    else if (type == "S3")
      addressBytes = 4;
    else
      continue;
    const uint32_t cc = Field(line, 3, 4);
    // The count covers address, data and checksum; the line must hold them all.
    if (cc < addressBytes + 1 || line.size() < 4 + 2 * static_cast<size_t>(cc)) {
      ok = false;
      continue;
    }
    const size_t n = cc - addressBytes - 1;
    uint32_t sum = cc;
    uint32_t address = 0;
    for (size_t i = 0; i < addressBytes; ++i) {
      const uint32_t b = Field(line, 5 + 2 * i, 6 + 2 * i);
      address = address << 8 | b;
      sum += b;
    }
    const size_t dataStart = 5 + 2 * addressBytes;
    for (size_t i = 0; i < n; ++i) {
      data[i] = static_cast<uint8_t>(Field(line, dataStart + 2 * i, dataStart + 2 * i + 1));
      sum += data[i];
    }
    sum += Field(line, dataStart + 2 * n, dataStart + 2 * n + 1);
    if ((sum & 0xFF) != 0xFF) {
      ok = false;
      continue;
    }
    if (StoreRecord(address, data, n, byteCount) == TRecordVerdict::OutOfRange) {
      ok = false;
      break;
    }
  }
  EndParse(ok, kMotFill, byteCount);
  return ok;
}

uint16_t TFlashWrRXCont::ImageCrc() const {
  const uint64_t imageLow = FImageLow;
  const uint64_t imageTop = imageLow + FProgImage.size();  // one past the last byte held
  std::vector<uint8_t> covered;
  // Appends the image bytes of addresses first..last that the image holds.
  auto take = [&](uint64_t first, uint64_t last) {
    const uint64_t from = std::max(first, imageLow);
    const uint64_t to = std::min(last + 1, imageTop);
    if (from >= to) return;
    covered.insert(covered.end(), FProgImage.begin() + static_cast<std::ptrdiff_t>(from - imageLow),
                   FProgImage.begin() + static_cast<std::ptrdiff_t>(to - imageLow));
  };
  if (FDeviceKind == 1) {
    if (FImageHigh <= kKind1MinHigh) return 0x0000;
    take(kKind1LowStart, kKind1LowEnd);
    const uint64_t stepsEnd = std::min<uint64_t>(FImageHigh, imageTop);
    for (uint64_t step = kKind1HighStart; step < stepsEnd; step += kKind1Step)
      take(step, step + kKind1Step - 1);
    // One register over both parts, as if they were one run of bytes.
    return Crc16X25(covered.data(), covered.size());
  }
  if (FImageEnd < FImageLow) return Crc16X25(nullptr, 0);
  take(FImageLow, FImageEnd);
  return Crc16X25(covered.data(), covered.size());
}

void TFlashWrRXCont::SaveHexData() {
  std::error_code ec;
  const fs::path folder = FHexDataFolder.empty() ? ExecutableFolder() : PathOf(FHexDataFolder);
  const fs::path target = folder / kHexDataFileName;
  // An earlier dump is replaced; anything else of that name is left alone.
  const fs::file_status st = fs::symlink_status(target, ec);
  if (fs::exists(st) && !fs::is_regular_file(st)) {
    AddLog(std::string("NG: Save ") + kHexDataFileName, true);
    return;
  }
  // Written beside it and renamed over it: a reader never sees half a file.
  std::random_device rd;
  for (int attempt = 0; attempt < 8; ++attempt) {
    const fs::path temp =
        folder / (std::string(kHexDataFileName) + ".tmp" + std::to_string(rd() % 1000000));
    std::FILE* f = std::fopen(temp.string().c_str(), "wbx");  // never an existing file
    if (!f) continue;
    const bool written =
        std::fwrite(FProgImage.data(), 1, FProgImage.size(), f) == FProgImage.size();
    const bool closed = std::fclose(f) == 0;
    if (written && closed) {
      fs::rename(temp, target, ec);
      if (!ec) return;
    }
    fs::remove(temp, ec);
    break;
  }
  AddLog(std::string("NG: Save ") + kHexDataFileName, true);
}
