// Makes placeholder images for a build without the product's images: the
// applet, boot program and firmware with their documented sizes and vector
// words, filled with reproducible noise, the firmware carrying its ROM
// version text where the simulated reader looks for it.
//
//   qvx_make_images <output folder> [version text, default 2130KRV07]
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "sim/bootmon/RomVersionMark.h"

namespace {

struct TPlaceholder {
  const char* FileName;
  size_t Size;
  uint32_t StackPointer;
  uint32_t Entry;
  uint32_t Seed;
};

constexpr TPlaceholder kImages[] = {
    {"applet.bin", 5948, 0x2001FFF0, 0x20000D51, 0xA5A11E70},
    {"boot.bin", 13296, 0x2001F800, 0x00400531, 0xB0070001},
    {"firmware.bin", 329400, 0x2001F800, 0x004082D5, 0xF12A2130},
};

void PutLittleEndian32(std::vector<uint8_t>& image, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) image[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

std::vector<uint8_t> Make(const TPlaceholder& p) {
  std::vector<uint8_t> image(p.Size);
  // xorshift32: every byte value occurs, so misplaced bytes do not go unseen.
  uint32_t x = p.Seed;
  for (auto& b : image) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<uint8_t>(x >> 24);
  }
  PutLittleEndian32(image, 0, p.StackPointer);
  PutLittleEndian32(image, 4, p.Entry);
  return image;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: %s <output folder> [version text]\n", argv[0]);
    return 2;
  }
  const std::filesystem::path folder = argv[1];
  const std::string version = argc == 3 ? argv[2] : "2130KRV07";
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  for (const TPlaceholder& p : kImages) {
    std::vector<uint8_t> image = Make(p);
    if (&p == &kImages[2] &&
        !PutRomVersionMark(image.data(), image.size(), kRomVersionFirmwareOffset, version)) {
      std::fprintf(stderr, "version text must be 9 printable characters: %s\n", version.c_str());
      return 1;
    }
    std::ofstream out(folder / p.FileName, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(image.data()),
              static_cast<std::streamsize>(image.size()));
    out.close();
    if (!out) {
      std::fprintf(stderr, "cannot write %s\n", (folder / p.FileName).string().c_str());
      return 1;
    }
  }
  return 0;
}
