// The parameter restore after a firmware update, and the write-back of a
// saved backup file. The reader's own settings are in a file before anything
// on the reader changes, so no failure later on can lose them.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "link/FlashWrRXCont.h"
#include "reader/ParamBackupFile.h"
#include "reader/ParamSteps.h"

using ParamSteps::ReadAll;
using ParamSteps::Tried;
namespace fs = std::filesystem;

namespace {

using TCont = TFlashWrRXCont;

constexpr int kTries = 3;         // every block or word read and write
constexpr int kDefaultLoads = 3;  // sent three times; the last answer decides
constexpr int kRegionCycles = 3;
constexpr int kAllChecks = 7;
constexpr int kChecksAfterWriteBack = 6;  // check 7 only reads
constexpr int kImageChunkWords = 16;
constexpr int kWord38 = 38;  // written with the single-word command only
constexpr int kLastWord = TCont::kParamWords - 1;
constexpr char kVariantCode[] = "KRV07";

// Bytes of a word that are compared, bit i for byte i.
constexpr uint8_t kAllBytes = 0x0F;

struct TVerifyItem {
  int First;
  int Last;
  bool SingleWord;  // read with the word command
  uint8_t Mask;
};

// After the default load: word 33 without byte 0, and the bytes the region
// checks 1, 5 and 6 may have filled left out.
constexpr TVerifyItem kVerifyDefaults[] = {
    {0, 32, false, kAllBytes}, {33, 33, true, 0x0E},         {34, 350, false, kAllBytes},
    {351, 351, true, 0x0B},    {352, 352, true, kAllBytes},  {353, 353, true, 0x03},
    {354, 354, true, 0x0C},    {355, 479, false, kAllBytes},
};
// After the write-back: words 0 to 350 in full.
constexpr TVerifyItem kVerifyBackup[] = {
    {0, 350, false, kAllBytes}, {351, 351, true, 0x0B}, {352, 352, true, kAllBytes},
    {353, 353, true, 0x03},     {354, 354, true, 0x0C}, {355, 479, false, kAllBytes},
};

// 16 words while more than 16 remain, 4 while more than 4, then single words.
int ChunkWords(int remaining) {
  return remaining > 16 ? 16 : remaining > 4 ? 4 : 1;
}

std::string Words(int first, int count) {
  return count == 1 ? "word " + std::to_string(first)
                    : "words " + std::to_string(first) + "-" + std::to_string(first + count - 1);
}

// Records why the restore stopped (a detail line; the caller logs NG).
bool Fail(TCont& c, const std::string& why) {
  c.FParamError = why;
  c.AddLog("Parameter restore: " + why, false);
  return false;
}

bool HasVariant(const std::string& romVersion) {
  return romVersion.find(kVariantCode) != std::string::npos;
}

std::string Text(const char* field, size_t size) {
  return std::string(field, strnlen(field, size));
}

bool ReadImage(TCont& c, uint8_t* image, const std::string& what) {
  for (int w = 0; w <= kLastWord; w += kImageChunkWords) {
    const int n = kImageChunkWords * TCont::kParamWordBytes;
    if (!Tried(kTries, [&] { return ReadAll(c, w, image + w * TCont::kParamWordBytes, n); }))
      return Fail(c, what + " read of " + Words(w, kImageChunkWords) + " failed");
  }
  return true;
}

// Writes the image to a new backup file and keeps the newest ones.
bool SaveBackup(TCont& c, const uint8_t* image, const std::string& romVersion,
                std::vector<fs::path> spare) {
  const ParamBackupFile::TParamBackup backup{
      romVersion, std::vector<uint8_t>(image, image + TCont::kParamBytes)};
  const fs::path folder = ParamBackupFile::DefaultFolder();
  fs::path written;
  std::string error;
  if (!ParamBackupFile::Write(folder, backup, written, error))
    return Fail(c, "backup file not written, reader left unchanged: " + error);
  c.FLastParamBackupPath = written.string();
  c.AddLog("Parameter backup: " + written.string(), false);
  spare.push_back(written);
  ParamBackupFile::Prune(folder, ParamBackupFile::kKeepBackups, spare);
  return true;
}

bool LoadDefaults(TCont& c) {
  int result = 0;
  for (int i = 0; i < kDefaultLoads; ++i) result = c.LoadFactoryDefaults();
  return result == 1 || Fail(c, "factory default load not acknowledged");
}

bool RegionChecks(TCont& c, int count) {
  using TCheck = int (TCont::*)();
  static constexpr TCheck kChecks[kAllChecks] = {
      &TCont::EnsureWord351, &TCont::EnsureBlock480, &TCont::EnsureTables483, &TCont::EnsureFill515,
      &TCont::EnsureWord353, &TCont::EnsureWord354,  &TCont::ReadWord33};
  std::fill_n(c.FCheckStatus, count, 0u);
  for (int cycle = 0; cycle < kRegionCycles; ++cycle) {
    for (int i = 0; i < count; ++i)
      if (c.FCheckStatus[i] == 0) c.FCheckStatus[i] = static_cast<uint32_t>((c.*kChecks[i])());
    if (std::all_of(c.FCheckStatus, c.FCheckStatus + count, [](uint32_t s) { return s != 0; }))
      return true;
  }
  std::string open;
  for (int i = 0; i < count; ++i)
    if (c.FCheckStatus[i] == 0) open += " " + std::to_string(i + 1);
  return Fail(c, "region checks not completed:" + open);
}

bool VerifyRange(TCont& c, const uint8_t* image, int first, int last) {
  uint8_t got[kImageChunkWords * TCont::kParamWordBytes];
  for (int w = first; w <= last;) {
    const int k = ChunkWords(last - w + 1);
    const int n = k * TCont::kParamWordBytes;
    if (!Tried(kTries, [&] { return ReadAll(c, w, got, n); }))
      return Fail(c, "verify read of " + Words(w, k) + " failed");
    if (std::memcmp(got, image + w * TCont::kParamWordBytes, static_cast<size_t>(n)) != 0)
      return Fail(c, "verify found " + Words(w, k) + " different");
    w += k;
  }
  return true;
}

bool VerifyWord(TCont& c, const uint8_t* image, int word, uint8_t mask) {
  uint8_t got[TCont::kParamWordBytes];
  if (!Tried(kTries, [&] { return c.ReadParamWord(word, got) == 1; }))
    return Fail(c, "verify read of " + Words(word, 1) + " failed");
  for (int i = 0; i < TCont::kParamWordBytes; ++i)
    if ((mask >> i & 1) && got[i] != image[word * TCont::kParamWordBytes + i])
      return Fail(c, "verify found " + Words(word, 1) + " different");
  return true;
}

template <size_t N>
bool Verify(TCont& c, const uint8_t* image, const TVerifyItem (&items)[N]) {
  for (const TVerifyItem& v : items) {
    const bool ok = v.SingleWord ? VerifyWord(c, image, v.First, v.Mask)
                                 : VerifyRange(c, image, v.First, v.Last);
    if (!ok) return false;
  }
  return true;
}

bool WriteRange(TCont& c, const uint8_t* image, int first, int last) {
  for (int w = first; w <= last;) {
    const int k = ChunkWords(last - w + 1);
    const uint8_t* data = image + w * TCont::kParamWordBytes;
    if (!Tried(kTries,
               [&] { return c.WriteParamBlockVerified(w, data, k * TCont::kParamWordBytes) == 1; }))
      return Fail(c, "write-back of " + Words(w, k) + " failed");
    w += k;
  }
  return true;
}

bool WriteBack(TCont& c, const uint8_t* image) {
  if (!WriteRange(c, image, 0, kWord38 - 1)) return false;
  const uint8_t* word38 = image + kWord38 * TCont::kParamWordBytes;
  if (!Tried(kTries, [&] { return c.WriteParamWordVerified(kWord38, word38) == 1; }))
    return Fail(c, "write-back of " + Words(kWord38, 1) + " failed");
  return WriteRange(c, image, kWord38 + 1, kLastWord);
}

// Steps shared by both restores: preparation, write-back of FParamBackup,
// region checks again, verification, the concluding command.
bool FinishRestore(TCont& c) {
  if (!Tried(kTries, [&] { return c.PrepareParamMemory() == 1; }))
    return Fail(c, "memory preparation not acknowledged");
  if (!WriteBack(c, c.FParamBackup) || !RegionChecks(c, kChecksAfterWriteBack) ||
      !Verify(c, c.FParamBackup, kVerifyBackup))
    return false;
  c.ConcludeRestore();
  c.Host().Sleep(TCont::kRestoreEndPauseMs);
  return true;
}

}  // namespace

