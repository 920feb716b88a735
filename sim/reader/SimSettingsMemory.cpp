#include "sim/reader/SimSettingsMemory.h"

#include <algorithm>
#include <cctype>

using namespace SimFrame;

namespace {

constexpr uint8_t kLetterRead = 'O';
constexpr uint8_t kLetterSet = 'N';
constexpr uint8_t kReadArea0 = 0x70;
constexpr uint8_t kReadArea1 = 0x72;
constexpr uint8_t kReadArea2 = 0x73;
constexpr uint8_t kSelectorRW = 0x83;
constexpr uint8_t kReadChip = 0x7C;
constexpr uint8_t kInit = 0x71;
constexpr uint8_t kTxOnOff = 0x9E;
constexpr uint8_t kPower = 0x84;

constexpr int kArea3 = 0x03;
constexpr int kFactory = 0xFE;
constexpr int kAllData = 0xFF;
// Selector used for the chip's settings, which its read names by detail code alone.
constexpr int kChip = 0x100;

constexpr size_t kMaxAnswerData = 255;
constexpr size_t kReadHead = 3;  // detail, index, count

TSimSettingsAnswer Refused(const TSimRequest& r) {
  TSimSettingsAnswer a;
  a.Status = kRefused;
  if (!r.Data.empty()) a.Data = {r.Data[0]};
  return a;
}

TSimSettingsAnswer Accepted(TBytes data) {
  TSimSettingsAnswer a;
  a.Data = std::move(data);
  return a;
}

// A byte that is never 0, different for each position and shift.
TBytes Pattern(size_t n, int shift) {
  TBytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(1 + (i * 53 + shift) % 255);
  return b;
}

bool ParseNumber(const std::string& s, int maxDigits, int& out) {
  if (s.empty() || static_cast<int>(s.size()) > maxDigits ||
      !std::all_of(s.begin(), s.end(),
                   [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
    return false;
  out = std::stoi(s);
  return true;
}

bool ParseHexByte(const std::string& s, int& out) {
  if (s.size() != 2 || !std::isxdigit(static_cast<unsigned char>(s[0])) ||
      !std::isxdigit(static_cast<unsigned char>(s[1])))
    return false;
  out = std::stoi(s, nullptr, 16);
  return true;
}

bool IsRead(const TSimRequest& r) {
  return r.Letter == kLetterRead && r.Detail() != kPower;
}

}  // namespace

// ---- options ------------------------------------------------------------

bool TSimSettingsOptions::SetSwitch(const std::string& name, const std::string& value) {
  if (name == "tx-power" || name == "ref-power") {
    int v = 0;
    if (!ParseNumber(value, 5, v) || v > 0xFFFF) return false;
    (name == "tx-power" ? TxPower : RefPower) = static_cast<uint16_t>(v);
    return true;
  }
  if (name != "settings-fault") return false;
  // KIND:L:DD[:SS]@N[xK]
  const size_t at = value.find('@');
  if (at == std::string::npos) return false;
  std::vector<std::string> parts;
  for (size_t from = 0;;) {
    const size_t colon = value.find(':', from);
    if (colon == std::string::npos || colon > at) {
      parts.push_back(value.substr(from, at - from));
      break;
    }
    parts.push_back(value.substr(from, colon - from));
    from = colon + 1;
  }
  if (parts.size() != 3 && parts.size() != 4) return false;
  static const std::pair<const char*, TSimSettingsFaultKind> kinds[] = {
      {"refuse", TSimSettingsFaultKind::Refuse},
      {"silent", TSimSettingsFaultKind::Silent},
      {"bad-echo", TSimSettingsFaultKind::BadEcho},
      {"bad-data", TSimSettingsFaultKind::BadData}};
  const auto k = std::find_if(std::begin(kinds), std::end(kinds),
                              [&](const auto& p) { return parts[0] == p.first; });
  if (k == std::end(kinds) || parts[1].size() != 1) return false;
  TSimSettingsFault f;
  f.Kind = k->second;
  f.Letter = static_cast<uint8_t>(parts[1][0]);
  if (!ParseHexByte(parts[2], f.Detail)) return false;
  if (parts.size() == 4 && !ParseHexByte(parts[3], f.Selector)) return false;
  const std::string rest = value.substr(at + 1);
  const size_t x = rest.find('x');
  if (!ParseNumber(rest.substr(0, x), 6, f.From) || f.From < 1) return false;
  if (x != std::string::npos) {
    const std::string count = rest.substr(x + 1);
    if (count == "*")
      f.Count = 0;
    else if (!ParseNumber(count, 6, f.Count) || f.Count < 1)
      return false;
  }
  Faults.push_back(f);
  return true;
}

std::vector<std::string> TSimSettingsOptions::SwitchHelp() {
  return {
      "tx-power=N            transmit power reported while the transmitter is on",
      "ref-power=N           reference power reported by the power read",
      "settings-fault=KIND:L:DD[:SS]@N[xK]  the N-th request (K of them, * for all) of",
      "                      settings command L/DD (selector SS): KIND refuse, silent,",
      "                      bad-echo or bad-data",
  };
}

// ---- memory -------------------------------------------------------------

TSimSettingsMemory::TSimSettingsMemory(const TSimSettingsOptions& options)
    : FFactory(FactoryData()),
      FAll(OwnSettings()),
      FChip(Pattern(2 * kChipWords, 201)),
      FOptions(options) {}

std::vector<std::pair<uint8_t, int>> TSimSettingsMemory::Commands() {
  return {{kLetterRead, kReadArea0},  {kLetterRead, kReadArea1}, {kLetterRead, kReadArea2},
          {kLetterRead, kSelectorRW}, {kLetterRead, kReadChip},  {kLetterRead, kPower},
          {kLetterSet, kSelectorRW},  {kLetterSet, kInit},       {kLetterSet, kTxOnOff}};
}

TBytes TSimSettingsMemory::FactoryData() {
  return Pattern(kAllBytes, 7);
}
TBytes TSimSettingsMemory::OwnSettings() {
  return Pattern(kAllBytes, 100);
}

int TSimSettingsMemory::SelectorOf(const TSimRequest& r) {
  switch (r.Detail()) {
    case kReadArea0:
      return r.Letter == kLetterRead ? 0 : -1;
    case kReadArea1:
      return r.Letter == kLetterRead ? 1 : -1;
    case kReadArea2:
      return r.Letter == kLetterRead ? 2 : -1;
    case kReadChip:
      return r.Letter == kLetterRead ? kChip : -1;
    case kSelectorRW:
      return r.Data.size() > 1 ? r.Data[1] : -1;
    default:
      return -1;
  }
}

TSimSettingsMemory::TSpan TSimSettingsMemory::SpanOf(int selector) {
  if (selector >= 0 && selector <= kArea3) {
    size_t first = 0;
    for (int a = 0; a < selector; ++a) first += 2 * static_cast<size_t>(kAreaWords[a]);
    return {&FAll, first, kAreaWords[selector]};
  }
  if (selector == kFactory) return {&FFactory, 0, kAllWords};
  if (selector == kAllData) return {&FAll, 0, kAllWords};
  return {&FChip, 0, kChipWords};
}

const TSimSettingsFault* TSimSettingsMemory::FaultFor(const TSimRequest& r) {
  const int selector = SelectorOf(r);
  FSeen.push_back({r.Letter, r.Detail(), selector});
  for (const TSimSettingsFault& f : FOptions.Faults) {
    const auto matches = [&f](const TSeen& s) {
      return s.Letter == f.Letter && s.Detail == f.Detail &&
             (f.Selector < 0 || s.Selector == f.Selector);
    };
    if (!matches(FSeen.back())) continue;
    const int n = static_cast<int>(std::count_if(FSeen.begin(), FSeen.end(), matches));
    if (n >= f.From && (f.Count == 0 || n < f.From + f.Count)) return &f;
  }
  return nullptr;
}

TSimSettingsAnswer TSimSettingsMemory::Handle(const TSimRequest& r) {
  if (OnRequest) OnRequest(r);
  const TSimSettingsFault* fault = FaultFor(r);
  if (fault && fault->Kind == TSimSettingsFaultKind::Refuse) return Refused(r);
  if (fault && fault->Kind == TSimSettingsFaultKind::Silent) {
    TSimSettingsAnswer a;
    a.Answer = false;
    return a;
  }
  const bool corrupt = fault && fault->Kind == TSimSettingsFaultKind::BadData;
  if (corrupt && r.Letter == kLetterSet && r.Detail() == kSelectorRW) {
    // A write stores its last byte spoiled.
    TSimRequest spoiled = r;
    spoiled.Data.back() ^= 0x01;
    return Execute(spoiled);
  }
  TSimSettingsAnswer a = Execute(r);
  if (a.Status != kAccepted || !IsRead(r)) return a;
  if (corrupt && a.Data.size() > kReadHead) a.Data.back() ^= 0x01;
  if (fault && fault->Kind == TSimSettingsFaultKind::BadEcho) ++a.Data[1];
  return a;
}

TSimSettingsAnswer TSimSettingsMemory::Execute(const TSimRequest& r) {
  const TBytes& d = r.Data;
  const int detail = r.Detail();
  if (r.Letter == kLetterSet && detail == kInit) {
    if (d.size() != 1) return Refused(r);
    FAll = FFactory;
    ++FInits;
    return Accepted({kInit});
  }
  if (r.Letter == kLetterSet && detail == kTxOnOff) {
    if (d.size() != 2 || d[1] > 1) return Refused(r);
    FTxOn = d[1] == 1;
    return Accepted({kTxOnOff, d[1]});
  }
  if (r.Letter == kLetterRead && detail == kPower) {
    if (d.size() != 2 || d[1] != 0) return Refused(r);
    const uint16_t power = FTxOn ? FOptions.TxPower : 0;
    const uint16_t ref = FOptions.RefPower;
    return Accepted({kPower, 0x00, static_cast<uint8_t>(power & 0xFF),
                     static_cast<uint8_t>(power >> 8), static_cast<uint8_t>(ref & 0xFF),
                     static_cast<uint8_t>(ref >> 8), 0x00, 0x00});
  }

  // Reads and writes: [detail] [selector when 83] index count [data].
  const bool write = r.Letter == kLetterSet;
  const int selector = SelectorOf(r);
  const size_t head = detail == kSelectorRW ? 4 : 3;
  if (selector < 0 || d.size() < head) return Refused(r);
  if (write ? selector == kFactory
            : detail == kSelectorRW && selector != kArea3 && selector != kFactory &&
                  selector != kAllData)
    return Refused(r);
  const int index = d[head - 2];
  const int count = d[head - 1];
  const size_t bytes = 2 * static_cast<size_t>(count);
  if (d.size() != head + (write ? bytes : 0)) return Refused(r);
  if (!write && kReadHead + bytes > kMaxAnswerData) return Refused(r);
  const TSpan span = SpanOf(selector);
  if (count < 1 || index < 1 || index - 1 + count > span.Words) return Refused(r);
  const auto at = span.Bytes->begin() + static_cast<ptrdiff_t>(span.First + 2 * (index - 1));
  if (write) {
    std::copy(d.begin() + static_cast<ptrdiff_t>(head), d.end(), at);
    return Accepted({kSelectorRW});
  }
  TBytes answer{static_cast<uint8_t>(detail), static_cast<uint8_t>(index),
                static_cast<uint8_t>(count)};
  answer.insert(answer.end(), at, at + static_cast<ptrdiff_t>(bytes));
  return Accepted(answer);
}
