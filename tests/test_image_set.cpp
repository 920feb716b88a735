// The image set: SHA-256, the embedded images, the flash image and the
// private temporary folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>

#include "app/ImageSource.h"
#include "bootmonitor/ImageSet.h"
#include "bootmonitor/Sha256.h"
#include "sim/VirtualHost.h"
#include "sim/bootmon/RomVersionMark.h"

namespace fs = std::filesystem;

namespace {

using TBuf = std::vector<uint8_t>;

std::string Sha(const std::string& s) {
  return TSha256::Hex(reinterpret_cast<const uint8_t*>(s.data()), s.size());
}

uint32_t Le32(const TBuf& b, size_t at) {
  return uint32_t{b[at]} | uint32_t{b[at + 1]} << 8 | uint32_t{b[at + 2]} << 16 |
         uint32_t{b[at + 3]} << 24;
}

TBuf Noise(size_t n, uint32_t seed) {
  std::mt19937 gen(seed);
  TBuf b(n);
  for (auto& x : b) x = static_cast<uint8_t>(gen() | 1);  // never 0x00: fill shows
  return b;
}

// Images with chosen bytes; digests are those of the bytes unless a test
// records other ones.
struct TMemoryImageSource : IImageSource {
  std::map<TImageRole, TBuf> Images;
  std::map<TImageRole, std::string> Digests;

  TMemoryImageSource(TBuf applet, TBuf boot, TBuf firmware) {
    Images = {{TImageRole::Applet, std::move(applet)},
              {TImageRole::Boot, std::move(boot)},
              {TImageRole::Firmware, std::move(firmware)}};
    for (auto& [role, bytes] : Images) Digests[role] = TSha256::Hex(bytes.data(), bytes.size());
  }
  bool ReadImage(TImageRole role, TBuf& out) override {
    auto it = Images.find(role);
    if (it == Images.end()) return false;
    out = it->second;
    return true;
  }
  std::string ExpectedSha256(TImageRole role) override { return Digests[role]; }
};

TBuf ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return TBuf(std::istreambuf_iterator<char>(in), {});
}

// Every test runs in a scratch folder of its own as current directory, and
// the image set makes its private folder under another scratch folder.
struct TImageSetTest : ::testing::Test {
  TVirtualHost Host;
  fs::path Saved, Work, TempRoot;

  void SetUp() override {
    Saved = fs::current_path();
    Work =
        fs::temp_directory_path() / ("qvx_images_test_" + std::to_string(std::random_device{}()));
    fs::create_directories(Work / "tmp");
    TempRoot = Work / "tmp";
    fs::current_path(Work);
  }
  void TearDown() override {
    fs::current_path(Saved);
    fs::remove_all(Work);
  }
  bool TempRootEmpty() const { return fs::is_empty(TempRoot); }
  std::unique_ptr<TImageSet> Make(IImageSource& source) {
    auto set = std::make_unique<TImageSet>(source, Host);
    set->FTempRoot = TempRoot;
    return set;
  }
};

}  // namespace

