// The firmware image set: the applet, the boot program and the firmware that
// travel inside the tool. One download extracts them into a private temporary
// folder, reads them back, checks them against the digests the build recorded
// and builds the flash image that the applet writes into the reader.
#pragma once
#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

class IHost;

enum class TImageRole { Applet, Boot, Firmware };

struct TImageInfo {
  const char* ResourceType;  // how a build names the embedded image
  const char* ResourceName;
  const char* FileName;  // temporary file
};
const TImageInfo& ImageInfo(TImageRole role);

// Where the embedded images come from: the executable's resources in the
// tool, chosen bytes in tests.
class IImageSource {
 public:
  virtual ~IImageSource() = default;
  // The whole image; false when the build holds no such image.
  virtual bool ReadImage(TImageRole role, std::vector<uint8_t>& out) = 0;
  // The SHA-256 the build recorded for the image, 64 hexadecimal digits;
  // empty when none was recorded.
  virtual std::string ExpectedSha256(TImageRole role) = 0;
};

// A missing image or a temporary file that cannot be written: the download
// ends as failed without a stage line.
class TImageSetError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TImageSet {
 public:
  static constexpr uint32_t kBootRegionSize = 0x8000;    // flash offset of the firmware
  static constexpr uint32_t kFlashUnit = 0x10000;        // the flash image grows in 64 KiB
  static constexpr uint32_t kLoadPauseMs = 100;          // between reading "a" and "b"
  static constexpr uint32_t kMaxImageBytes = 16u << 20;  // far beyond any reader flash

  TImageSet(IImageSource& source, IHost& host);
  // Deletes the temporary files and their folder, whatever happened before.
  ~TImageSet();
  TImageSet(const TImageSet&) = delete;
  TImageSet& operator=(const TImageSet&) = delete;

  // Writes firmware, applet and boot program to "f", "a" and "b" in a new
  // private folder. Throws TImageSetError when an image is missing or a file
  // cannot be written.
  void ExtractImages();
  // Reads "a", then (after a pause) "b" and "f" into their buffers; the boot
  // and firmware buffers get kBootRegionSize zero bytes more. False when a
  // file cannot be opened or read whole.
  bool LoadImages();
  // The loaded images match the digests the build recorded (call after
  // LoadImages): what was read back is what the build embedded.
  bool ImagesIntact();
  // Builds the flash image (boot region, firmware, zero fill up to L) and
  // writes its leading B + F bytes to "bf". False when "bf" cannot be written.
  bool BuildFlashImage();
  // Deletes "a", "b", "f", "bf" and the folder; missing ones are ignored.
  void RemoveImageFiles();

  // L: the smallest multiple of 64 KiB strictly greater than F + 0x8000.
  static uint32_t FlashImageLength(uint32_t firmwareSize);

  // The private folder of this download; empty before ExtractImages and after
  // RemoveImageFiles.
  const std::filesystem::path& Folder() const { return FFolder; }

  // Where the private folder is made; the system's temporary folder unless a
  // caller sets another before ExtractImages.
  std::filesystem::path FTempRoot;

  std::vector<uint8_t> FApplet;  // A bytes
  std::vector<uint8_t> FBoot;    // B + 0x8000 bytes, the boot program first
  std::vector<uint8_t> FFirm;    // F + 0x8000 bytes, the firmware first
  std::vector<uint8_t> FFlash;   // L bytes
  uint32_t FAppletSize = 0;      // A
  uint32_t FBootSize = 0;        // B
  uint32_t FFirmSize = 0;        // F
  uint32_t FFlashSize = 0;       // L

  // Why the last step failed, for a detail line.
  std::string FLastError;

 private:
  std::filesystem::path FilePath(const char* name) const { return FFolder / name; }
  bool ReadFile(const char* name, size_t extra, std::vector<uint8_t>& buffer, uint32_t& size);
  void MakeFolder();

  IImageSource& FSource;
  IHost& FHost;
  std::filesystem::path FFolder;
};
