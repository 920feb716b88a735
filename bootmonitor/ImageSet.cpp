#include "bootmonitor/ImageSet.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <random>

#include "bootmonitor/Sha256.h"
#include "link/Host.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kBothFileName = "bf";
constexpr int kFolderAttempts = 100;

bool EqualHex(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

}  // namespace

const TImageInfo& ImageInfo(TImageRole role) {
  static const TImageInfo kApplet{"APPLETDTF", "APPLETDT", "a"};
  static const TImageInfo kBoot{"BTDTF", "BTDT", "b"};
  static const TImageInfo kFirmware{"FIRMDTF", "FIRMDT", "f"};
  switch (role) {
    case TImageRole::Applet:
      return kApplet;
    case TImageRole::Boot:
      return kBoot;
    case TImageRole::Firmware:
      break;
  }
  return kFirmware;
}

TImageSet::TImageSet(IImageSource& source, IHost& host) : FSource(source), FHost(host) {}

TImageSet::~TImageSet() {
  RemoveImageFiles();
}

uint32_t TImageSet::FlashImageLength(uint32_t firmwareSize) {
  return (((firmwareSize + kBootRegionSize) >> 16) + 1) << 16;
}

// A folder of our own, created atomically under a fresh name, so that no file
// of the current directory (or anybody else's) is ever written or deleted.
void TImageSet::MakeFolder() {
  std::error_code ec;
  fs::path root = FTempRoot;
  if (root.empty()) root = fs::temp_directory_path(ec);
  if (ec) throw TImageSetError("no temporary folder: " + ec.message());
  static const char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device seed;
  std::mt19937 gen(seed());
  std::uniform_int_distribution<int> pick(0, sizeof kChars - 2);
  for (int attempt = 0; attempt < kFolderAttempts; ++attempt) {
    std::string name = "qvxupdate-";
    for (int i = 0; i < 8; ++i) name += kChars[pick(gen)];
    const fs::path candidate = root / name;
    if (fs::create_directory(candidate, ec)) {
      fs::permissions(candidate, fs::perms::owner_all, fs::perm_options::replace, ec);
      FFolder = candidate;
      return;
    }
    if (ec)
      throw TImageSetError("cannot create a folder in " + root.string() + ": " + ec.message());
  }
  throw TImageSetError("no free folder name in " + root.string());
}

void TImageSet::ExtractImages() {
  RemoveImageFiles();
  MakeFolder();
  for (TImageRole role : {TImageRole::Firmware, TImageRole::Applet, TImageRole::Boot}) {
    const TImageInfo& info = ImageInfo(role);
    std::vector<uint8_t> bytes;
    if (!FSource.ReadImage(role, bytes))
      throw TImageSetError(std::string("image missing: ") + info.ResourceType + "/" +
                           info.ResourceName);
    std::ofstream out(FilePath(info.FileName), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) throw TImageSetError(std::string("cannot write the file ") + info.FileName);
  }
}

bool TImageSet::ReadFile(const char* name, size_t extra, std::vector<uint8_t>& buffer,
                         uint32_t& size) {
  const fs::path path = FilePath(name);
  std::ifstream in(path, std::ios::binary);
  std::error_code ec;
  const uintmax_t length = in ? fs::file_size(path, ec) : 0;
  if (!in || ec) {
    FLastError = std::string("cannot open the file ") + name;
    return false;
  }
  if (length > kMaxImageBytes) {
    FLastError = std::string("file too large: ") + name;
    return false;
  }
  buffer.assign(static_cast<size_t>(length) + extra, 0x00);
  in.read(reinterpret_cast<char*>(buffer.data()), static_cast<std::streamsize>(length));
  if (static_cast<uintmax_t>(in.gcount()) != length) {
    // A short read would send a truncated image as if it were whole.
    FLastError = std::string("cannot read the file ") + name;
    buffer.clear();
    return false;
  }
  size = static_cast<uint32_t>(length);
  return true;
}

bool TImageSet::LoadImages() {
  if (!ReadFile(ImageInfo(TImageRole::Applet).FileName, 0, FApplet, FAppletSize)) return false;
  FHost.Sleep(kLoadPauseMs);
  if (!ReadFile(ImageInfo(TImageRole::Boot).FileName, kBootRegionSize, FBoot, FBootSize))
    return false;
  return ReadFile(ImageInfo(TImageRole::Firmware).FileName, kBootRegionSize, FFirm, FFirmSize);
}

bool TImageSet::ImagesIntact() {
  struct TLoaded {
    TImageRole Role;
    const std::vector<uint8_t>& Buffer;
    uint32_t Size;
  };
  const TLoaded loaded[] = {{TImageRole::Applet, FApplet, FAppletSize},
                            {TImageRole::Boot, FBoot, FBootSize},
                            {TImageRole::Firmware, FFirm, FFirmSize}};
  for (const TLoaded& l : loaded) {
    const TImageInfo& info = ImageInfo(l.Role);
    const std::string expected = FSource.ExpectedSha256(l.Role);
    if (l.Buffer.size() < l.Size || expected.empty()) {
      FLastError = std::string("no digest or image for ") + info.ResourceName;
      return false;
    }
    if (!EqualHex(TSha256::Hex(l.Buffer.data(), l.Size), expected)) {
      FLastError = std::string("image does not match its digest: ") + info.ResourceName;
      return false;
    }
  }
  return true;
}

bool TImageSet::BuildFlashImage() {
  if (FBoot.size() < kBootRegionSize || FFirm.size() < FFirmSize) {
    FLastError = "images not loaded";
    return false;
  }
  FFlashSize = FlashImageLength(FFirmSize);
  FFlash.assign(FFlashSize, 0x00);
  std::copy_n(FBoot.begin(), kBootRegionSize, FFlash.begin());
  std::copy_n(FFirm.begin(), FFirmSize, FFlash.begin() + kBootRegionSize);

  // "bf" takes B + F bytes from the start of the flash image; with a boot
  // program over 0x8000 bytes that count may exceed the image, so it is cut
  // at L instead of reading past the end.
  const size_t count = std::min<size_t>(size_t{FBootSize} + FFirmSize, FFlashSize);
  std::ofstream out(FilePath(kBothFileName), std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(FFlash.data()), static_cast<std::streamsize>(count));
  out.close();
  if (!out) {
    FLastError = "cannot write the file bf";
    return false;
  }
  return true;
}

void TImageSet::RemoveImageFiles() {
  if (FFolder.empty()) return;
  std::error_code ec;
  for (TImageRole role : {TImageRole::Applet, TImageRole::Boot, TImageRole::Firmware})
    fs::remove(FilePath(ImageInfo(role).FileName), ec);
  fs::remove(FilePath(kBothFileName), ec);
  fs::remove_all(FFolder, ec);
  FFolder.clear();
}