TEST(Sha256, PublishedTestVectors) {
  EXPECT_EQ(Sha(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(Sha("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(Sha("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  EXPECT_EQ(Sha(std::string(1000000, 'a')),
            "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(Sha256, PiecewiseUpdatesMatchOneShotAcrossBlockEdges) {
  const TBuf data = Noise(1000, 7);
  const std::string whole = TSha256::Hex(data.data(), data.size());
  for (size_t cut : {1u, 55u, 56u, 63u, 64u, 65u, 119u, 120u, 999u}) {
    TSha256 h;
    h.Update(data.data(), cut);
    h.Update(data.data() + cut, data.size() - cut);
    EXPECT_EQ(TSha256::ToHex(h.Final()), whole) << "cut at " << cut;
  }
}

TEST(EmbeddedImages, SizesVectorWordsAndDigests) {
  TQtImageSource source;
  struct {
    TImageRole Role;
    size_t Size;
    uint32_t Sp, Entry;
  } const expected[] = {{TImageRole::Applet, 5948, 0x2001FFF0, 0x20000D51},
                        {TImageRole::Boot, 13296, 0x2001F800, 0x00400531},
                        {TImageRole::Firmware, 329400, 0x2001F800, 0x004082D5}};
  for (const auto& e : expected) {
    TBuf bytes;
    ASSERT_TRUE(source.ReadImage(e.Role, bytes)) << ImageInfo(e.Role).ResourceName;
    EXPECT_EQ(source.ExpectedSha256(e.Role), TSha256::Hex(bytes.data(), bytes.size()));
#if QVX_PLACEHOLDER_IMAGES
    EXPECT_EQ(bytes.size(), e.Size);
    EXPECT_EQ(Le32(bytes, 0), e.Sp);
    EXPECT_EQ(Le32(bytes, 4), e.Entry);
#endif
  }
  EXPECT_EQ(TQtImageSource::ResourcePath(TImageRole::Firmware), ":/FIRMDTF/FIRMDT");
}

TEST_F(TImageSetTest, DefaultSetBuildsTheDocumentedFlashImage) {
  TQtImageSource source;
  auto set = Make(source);
  set->ExtractImages();
  ASSERT_TRUE(set->LoadImages());
  EXPECT_TRUE(set->ImagesIntact());
  ASSERT_TRUE(set->BuildFlashImage());

  TBuf boot, firm;
  source.ReadImage(TImageRole::Boot, boot);
  source.ReadImage(TImageRole::Firmware, firm);
  const uint32_t B = set->FBootSize, F = set->FFirmSize, L = set->FFlashSize;
  ASSERT_EQ(B, boot.size());
  ASSERT_EQ(F, firm.size());
  EXPECT_EQ(set->FBoot.size(), B + 0x8000u);
  EXPECT_EQ(set->FFirm.size(), F + 0x8000u);
  EXPECT_EQ(L, TImageSet::FlashImageLength(F));
#if QVX_PLACEHOLDER_IMAGES
  EXPECT_EQ(L, 0x60000u);
  EXPECT_EQ(FindRomVersion(set->FFlash.data(), set->FFlash.size()), "2130KRV07");
#endif
  const TBuf& flash = set->FFlash;
  ASSERT_EQ(flash.size(), L);
  EXPECT_TRUE(std::equal(boot.begin(), boot.end(), flash.begin()));
  EXPECT_TRUE(
      std::all_of(flash.begin() + B, flash.begin() + 0x8000, [](uint8_t b) { return b == 0; }));
  EXPECT_TRUE(std::equal(firm.begin(), firm.end(), flash.begin() + 0x8000));
  EXPECT_TRUE(
      std::all_of(flash.begin() + 0x8000 + F, flash.end(), [](uint8_t b) { return b == 0; }));

  // "bf" holds the first B + F bytes of the flash image, not the two files.
  const TBuf bf = ReadAll(set->Folder() / "bf");
  ASSERT_EQ(bf.size(), size_t{B} + F);
  EXPECT_TRUE(std::equal(bf.begin(), bf.end(), flash.begin()));
}

TEST(FlashImageLength, NextMultipleOf64KiBStrictlyAboveFirmwareEnd) {
  EXPECT_EQ(TImageSet::FlashImageLength(329400), 0x60000u);
  EXPECT_EQ(TImageSet::FlashImageLength(0), 0x10000u);
  EXPECT_EQ(TImageSet::FlashImageLength(0x7FFF), 0x10000u);
  EXPECT_EQ(TImageSet::FlashImageLength(0x8000), 0x20000u);  // exactly 0x10000: one more unit
  EXPECT_EQ(TImageSet::FlashImageLength(0x78000), 0x90000u);
}

TEST_F(TImageSetTest, ExactMultipleGetsAWholeExtraZeroUnit) {
  TMemoryImageSource source(Noise(300, 1), Noise(0x1000, 2), Noise(0x18000, 3));
  auto set = Make(source);
  set->ExtractImages();
  ASSERT_TRUE(set->LoadImages());
  ASSERT_TRUE(set->BuildFlashImage());
  ASSERT_EQ(set->FFlashSize, 0x30000u);
  const auto& f = set->FFlash;
  EXPECT_EQ(f[0x1FFFF], source.Images[TImageRole::Firmware].back());
  EXPECT_TRUE(std::all_of(f.begin() + 0x20000, f.end(), [](uint8_t b) { return b == 0; }));
}

TEST_F(TImageSetTest, BootProgramOver0x8000ContributesOnlyItsFirst0x8000Bytes) {
  const TBuf boot = Noise(0x9000, 4), firm = Noise(0x7000, 5);
  TMemoryImageSource source(Noise(200, 6), boot, firm);
  auto set = Make(source);
  set->ExtractImages();
  ASSERT_TRUE(set->LoadImages());
  ASSERT_TRUE(set->BuildFlashImage());
  ASSERT_EQ(set->FFlashSize, 0x10000u);
  const auto& f = set->FFlash;
  EXPECT_TRUE(std::equal(boot.begin(), boot.begin() + 0x8000, f.begin()));
  EXPECT_TRUE(std::equal(firm.begin(), firm.end(), f.begin() + 0x8000));
  EXPECT_EQ(f[0xF000], 0);
  // B + F is more than the whole flash image: "bf" stops at its end.
  EXPECT_EQ(ReadAll(set->Folder() / "bf"), f);
}

TEST_F(TImageSetTest, PrivateFolderLeavesTheCurrentDirectoryAlone) {
  const TBuf mine = {'k', 'e', 'e', 'p'};
  for (const char* name : {"a", "b", "f", "bf"}) std::ofstream(name, std::ios::binary) << "keep";
  TMemoryImageSource source(Noise(300, 1), Noise(0x1000, 2), Noise(0x2000, 3));
  fs::path folder;
  {
    auto set = Make(source);
    set->ExtractImages();
    folder = set->Folder();
    EXPECT_EQ(folder.parent_path(), TempRoot);
    EXPECT_EQ(fs::status(folder).permissions() & fs::perms::all, fs::perms::owner_all);
    ASSERT_TRUE(set->LoadImages());
    ASSERT_TRUE(set->BuildFlashImage());
    for (const char* name : {"a", "b", "f", "bf"}) EXPECT_TRUE(fs::exists(folder / name)) << name;
    EXPECT_EQ(ReadAll(folder / "a"), source.Images[TImageRole::Applet]);

    set->RemoveImageFiles();
    EXPECT_FALSE(fs::exists(folder));
    EXPECT_TRUE(set->Folder().empty());
  }
  for (const char* name : {"a", "b", "f", "bf"}) EXPECT_EQ(ReadAll(Work / name), mine) << name;
  EXPECT_TRUE(TempRootEmpty());
}

TEST_F(TImageSetTest, EveryFailureLeavesNoFilesBehind) {
  TMemoryImageSource source(Noise(300, 1), Noise(0x1000, 2), Noise(0x2000, 3));
  {
    // "b" vanishes between extraction and loading: "f" is not read.
    auto set = Make(source);
    set->ExtractImages();
    fs::remove(set->Folder() / "b");
    EXPECT_FALSE(set->LoadImages());
    EXPECT_EQ(set->FAppletSize, 300u);
    EXPECT_EQ(set->FFirmSize, 0u);
    EXPECT_TRUE(set->FFirm.empty());
  }
  EXPECT_TRUE(TempRootEmpty());
  {
    // Without "a" nothing is read, and the pause is not taken.
    auto set = Make(source);
    set->ExtractImages();
    fs::remove(set->Folder() / "a");
    const uint64_t before = Host.NowMs();
    EXPECT_FALSE(set->LoadImages());
    EXPECT_EQ(Host.NowMs(), before);
    EXPECT_EQ(set->FBootSize, 0u);
  }
  EXPECT_TRUE(TempRootEmpty());
  {
    // A missing image is an error that ends the download.
    source.Images.erase(TImageRole::Boot);
    auto set = Make(source);
    EXPECT_THROW(set->ExtractImages(), TImageSetError);
  }
  EXPECT_TRUE(TempRootEmpty());
}

TEST_F(TImageSetTest, UnwritableTemporaryFolderIsAnError) {
  TMemoryImageSource source(Noise(300, 1), Noise(0x1000, 2), Noise(0x2000, 3));
  std::ofstream(Work / "plainfile") << "x";
  auto set = Make(source);
  set->FTempRoot = Work / "plainfile";  // not a folder: nothing can be made in it
  EXPECT_THROW(set->ExtractImages(), TImageSetError);
  EXPECT_TRUE(set->Folder().empty());
}

TEST_F(TImageSetTest, LoadingPausesOnceAndKeepsTheSizes) {
  TMemoryImageSource source(Noise(300, 1), Noise(0x1000, 2), Noise(0x2000, 3));
  auto set = Make(source);
  set->ExtractImages();
  const uint64_t before = Host.NowMs();
  ASSERT_TRUE(set->LoadImages());
  EXPECT_EQ(Host.NowMs() - before, TImageSet::kLoadPauseMs);
  EXPECT_EQ(set->FApplet, source.Images[TImageRole::Applet]);
  EXPECT_EQ(set->FBootSize, 0x1000u);
  EXPECT_EQ(set->FFirmSize, 0x2000u);
  EXPECT_EQ(set->FFirm[0x2000 + 0x7FFF], 0);
}

TEST_F(TImageSetTest, TamperedOrUnrecordedImageIsRefused) {
  TMemoryImageSource source(Noise(300, 1), Noise(0x1000, 2), Noise(0x2000, 3));
  {
    auto set = Make(source);
    set->ExtractImages();
    ASSERT_TRUE(set->LoadImages());
    EXPECT_TRUE(set->ImagesIntact());
    // The digest check is case-blind but exact.
    for (auto& [role, digest] : source.Digests)
      for (auto& c : digest) c = static_cast<char>(std::toupper(c));
    EXPECT_TRUE(set->ImagesIntact());
  }
  source.Images[TImageRole::Firmware][0x1234] ^= 0x40;  // one bit after the build
  {
    auto set = Make(source);
    set->ExtractImages();
    ASSERT_TRUE(set->LoadImages());
    EXPECT_FALSE(set->ImagesIntact());
    EXPECT_NE(set->FLastError.find("FIRMDT"), std::string::npos);
  }
  source.Images[TImageRole::Firmware][0x1234] ^= 0x40;
  source.Digests[TImageRole::Applet].clear();  // no digest recorded
  {
    auto set = Make(source);
    set->ExtractImages();
    ASSERT_TRUE(set->LoadImages());
    EXPECT_FALSE(set->ImagesIntact());
  }
  {
    auto set = Make(source);  // nothing loaded yet
    EXPECT_FALSE(set->ImagesIntact());
  }
}
