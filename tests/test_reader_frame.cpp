// The reader command frame: request bytes as they leave the controller, the
// answer parsers, ReceiveFrame and the frame dump, in virtual time.
#include <gtest/gtest.h>

#include <functional>

#include "reader/ReaderFrame.h"
#include "support/ScriptedLink.h"

namespace {

struct TReaderFrameTest : TScriptedLinkTest<> {
  void SetUp() override { Connect(115200); }
};

TBytes Join(std::initializer_list<TBytes> parts) {
  size_t n = 0;
  for (const TBytes& p : parts) n += p.size();
  TBytes out(n);
  auto at = out.begin();
  for (const TBytes& p : parts) at = std::copy(p.begin(), p.end(), at);
  return out;
}

TEST_F(TReaderFrameTest, CommandsSendTheirExactRequests) {
  uint16_t word = 0;
  const std::vector<std::pair<TBytes, std::function<void()>>> cases = {
      {{0x02, 0x00, 0x4F, 0x02, 0x90, 0x00, 0x03, 0xE6, 0x0D}, [&] { C->ReadRomVersion(true); }},
      {{0x02, 0x00, 0x4F, 0x01, 0x93, 0x03, 0xE8, 0x0D}, [&] { C->ReadModelName(false, true); }},
      {{0x02, 0x00, 0x47, 0x01, 0x93, 0x03, 0xE0, 0x0D}, [&] { C->ReadModelName(true, true); }},
      {{0x02, 0x00, 0x55, 0x02, 0xFE, 0x00, 0x03, 0x5A, 0x0D}, [&] { C->SetProgMode(); }},
      {{0x02, 0x00, 0x4E, 0x0A, 0x9B, 0x35, 0x38, 0x33, 0x39, 0x31, 0x34, 0x32, 0x30, 0x37, 0x03,
        0xCF, 0x0D},
       [&] { C->SetProgModeWithCode(); }},
      {{0x02, 0x00, 0x4E, 0x07, 0x00, 0x00, 0x00, 0x08, 0x01, 0x00, 0x00, 0x03, 0x63, 0x0D},
       [&] { C->DousaModeSet(false, 0, 0, 8, 0); }},
      {{0x02, 0x00, 0x4E, 0x07, 0x10, 0x01, 0x02, 0x03, 0x01, 0x12, 0x34, 0x03, 0xB7, 0x0D},
       [&] { C->DousaModeSet(true, 1, 2, 3, 0x1234); }},
      {{0x02, 0x00, 0x45, 0x03, 0x01, 0x94, 0x00, 0x03, 0xE2, 0x0D},
       [&] { C->IfbDousaModeSet(0x0094); }},
      {{0x02, 0x00, 0x45, 0x03, 0x01, 0x34, 0x12, 0x03, 0x94, 0x0D},
       [&] { C->SetIFBMode(0x1234, true); }},
      {{0x02, 0x00, 0x45, 0x01, 0x00, 0x03, 0x4B, 0x0D}, [&] { C->GetIFBMode(word, true); }},
      {{0x02, 0x00, 0x45, 0x02, 0x90, 0x00, 0x03, 0xDC, 0x0D}, [&] { C->ReadIfbRomVersion(true); }},
      {{0x02, 0x00, 0x45, 0x01, 0x0A, 0x03, 0x55, 0x0D}, [&] { C->RestartIfb(); }},
      {{0x02, 0x00, 0x45, 0x03, 0x04, 0x08, 0x01, 0x03, 0x5A, 0x0D}, [&] { C->IfbCmdThrough(); }},
  };
  for (size_t i = 0; i < cases.size(); ++i) EXPECT_EQ(Sent(cases[i].second), cases[i].first) << i;
}

TEST(ReaderFrameBuild, SumKeepsTheLowEightBitsAndOversizedDataIsRefused) {
  // The transmitter-on request adds up to 0x1F4.
  const TBytes txOn = ReaderFrame::BuildRequest('N', {0x9E, 0x01});
  EXPECT_EQ(txOn, (TBytes{0x02, 0x00, 0x4E, 0x02, 0x9E, 0x01, 0x03, 0xF4, 0x0D}));
  EXPECT_EQ(TFlashWrRXCont::FrameSum(txOn.data()), 0xF4);
  const TBytes ack = MakeReaderFrame('0', {});
  EXPECT_EQ(TFlashWrRXCont::FrameSum(ack.data()), ack[5]);

  EXPECT_EQ(ReaderFrame::BuildRequest('O', TBytes(255, 0x11)).size(), 262u);
  EXPECT_TRUE(ReaderFrame::BuildRequest('O', TBytes(256, 0x11)).empty());
}

TEST(ReaderFrameParse, StatusAnswerReadsFixedPositionsAndNothingBeyond) {
  const ReaderFrame::TStatusAnswer a({0x02, 0x00, '0', 0x03, 0x00, 0x34, 0x12});
  EXPECT_TRUE(a.Accepted());
  EXPECT_EQ(a.WordLoHi(5), 0x1234);
  EXPECT_EQ(a.At(7), 0);
  EXPECT_EQ(a.Text(5, 9), std::string("\x34\x12"));
  EXPECT_EQ(a.Text(9, 2), "");
  EXPECT_FALSE(ReaderFrame::TStatusAnswer({0x02, 0x00, '1'}).Accepted());
}

TEST(ReaderFrameParse, VerifiedAnswerChecksStxStatusEchoAndSum) {
  const TBytes good = MakeReaderFrame('0', {0x6F});  // 8-byte ack echoing 6F, ETX at 5
  EXPECT_TRUE(ReaderFrame::VerifyAnswer(good.data(), good.size(), 5, 0x6F));
  EXPECT_FALSE(ReaderFrame::VerifyAnswer(good.data(), good.size(), 5, 0x71));  // wrong echo

  TBytes bad = good;
  bad[0] = 0x0D;
  EXPECT_FALSE(ReaderFrame::VerifyAnswer(bad.data(), bad.size(), 5, 0x6F));
  bad = MakeReaderFrame('1', {0x6F});
  EXPECT_FALSE(ReaderFrame::VerifyAnswer(bad.data(), bad.size(), 5, 0x6F));
  bad = good;
  bad[6] ^= 0x01;
  EXPECT_FALSE(ReaderFrame::VerifyAnswer(bad.data(), bad.size(), 5, 0x6F));

  const TBytes plain = MakeReaderFrame('0', {});  // 7-byte ack, no echo expected
  EXPECT_TRUE(ReaderFrame::VerifyAnswer(plain.data(), plain.size(), 4, -1));
  EXPECT_FALSE(ReaderFrame::VerifyAnswer(plain.data(), 5, 4, -1));  // sum not there
}

// ---- ReceiveFrame -------------------------------------------------------

TEST_F(TReaderFrameTest, ReceiveFrameSkipsBytesBeforeStxAndLeavesWhatFollows) {
  const TBytes frame = MakeReaderFrame('0', {0x74, 0x00, 0x10, 0x04, 1, 2, 3, 4});
  const TBytes reply = Join({{0x0D, 0xFF, 0x13}, frame, {0xAA}});
  Device.Reply(reply, 20);
  uint8_t out[ReaderFrame::kFrameBufferSize] = {};
  EXPECT_EQ(C->ReceiveFrame(out, 3000), frame.size());
  EXPECT_EQ(TBytes(out, out + frame.size()), frame);
  EXPECT_EQ(C->GetRxCount(), 1);  // the byte after the frame is not taken
}

TEST_F(TReaderFrameTest, ReceiveFrameRejectsAMalformedFrameAtOnce) {
  const TBytes good = MakeReaderFrame('0', {0x75});
  std::vector<std::pair<const char*, TBytes>> cases;
  TBytes b = good;
  b[5] = 0x04;  // ETX
  cases.push_back({"etx", b});
  b = good;
  b[7] = 0x0A;  // CR
  cases.push_back({"cr", b});
  b = good;
  b[6] ^= 0x80;  // sum
  cases.push_back({"sum", b});
  for (const auto& [what, bytes] : cases) {
    C->ClearRxBuffer();
    Device.Reply(bytes, 50);
    const uint32_t start = Host.TickCount();
    EXPECT_EQ(C->ReceiveFrame(nullptr, 3000), 0) << what;
    EXPECT_LE(Elapsed(start), 60u) << what;
  }
}

TEST_F(TReaderFrameTest, ReceiveFrameTakesTheShortestAndLongestFrames) {
  const TBytes empty = MakeReaderFrame('0', {});
  Device.Reply(empty);
  uint8_t out[ReaderFrame::kFrameBufferSize];
  EXPECT_EQ(C->ReceiveFrame(out, 3000), 7);
  EXPECT_EQ(out[4], 0x03);

  TBytes data(255);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i);
  const TBytes longest = MakeReaderFrame('0', data);
  std::fill(std::begin(out), std::end(out), 0xEE);
  Device.Reply(longest);
  EXPECT_EQ(C->ReceiveFrame(out, 3000), 262);
  EXPECT_EQ(TBytes(out, out + 262), longest);
  EXPECT_EQ(out[262], 0xEE);  // the 263rd byte is not written
}

