// The parameter memory commands against scripted answers: the exact request
// bytes, what each answer check accepts, both block-write acknowledgements,
// the checked read's count and the time-outs.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "support/ScriptedLink.h"

namespace {

uint8_t Sum(const TBytes& b, size_t n) {
  uint8_t s = 0;
  for (size_t i = 0; i < n; ++i) s = static_cast<uint8_t>(s + b[i]);
  return s;
}

TBytes BlockAnswer(uint8_t count, const TBytes& bytes) {
  TBytes d{0x74, 0x00, 0x00, count};
  for (uint8_t b : bytes) d.push_back(b);  // insert here trips a false GCC 12 warning
  return MakeReaderFrame('0', d);
}

const TBytes kPlainAck = MakeReaderFrame('0', {});
const TBytes kEchoAck = MakeReaderFrame('0', {0x75});

struct TParamCommandTest : TScriptedLinkTest<> {
  std::vector<TBytes> Answers;  // one per request, in turn; none left: silent

  void SetUp() override {
    Connect();
    Device.OnReceive = [this](TScriptedDevice& d, const TBytes&) {
      if (Answers.empty()) return;
      d.Reply(Answers.front(), 5);
      Answers.erase(Answers.begin());
    };
  }
};

TEST_F(TParamCommandTest, RequestsCarryAddressesAndWordNumbersAsDescribed) {
  uint8_t b[64] = {};
  const uint8_t v[4] = {1, 2, 3, 4};
  C->ReadParamBlock(351, b, 4);  // byte address 0x057C, high byte first
  EXPECT_EQ(Device.FReceived, MakeReaderFrame('U', {0x74, 0x05, 0x7C, 0x04}));
  Device.FReceived.clear();
  C->ReadParamWord(33, b);  // word number, low byte first
  EXPECT_EQ(Device.FReceived, MakeReaderFrame('U', {0xA5, 0x21, 0x00, 0, 0, 0, 0, 0x02}));
  Device.FReceived.clear();
  C->WriteParamWordVerified(38, v);
  EXPECT_EQ(Device.FReceived, MakeReaderFrame('U', {0xB5, 0x26, 0x00, 1, 2, 3, 4, 0x02}));
  Device.FReceived.clear();
  C->WriteParamBlockVerified(720, b, 64);  // 0x0B40, LEN 64 + 4
  ASSERT_EQ(Device.FReceived.size(), 75u);
  EXPECT_EQ(TBytes(Device.FReceived.begin(), Device.FReceived.begin() + 8),
            (TBytes{0x02, 0x00, 0x55, 0x44, 0x75, 0x0B, 0x40, 0x40}));

  const std::vector<std::pair<int (TFlashWrRXCont::*)(), TBytes>> fixed = {
      {&TFlashWrRXCont::LoadFactoryDefaults, {0x02, 0x00, 0x4E, 0x01, 0x6F, 0x03, 0xC3, 0x0D}},
      {&TFlashWrRXCont::PrepareParamMemory,
       {0x02, 0x00, 0x55, 0x05, 0x71, 0xFF, 0x00, 0x00, 0x00, 0x03, 0xCF, 0x0D}},
      {&TFlashWrRXCont::ConcludeRestore, {0x02, 0x00, 0x4E, 0x01, 0x9D, 0x03, 0xF1, 0x0D}}};
  for (const auto& [command, request] : fixed) {
    Device.FReceived.clear();
    (C.get()->*command)();
    EXPECT_EQ(Device.FReceived, request);
  }
}

TEST_F(TParamCommandTest, SilentReaderTimesOutAfterEachCommandsTimeOut) {
  uint8_t b[64] = {};
  const std::vector<std::pair<std::function<int()>, uint32_t>> cases = {
      {[&] { return C->ReadParamBlock(0, b, 4); }, 3000},
      {[&] { return C->WriteParamBlock(0, b, 4); }, 3000},
      {[&] { return C->ReadParamBlockChecked(0, b, 64); }, 3000},
      {[&] { return C->WriteParamBlockVerified(0, b, 64); }, 10000},
      {[&] { return C->WriteParamBlockAck(0, b, 4, 3000); }, 3000},
      {[&] { return C->ReadParamWord(0, b); }, 3000},
      {[&] { return C->WriteParamWordVerified(0, b); }, 10000},
      {[&] { return C->LoadFactoryDefaults(); }, 3000},
      {[&] { return C->PrepareParamMemory(); }, 3000},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    const uint32_t start = Host.TickCount();
    EXPECT_EQ(cases[i].first(), 0) << i;
    EXPECT_EQ(Elapsed(start), cases[i].second) << i;
  }
  // The concluding command waits for nothing.
  const uint32_t start = Host.TickCount();
  EXPECT_EQ(C->ConcludeRestore(), 1);
  EXPECT_EQ(Elapsed(start), 0u);
}

TEST_F(TParamCommandTest, BlockWritesAcceptEitherAcknowledgementInBothPlaces) {
  const uint8_t data[4] = {9, 8, 7, 6};
  const TBytes readBack = BlockAnswer(4, {9, 8, 7, 6});
  for (const TBytes& ack : {kPlainAck, kEchoAck}) {
    Answers = {ack};
    EXPECT_EQ(C->WriteParamBlock(351, data, 4), 1);
    Answers = {ack, readBack};
    EXPECT_EQ(C->WriteParamBlockVerified(351, data, 4), 1);
  }
  // Refused, spoiled or echoing another code: not acknowledged.
  TBytes badSum = kPlainAck;
  badSum[5] ^= 1;
  for (const TBytes& ack : {MakeReaderFrame('1', {}), MakeReaderFrame('1', {0x75}), badSum,
                            MakeReaderFrame('0', {0x74})}) {
    Answers = {ack};
    EXPECT_EQ(C->WriteParamBlock(351, data, 4), 0);
    Answers = {ack, readBack};
    EXPECT_EQ(C->WriteParamBlockVerified(351, data, 4), 0);
  }
  // Acknowledged, but the read-back differs.
  Answers = {kPlainAck, BlockAnswer(4, {9, 8, 7, 5})};
  EXPECT_EQ(C->WriteParamBlockVerified(351, data, 4), 0);
}

TEST_F(TParamCommandTest, CheckedReadCopiesTheAnswersCountButNeverMoreThanAsked) {
  uint8_t b[12];
  int copied = -1;
  std::memset(b, 0xEE, sizeof b);
  Answers = {BlockAnswer(4, {1, 2, 3, 4})};
  EXPECT_EQ(C->ReadParamBlockChecked(0, b, 8, &copied), 1);
  EXPECT_EQ(copied, 4);
  EXPECT_EQ(TBytes(b, b + 9), (TBytes{1, 2, 3, 4, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}));

  std::memset(b, 0xEE, sizeof b);
  Answers = {BlockAnswer(10, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10})};
  EXPECT_EQ(C->ReadParamBlockChecked(0, b, 8, &copied), 1);
  EXPECT_EQ(copied, 8);
  EXPECT_EQ(b[7], 8);
  EXPECT_EQ(b[8], 0xEE);

