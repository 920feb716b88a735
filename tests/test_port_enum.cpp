// Serial port listing and order, entry texts, and the version record reader.
#include <gtest/gtest.h>

#include "link/EnumCom.h"
#include "link/IpAddress.h"
#include "link/VersionRecord.h"

namespace {

class TFixedLister : public ISerialPortLister {
 public:
  bool ListPorts(std::vector<COMPPORT_NMAE>& ports) override {
    ++Calls;
    if (!Available) return false;
    ports.insert(ports.end(), Ports.begin(), Ports.end());
    return true;
  }
  std::vector<COMPPORT_NMAE> Ports;
  bool Available = true;
  int Calls = 0;
};

std::vector<std::string> Names(const TEnumCom& e) {
  std::vector<std::string> names;
  for (int i = 0; i < e.Count(); ++i) names.push_back(e.Port(i).PortName);
  return names;
}

TEST(EnumCom, SortsShortNamesBeforeLongOnesIgnoringCase) {
  TFixedLister lister;
  lister.Ports = {{"COM12", "a"}, {"COM3", "b"}, {"com4", "c"}};
  TEnumCom e(lister);
  EXPECT_EQ(e.EnumPorts(), 3);
  EXPECT_EQ(Names(e), (std::vector<std::string>{"COM3", "com4", "COM12"}));
  EXPECT_EQ(e.Port(0).DeviceDesc, "b");  // texts travel with their entry

  TFixedLister three;
  three.Ports = {{"COM100", ""}, {"COM11", ""}, {"COM10", ""}};
  TEnumCom f(three);
  f.EnumPorts();
  EXPECT_EQ(Names(f), (std::vector<std::string>{"COM10", "COM100", "COM11"}));
}

TEST(EnumCom, AppendsOnEveryListingUntilCleared) {
  TFixedLister lister;
  lister.Ports = {{"COM2", "x"}, {"COM1", "y"}};
  TEnumCom e(lister);
  e.EnumPorts();
  EXPECT_EQ(e.EnumPorts(), 2);
  EXPECT_EQ(Names(e), (std::vector<std::string>{"COM1", "COM1", "COM2", "COM2"}));
  e.ClearPorts();
  EXPECT_EQ(e.Count(), 0);
}

TEST(EnumCom, NoDeviceSetOrNoPortsLeaveTheListAsItWas) {
  TFixedLister none;
  TEnumCom empty(none);
  EXPECT_EQ(empty.EnumPorts(), 0);
  EXPECT_EQ(empty.Count(), 0);

  TFixedLister broken;
  broken.Available = false;
  TEnumCom e(broken);
  e.AddPort("COM9", "kept");
  EXPECT_EQ(e.EnumPorts(), 0);
  ASSERT_EQ(e.Count(), 1);
  EXPECT_EQ(e.Port(0).DeviceDesc, "kept");
}

TEST(EnumCom, EntryTextAndItsPortName) {
  const COMPPORT_NMAE port{"COM3", "USB Serial Device"};
  EXPECT_EQ(PortEntryText(port), "COM3(USB Serial Device)");
  EXPECT_EQ(PortEntryText({"ttyUSB0", ""}), "ttyUSB0()");
  EXPECT_EQ(EntryPortName("COM3(USB (x) Device)"), "COM3");
  EXPECT_EQ(EntryPortName("(no name)"), "");
  EXPECT_EQ(EntryPortName("/dev/pts/4"), "/dev/pts/4");
}

TEST(IpAddress, DottedTextRoundTripsAndAnythingElseIsAllOnes) {
  uint32_t a = 0;
  ASSERT_TRUE(ParseDottedAddress("192.168.1.7", &a));
  EXPECT_EQ(AddrByte(a, 0), 192);
  EXPECT_EQ(AddrByte(a, 3), 7);
  EXPECT_EQ(a & 0xFF, 192u);  // first byte lowest
  EXPECT_EQ(AddrToDotted(a), "192.168.1.7");
  for (const char* bad : {"", "1.2.3", "1.2.3.4.5", "256.1.1.1", "a.b.c.d", "1..2.3", "1.2.3.4 ",
                          "0001.2.3.4", "host.example"})
    EXPECT_EQ(DottedToAddr(bad), 0xFFFFFFFFu) << bad;
  EXPECT_EQ(AddrToDotted(DottedToAddr("0.0.0.0")), "0.0.0.0");
}

TEST(VersionRecord, ItemsOfTheProgramRecord) {
  const auto record = EmbeddedVersionRecord();
  EXPECT_EQ(VersionInfoItemFrom(record, 2), "1.1.6.0");
  EXPECT_EQ(VersionInfoItemFrom(record, 7), "QVX RORaderaD116");
  // 6 and every unlisted code read ProductVersion.
  EXPECT_EQ(VersionInfoItemFrom(record, 6), VersionInfoItemFrom(record, 99));
  EXPECT_FALSE(VersionInfoItemFrom(record, 6).empty());
  EXPECT_EQ(VersionInfoKey(99), std::string("ProductVersion"));
  // Japanese texts survive the UTF-16 record.
  EXPECT_EQ(VersionInfoItemFrom(record, 1), "QVX-K417 ファームアップデートツール");
  // The fixed block carries the file version as well.
  ASSERT_GE(record.size(), 96u);
  const uint8_t fixedVersion[] = {0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x06, 0x00};
  bool found = false;
  for (size_t i = 0; i + 8 <= record.size() && !found; ++i)
    found = std::equal(fixedVersion, fixedVersion + 8, record.begin() + static_cast<long>(i));
  EXPECT_TRUE(found);
}

TEST(VersionRecord, AnotherLanguageOrAMissingKeyReadsEmpty) {
  TVersionRecordSource english{{1, 1, 6, 0}, 0x0409, 1252, {{"ProductName", "X"}}};
  const auto record = BuildVersionRecord(english);
  EXPECT_EQ(VersionInfoItemFrom(record, 7), "");
  EXPECT_EQ(QueryVersionText(record, "\\StringFileInfo\\040904e4\\ProductName"), "X");
  // Keys are matched without regard to case, as the system does.
  EXPECT_EQ(QueryVersionText(record, "\\stringfileinfo\\040904E4\\productname"), "X");

  TVersionRecordSource japanese{{1, 1, 6, 0}, 0x0411, 932, {{"ProductName", "Y"}}};
  const auto jp = BuildVersionRecord(japanese);
  EXPECT_EQ(VersionInfoItemFrom(jp, 7), "Y");
  EXPECT_EQ(VersionInfoItemFrom(jp, 4), "");
  EXPECT_EQ(VersionInfoItemFrom({}, 7), "");
}

TEST(VersionRecord, TruncatedOrCorruptRecordsReadEmptyWithoutOverrun) {
  const auto record = EmbeddedVersionRecord();
  for (size_t cut = 0; cut < record.size(); cut += 7) {
    const std::vector<uint8_t> part(record.begin(), record.begin() + static_cast<long>(cut));
    (void)VersionInfoItemFrom(part, 7);  // must not read past the end (ASan/valgrind)
  }
  auto corrupt = record;
  corrupt[0] = 0xFF;  // root length beyond the record
  corrupt[1] = 0xFF;
  EXPECT_EQ(VersionInfoItemFrom(corrupt, 7), "");
  auto shortChild = record;
  // A string table claiming a length below its own header ends the query.
  for (size_t i = 0; i + 16 < shortChild.size(); ++i) {
    if (shortChild[i] == '0' && shortChild[i + 2] == '4' && shortChild[i + 4] == '1' &&
        shortChild[i + 6] == '1') {
      shortChild[i - 6] = 2;
      shortChild[i - 5] = 0;
      break;
    }
  }
  EXPECT_EQ(VersionInfoItemFrom(shortChild, 7), "");
}

}  // namespace
