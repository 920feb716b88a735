// The program data loader against files made by GNU objcopy from binaries
// the tests write, checked byte for byte, and its failure cases.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

#include "link/Checksums.h"
#include "link/FlashWrRXCont.h"
#include "mcuboot/ProgramLoader.h"
#include "sim/InProcessLink.h"
#include "sim/VirtualHost.h"
#include "support/TestUi.h"

namespace fs = std::filesystem;

namespace {

using TLines = std::vector<std::string>;

struct TLoaderTest : ::testing::Test {
  TVirtualHost Host;
  TSimLinkFactory Links{Host};
  TTestUi Ui;
  std::unique_ptr<TFlashWrRXCont> C;
  fs::path Dir;

  void SetUp() override {
    C = std::make_unique<TFlashWrRXCont>(Host, Links, Ui, tagCOMPara{});
    C->FDetailLog = 1;
    std::random_device rd;
    Dir = fs::temp_directory_path() / ("qvx_loader_" + std::to_string(rd()));
    fs::create_directories(Dir);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(Dir, ec);
  }

  static std::vector<uint8_t> Noise(size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::vector<uint8_t> v(n);
    for (auto& b : v) b = static_cast<uint8_t>(gen());
    return v;
  }
  fs::path WriteFile(const std::string& name, const std::string& text) {
    const fs::path p = Dir / name;
    std::ofstream(p, std::ios::binary) << text;
    return p;
  }
  fs::path WriteBinary(const std::string& name, const std::vector<uint8_t>& bytes) {
    const fs::path p = Dir / name;
    std::ofstream(p, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return p;
  }
  static std::string ReadAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  // Runs objcopy on a binary placed at address; returns the output's path.
  fs::path Objcopy(const std::vector<uint8_t>& bytes, uint32_t address, const std::string& options,
                   const std::string& outName) {
    const fs::path in = WriteBinary(outName + ".bin", bytes);
    const fs::path out = Dir / outName;
    char addr[16];
    std::snprintf(addr, sizeof addr, "0x%X", address);
    const std::string cmd = "objcopy -I binary " + options + " --change-addresses " + addr + " '" +
                            in.string() + "' '" + out.string() + "' 2>&1";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
    return out;
  }
  bool Load(const fs::path& p) { return C->LoadProgramData(p.string()); }
  // The image as it must be: 0xFF with bytes at address.
  std::vector<uint8_t> Expected(const std::vector<uint8_t>& bytes, uint32_t address,
                                uint8_t fill = 0xFF) {
    std::vector<uint8_t> image(C->FImageHigh - C->FImageLow + 1, fill);
    std::copy(bytes.begin(), bytes.end(), image.begin() + (address - C->FImageLow));
    return image;
  }
  static std::string CrcLine(const std::vector<uint8_t>& image) {
    char s[16];
    std::snprintf(s, sizeof s, "CRC: %04X", Crc16X25(image.data(), image.size()));
    return s;
  }
  bool AllBytes(uint8_t value) const {
    return std::all_of(C->FProgImage.begin(), C->FProgImage.end(),
                       [value](uint8_t b) { return b == value; });
  }
};

// Intel HEX record with its checksum (for the hand-made failure cases).
std::string HexRecord(uint8_t type, uint16_t address, const std::vector<uint8_t>& data) {
  std::vector<uint8_t> bytes{static_cast<uint8_t>(data.size()), static_cast<uint8_t>(address >> 8),
                             static_cast<uint8_t>(address), type};
  for (uint8_t b : data) bytes.push_back(b);
  bytes.push_back(TwosComplementSum(bytes.data(), bytes.size()));
  std::string s = ":";
  char h[3];
  for (uint8_t b : bytes) {
    std::snprintf(h, sizeof h, "%02X", b);
    s += h;
  }
  return s;
}

TLines FileLines(const fs::path& p) {
  TLines lines;
  EXPECT_TRUE(ReadTextLines(p.string(), lines));
  return lines;
}

TEST(HexStrToIntTest, DigitsAndOthers) {
  EXPECT_EQ(HexStrToInt("1aF"), 0x1AF);
  EXPECT_EQ(HexStrToInt(""), 0);
  EXPECT_EQ(HexStrToInt("1z"), 0x10);  // a stranger counts as 0 and keeps its place
  EXPECT_EQ(HexStrToInt("G1"), 0x01);
  EXPECT_EQ(HexStrToInt("FFFFFFFF"), -1);
}

TEST_F(TLoaderTest, ObjcopyIntelHexLoadsByteForByte) {
  // 96 KiB from 0x80000: crosses a 64 KiB segment, so segment records matter.
  const auto bin = Noise(0x18000, 1);
  const fs::path hex = Objcopy(bin, 0x80000, "-O ihex", "prog.Hex");
  EXPECT_NE(ReadAll(hex).find(":02000002"), std::string::npos);
  ASSERT_TRUE(Load(hex));
  EXPECT_TRUE(C->FProgDataLoaded);
  const auto image = Expected(bin, 0x80000);
  EXPECT_EQ(C->FProgImage, image);
  EXPECT_EQ(Ui.FLog, (TLines{"プログラムデータ読み込み終了[98304Bytes]", CrcLine(image)}));

  // The top of the area; a HEX parse starts from the image as it stands.
  const auto top = Noise(0x1000, 2);
  ASSERT_TRUE(Load(Objcopy(top, 0xFF000, "-O ihex", "top.hex")));
  auto both = image;
  std::copy(top.begin(), top.end(), both.end() - 0x1000);
  EXPECT_EQ(C->FProgImage, both);
}

TEST_F(TLoaderTest, ObjcopySRecordsS2AndS3LoadByteForByte) {
  const auto bin = Noise(0x12345, 3);
  struct TCase {
    const char* Options;
    const char* Name;
    const char* Type;
  };
  for (const TCase& c :
       {TCase{"-O srec", "s2.mot", "\nS2"}, TCase{"-O srec --srec-len 64", "s2len.MOT", "\nS2"},
        TCase{"-O srec --srec-forceS3 --srec-len 250", "s3.Mot", "\nS3"}}) {
    SCOPED_TRACE(c.Name);
    Ui.FLog.clear();
    const fs::path mot = Objcopy(bin, 0x90010, c.Options, c.Name);
    EXPECT_NE(ReadAll(mot).find(c.Type), std::string::npos);
    ASSERT_TRUE(Load(mot));
    const auto image = Expected(bin, 0x90010);
    EXPECT_EQ(C->FProgImage, image);
    EXPECT_EQ(Ui.FLog, (TLines{"プログラムデータ読み込み終了[74565Bytes]", CrcLine(image)}));
  }
}

TEST_F(TLoaderTest, ChecksumErrorsEmptyTheImageWithoutAMessage) {
  const auto bin = Noise(0x400, 4);
  TLines hex = FileLines(Objcopy(bin, 0x80000, "-O ihex", "a.hex"));
  hex[3][12] = hex[3][12] == '0' ? '1' : '0';  // one data digit changed
  EXPECT_FALSE(C->ParseHexLines(hex));
  EXPECT_TRUE(AllBytes(0x00));
  EXPECT_FALSE(C->FProgDataLoaded);

  TLines mot = FileLines(Objcopy(bin, 0x80000, "-O srec", "a.mot"));
  ASSERT_TRUE(C->ParseMotLines(mot));
  C->FProgDataLoaded = true;
  mot[2][14] = mot[2][14] == '0' ? '1' : '0';
  EXPECT_FALSE(C->ParseMotLines(mot));
  EXPECT_TRUE(AllBytes(0xFF));
  EXPECT_FALSE(C->FProgDataLoaded);
  EXPECT_TRUE(Ui.FMessages.empty());
}

TEST_F(TLoaderTest, OutOfRangeStopsTheLoadWithOneMessage) {
  const TLines hex = {HexRecord(2, 0, {0x12, 0x34}),    // segment base 0x12340
                      HexRecord(0, 0x0005, {1, 2, 3}),  // 0x12345: out of range
                      HexRecord(0, 0x0105, {4, 5, 6})};
  EXPECT_FALSE(C->ParseHexLines(hex));
  EXPECT_EQ(Ui.FMessages, (TLines{"データが、範囲外です！！"}));
  EXPECT_TRUE(AllBytes(0x00));

  // objcopy's S-records of data below the image.
  Ui.FMessages.clear();
  EXPECT_FALSE(Load(Objcopy(Noise(0x200, 5), 0x12345, "-O srec --srec-forceS3", "low.mot")));
  EXPECT_EQ(Ui.FMessages.size(), 1u);
  EXPECT_TRUE(AllBytes(0xFF));
}

TEST_F(TLoaderTest, VectorRecordsOutsideTheImageAreSkipped) {
  ASSERT_TRUE(C->SetImageExtent(0x80000, 0xBFFFF, 0xBFFFF, 0));
  const auto code = Noise(0x300, 6);
  const auto vectors = Noise(0x80, 7);
  TLines lines = FileLines(Objcopy(code, 0x80000, "-O ihex", "code.hex"));
  lines.pop_back();  // its end-of-file record
  for (const auto& l : FileLines(Objcopy(vectors, 0xFFF80, "-O ihex", "vec.hex")))
    lines.push_back(l);
  EXPECT_TRUE(C->ParseHexLines(lines));
  EXPECT_TRUE(Ui.FMessages.empty());
  EXPECT_EQ(C->FProgImage, Expected(code, 0x80000));
  EXPECT_TRUE(Ui.HasLine("プログラムデータ読み込み終了[768Bytes]"));
}

TEST_F(TLoaderTest, EmptyLinesAndLongRecords) {
  // An empty line is a 0-byte data record at the segment base.
  EXPECT_TRUE(C->ParseHexLines({HexRecord(2, 0, {0x80, 0x00}), "", HexRecord(0, 0x10, {7})}));
  EXPECT_EQ(C->FProgImage[0x10], 7);
  EXPECT_FALSE(C->ParseHexLines({"", HexRecord(0, 0x10, {7})}));  // base 0 is outside
  EXPECT_EQ(Ui.FMessages.size(), 1u);

  // Records of more than 128 bytes are passed over; nothing stored, no count line.
  Ui.FLog.clear();
  C->FProgImage.assign(C->FProgImage.size(), 0xFF);
  EXPECT_TRUE(
      C->ParseHexLines({HexRecord(2, 0, {0x80, 0x00}),
                        HexRecord(0, 0, std::vector<uint8_t>(129, 0x11)), HexRecord(1, 0, {})}));
  EXPECT_TRUE(AllBytes(0xFF));
  EXPECT_TRUE(Ui.FLog.empty());

  // A Motorola file of S1 records only: success, image all 0xFF, no count line.
  EXPECT_TRUE(Load(Objcopy(Noise(0x100, 8), 0x1000, "-O srec", "s1.mot")));
  EXPECT_TRUE(AllBytes(0xFF));
  EXPECT_EQ(Ui.FLog.size(), 1u);  // the CRC line only
}

TEST_F(TLoaderTest, MalformedRecordsFailWithoutReadingPastTheLine) {
  const std::string good = HexRecord(0, 0x20, {1, 2, 3, 4});
  EXPECT_FALSE(C->ParseHexLines({HexRecord(2, 0, {0x80, 0x00}), good.substr(0, 12)}));
  EXPECT_FALSE(C->ParseHexLines({HexRecord(2, 0, {0x80, 0x00}).substr(0, 13)}));
  EXPECT_FALSE(C->ParseMotLines({"S202"}));          // count too small for an address
  EXPECT_FALSE(C->ParseMotLines({"S3FF00080000"}));  // announces 255 bytes, holds 4
  EXPECT_FALSE(C->ParseMotLines({"S2"}));
  EXPECT_TRUE(C->ParseMotLines({"S", "", "S9030000FC"}));  // not S2 or S3: passed over
  EXPECT_TRUE(Ui.FMessages.empty());
}

TEST_F(TLoaderTest, FileNamesUnreadableFilesAndDrops) {
  const fs::path hex = Objcopy(Noise(0x40, 9), 0x80000, "-O ihex", "ok.hex");
  EXPECT_FALSE(Load(WriteFile("prog.bin2", ReadAll(hex))));
  EXPECT_TRUE(Ui.FLog.empty());  // an unknown kind: nothing, not even a CRC

  // Missing, a folder, unreadable: a failed load, never an exception.
  fs::create_directory(Dir / "folder.hex");
  for (const fs::path& p : {Dir / "missing.hex", Dir / "folder.hex"}) {
    Ui.FLog.clear();
    EXPECT_EQ(LoadDroppedFiles(*C, {p.string()}), p.string());
    EXPECT_TRUE(Ui.HasLine("NG: Read ROM Data"));
    EXPECT_FALSE(C->FProgDataLoaded);
  }
  EXPECT_TRUE(AllBytes(0x00));

  // Only the first of several is loaded; a path far beyond 255 characters works.
  fs::path deep = Dir;
  for (int i = 0; i < 5; ++i) deep /= std::string(60, static_cast<char>('a' + i));
  fs::create_directories(deep);
  const fs::path longPath = deep / "プログラム.HEX";
  fs::copy_file(hex, longPath);
  ASSERT_GT(longPath.string().size(), 300u);
  Ui.FLog.clear();
  EXPECT_EQ(LoadDroppedFiles(*C, {longPath.string(), (Dir / "missing.hex").string()}),
            longPath.string());
  EXPECT_TRUE(Ui.HasLine("OK: Read ROM Data"));
  EXPECT_TRUE(C->FProgDataLoaded);

  Ui.FLog.clear();
  EXPECT_EQ(LoadDroppedFiles(*C, {}), "");
  EXPECT_EQ(LoadDroppedFiles(*C, {""}), "");
  EXPECT_TRUE(Ui.FLog.empty());
}

TEST_F(TLoaderTest, LineEndingsOfOtherSystems) {
  const fs::path hex = Objcopy(Noise(0x100, 10), 0x80000, "-O ihex", "unix.hex");
  const TLines unix = FileLines(hex);
  std::string crlf, cr;
  for (const auto& l : unix) crlf += l + "\r\n", cr += l + "\r";
  EXPECT_EQ(FileLines(WriteFile("dos.hex", crlf)), unix);
  EXPECT_EQ(FileLines(WriteFile("mac.hex", cr)), unix);
  EXPECT_EQ(FileLines(WriteFile("blank.hex", "a\n\nb")), (TLines{"a", "", "b"}));
}

TEST_F(TLoaderTest, ImageCrcStaysInsideTheImage) {
  ASSERT_TRUE(C->SetImageExtent(0x8000, 0x1FFFF, 0x1FFFF, 1));
  for (size_t i = 0; i < C->FProgImage.size(); ++i) C->FProgImage[i] = static_cast<uint8_t>(i * 7);
  // 0x8000-0xDFFF (0x4000-0x7FFF is not in the image), then 0x10000 up to
  // the last step below 0x1FFFF.
  std::vector<uint8_t> covered(C->FProgImage.begin(), C->FProgImage.begin() + 0x6000);
  covered.insert(covered.end(), C->FProgImage.begin() + 0x8000, C->FProgImage.end());
  const uint16_t crc = Crc16X25(covered.data(), covered.size());
  EXPECT_EQ(C->ImageCrc(), crc);
  C->FImageHigh = 0x3FFFF;  // steps past the image's end add nothing
  EXPECT_EQ(C->ImageCrc(), crc);
  C->FImageHigh = 0xE000;
  EXPECT_EQ(C->ImageCrc(), 0x0000);

  C->FDeviceKind = 0;
  C->FImageEnd = 0x8FFFF;  // beyond the image: the image's bytes only
  EXPECT_EQ(C->ImageCrc(), Crc16X25(C->FProgImage.data(), C->FProgImage.size()));
  C->FImageEnd = 0x8000;
  EXPECT_EQ(C->ImageCrc(), Crc16X25(C->FProgImage.data(), 1));
  EXPECT_FALSE(C->SetImageExtent(0x1000, 0x0FFF, 0, 0));
}

TEST_F(TLoaderTest, HexDataDumpReplacesOnlyItsOwnFile) {
  C->FSaveHexData = true;
  C->FHexDataFolder = Dir.string();
  const fs::path dump = Dir / "hexdata.dat";
  WriteFile("hexdata.dat", "an earlier dump");
  const fs::path hex = Objcopy(Noise(0x500, 11), 0x80100, "-O ihex", "d.hex");
  ASSERT_TRUE(Load(hex));
  EXPECT_EQ(ReadAll(dump), std::string(C->FProgImage.begin(), C->FProgImage.end()));

  // A failed load writes nothing.
  fs::remove(dump);
  EXPECT_FALSE(Load(Dir / "missing.hex"));
  EXPECT_FALSE(fs::exists(dump));

  // Something else under that name is left alone; the load still succeeds.
  fs::create_directory(dump);
  Ui.FLog.clear();
  EXPECT_TRUE(Load(hex));
  EXPECT_TRUE(fs::is_directory(dump));
  EXPECT_TRUE(Ui.HasLine("NG: Save hexdata.dat"));
  fs::remove(dump);
  const fs::path other = WriteFile("other.txt", "keep me");
  fs::create_symlink(other, dump);
  EXPECT_TRUE(Load(hex));
  EXPECT_EQ(ReadAll(other), "keep me");

  for (const auto& e : fs::directory_iterator(Dir))
    EXPECT_EQ(e.path().filename().string().find(".tmp"), std::string::npos) << e.path();
}

}  // namespace