int TFlashWrRXCont::RestoreParameters() {
  FParamError.clear();
  FLastParamBackupPath.clear();
  if (!CheckSavedVariant()) {
    Fail(*this, std::string("firmware without the ") + kVariantCode + " restore code");
    return 0;
  }
  // Backup (in a file before the reader changes), factory defaults and their
  // image, region checks, verify against the defaults, then the write-back.
  const bool ok =
      ReadImage(*this, FParamBackup, "backup") &&
      SaveBackup(*this, FParamBackup, Text(FSavedRomVersion, sizeof FSavedRomVersion), {}) &&
      LoadDefaults(*this) && ReadImage(*this, FParamDefaults, "default") &&
      RegionChecks(*this, kAllChecks) && Verify(*this, FParamDefaults, kVerifyDefaults) &&
      FinishRestore(*this);
  return ok ? 1 : 0;
}

int TFlashWrRXCont::RestoreParametersFromFile(const std::string& path) {
  FParamError.clear();
  FLastParamBackupPath.clear();
  ParamBackupFile::TParamBackup saved;
  std::string error;
  if (!ParamBackupFile::Read(path, saved, error)) return Fail(*this, error);
  if (!HasVariant(saved.RomVersion))
    return Fail(*this, "\"" + path + "\" was saved from firmware " + saved.RomVersion + ", not a " +
                           kVariantCode + " reader");
  if (!Tried(kTries, [&] { return ReadRomVersion(false) == 1; }))
    return Fail(*this, "the reader does not answer");
  const std::string running = Text(FRomVersion, sizeof FRomVersion);
  if (!HasVariant(running))
    return Fail(*this,
                "the reader's firmware " + running + " has no " + kVariantCode + " restore code");
  // What the reader holds now is kept too, in case the wrong file was chosen.
  std::vector<uint8_t> current(kParamBytes);
  if (!ReadImage(*this, current.data(), "current") ||
      !SaveBackup(*this, current.data(), running, {fs::path(path)}))
    return 0;
  std::copy(saved.Image.begin(), saved.Image.end(), FParamBackup);
  return FinishRestore(*this) ? 1 : 0;
}