TEST_F(TReaderFrameTest, ReceiveFrameWaitsForAFrameSplitAcrossArrivals) {
  const TBytes frame = MakeReaderFrame('0', {0x74, 0x00, 0x00, 0x04, 9, 8, 7, 6});
  Device.Reply(TBytes(frame.begin(), frame.begin() + 6), 10);
  Device.Reply(TBytes(frame.begin() + 6, frame.end()), 800);
  uint8_t out[ReaderFrame::kFrameBufferSize] = {};
  const uint32_t start = Host.TickCount();
  EXPECT_EQ(C->ReceiveFrame(out, 3000), frame.size());
  EXPECT_EQ(out[11], 6);
  EXPECT_LT(Elapsed(start), 1000u);
}

TEST_F(TReaderFrameTest, ReceiveFrameTimesOutAfterTheGivenTime) {
  Device.Reply(TBytes{0x02, 0x00, 0x30}, 100);  // a frame that never completes
  const uint32_t start = Host.TickCount();
  EXPECT_EQ(C->ReceiveFrame(nullptr, 3000), 0);
  EXPECT_EQ(Elapsed(start), 3000u);
}

// ---- dump ---------------------------------------------------------------

TEST_F(TReaderFrameTest, DumpWritesLabelAsDetailAndHexByCommand) {
  C->FTxTrace = 1;
  C->ReadRomVersion(false);        // hex line always
  C->ReadModelName(false, false);  // hex line detail
  C->SetIFBMode(0x0012, false);    // no label, hex always
  EXPECT_EQ(Ui.FLog, (std::vector<std::string>{"02 00 4F 02 90 00 03 E6 0D ",
                                               "02 00 45 03 01 12 00 03 60 0D "}));

  Ui.FLog.clear();
  C->FDetailLog = 1;
  C->ReadRomVersion(false);
  ASSERT_GE(Ui.FLog.size(), 3u);
  EXPECT_EQ(Ui.FLog[0], "ＲＯＭのバージョン情報");
  EXPECT_EQ(Ui.FLog[1], "02 00 4F 02 90 00 03 E6 0D ");
  EXPECT_EQ(Ui.FLog.back(), "Time Over(10)");

  Ui.FLog.clear();
  C->FTxTrace = 0;
  C->ReadRomVersion(false);
  EXPECT_EQ(Ui.FLog, (std::vector<std::string>{"Time Over(10)"}));
}

}  // namespace