  // A spoiled sum or a missing echo fails; a refusal fails without waiting.
  TBytes spoiled = BlockAnswer(4, {1, 2, 3, 4});
  spoiled[13] ^= 1;
  TBytes noEcho = BlockAnswer(4, {1, 2, 3, 4});
  noEcho[4] = 0x75;
  noEcho[13] = Sum(noEcho, 13);
  for (const TBytes& a : {spoiled, noEcho, MakeReaderFrame('1', {0x74})}) {
    Answers = {a};
    const uint32_t start = Host.TickCount();
    EXPECT_EQ(C->ReadParamBlockChecked(0, b, 4, &copied), 0);
    EXPECT_EQ(copied, 0);
    EXPECT_LT(Elapsed(start), 100u);
  }
}

TEST_F(TParamCommandTest, WordAndAcknowledgementChecks) {
  uint8_t v[4] = {};
  Answers = {MakeReaderFrame('0', {0xA5, 0x11, 0x22, 0x33, 0x44})};
  EXPECT_EQ(C->ReadParamWord(352, v), 1);
  EXPECT_EQ(TBytes(v, v + 4), (TBytes{0x11, 0x22, 0x33, 0x44}));
  Answers = {MakeReaderFrame('0', {0xB5, 0x11, 0x22, 0x33, 0x44})};  // wrong echo
  EXPECT_EQ(C->ReadParamWord(352, v), 0);

  const uint8_t w[4] = {5, 6, 7, 8};
  Answers = {MakeReaderFrame('0', {0xB5}), MakeReaderFrame('0', {0xA5, 5, 6, 7, 8})};
  EXPECT_EQ(C->WriteParamWordVerified(38, w), 1);
  Answers = {MakeReaderFrame('0', {0xB5}), MakeReaderFrame('0', {0xA5, 5, 6, 7, 0})};
  EXPECT_EQ(C->WriteParamWordVerified(38, w), 0);

  Answers = {MakeReaderFrame('0', {0x6F})};
  EXPECT_EQ(C->LoadFactoryDefaults(), 1);
  Answers = {MakeReaderFrame('0', {0x71})};  // the preparation's echo is no default-load ack
  EXPECT_EQ(C->LoadFactoryDefaults(), 0);
  Answers = {MakeReaderFrame('1', {0x71})};
  EXPECT_EQ(C->PrepareParamMemory(), 0);
  Answers = {MakeReaderFrame('0', {0x71})};
  EXPECT_EQ(C->PrepareParamMemory(), 1);
}

TEST_F(TParamCommandTest, BadArgumentsAndAClosedPortSendNothing) {
  uint8_t b[256] = {};
  EXPECT_EQ(C->ReadParamBlock(0, b, 65), 0);
  EXPECT_EQ(C->WriteParamBlockVerified(0, b, 252), 0);
  EXPECT_EQ(C->ReadParamBlockChecked(735, b, 8), 0);  // past the last word
  EXPECT_EQ(C->ReadParamWord(736, b), 0);
  EXPECT_TRUE(Device.FReceived.empty());

  // Block read and write notice a failed send and return at once.
  C->CloseLink();
  const uint32_t start = Host.TickCount();
  EXPECT_EQ(C->ReadParamBlock(0, b, 4), 0);
  EXPECT_EQ(C->WriteParamBlock(0, b, 4), 0);
  EXPECT_EQ(Elapsed(start), 0u);
}

TEST_F(TParamCommandTest, SavedVariantIsLookedForAtTheFirstNinePositions) {
  const std::vector<std::pair<std::string, int>> cases = {
      {"2130KRV07", 1}, {"KRV072130", 1}, {"21300000KRV07", 1},   // starts at 8
      {"2130KRV08", 0}, {"", 0},          {"213000000KRV07", 0},  // starts at 9
  };
  for (const auto& [text, found] : cases) {
    std::memset(C->FSavedRomVersion, 0, sizeof C->FSavedRomVersion);
    std::memcpy(C->FSavedRomVersion, text.data(), text.size());
    EXPECT_EQ(C->CheckSavedVariant(), found) << text;
  }
}

}  // namespace
