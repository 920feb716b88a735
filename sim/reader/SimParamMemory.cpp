#include "sim/reader/SimParamMemory.h"

#include <algorithm>
#include <cctype>

using namespace SimFrame;

namespace {

constexpr uint8_t kLetterSet = 'N';
constexpr uint8_t kLetterMemory = 'U';
constexpr uint8_t kBlockRead = 0x74;
constexpr uint8_t kBlockWrite = 0x75;
constexpr uint8_t kWordRead = 0xA5;
constexpr uint8_t kWordWrite = 0xB5;
constexpr uint8_t kPrepare = 0x71;
constexpr uint8_t kFactoryLoad = 0x6F;
constexpr uint8_t kConclude = 0x9D;

constexpr size_t kBlockHead = 4;   // detail, address high, address low, count
constexpr size_t kMaxBlock = 251;  // the answer's LEN is count + 4
constexpr size_t kWordRequestLength = 8;
constexpr uint8_t kWordRequestEnd = 0x02;
const TBytes kPrepareData = {kPrepare, 0xFF, 0x00, 0x00, 0x00};

// The regions the tool fills when they read as empty: words 480 to 579, and
// some bytes of words 351, 353 and 354.
constexpr int kRegionFirst = 480;
constexpr int kRegionLast = 579;

TSimParamAnswer Refused(const TSimRequest& r) {
  TSimParamAnswer a;
  a.Status = kRefused;
  if (!r.Data.empty()) a.Data = {r.Data[0]};
  return a;
}

TSimParamAnswer Accepted(TBytes data) {
  TSimParamAnswer a;
  a.Data = std::move(data);
  return a;
}

// A byte that is never 0, different for each word and byte.
uint8_t Pattern(int word, int byte, int shift) {
  return static_cast<uint8_t>(1 + (word * 37 + byte * 71 + shift) % 255);
}

bool ParseNumber(const std::string& s, int& out) {
  if (s.empty() || s.size() > 6 || !std::all_of(s.begin(), s.end(), [](char c) {
        return std::isdigit(static_cast<unsigned char>(c));
      }))
    return false;
  out = std::stoi(s);
  return true;
}

}  // namespace

// ---- options ------------------------------------------------------------

bool TSimParamOptions::SetSwitch(const std::string& name, const std::string& value) {
  if (name == "param-ack") {
    if (value == "plain")
      BlockAck = TSimBlockAck::Plain;
    else if (value == "echo")
      BlockAck = TSimBlockAck::Echo;
    else
      return false;
    return true;
  }
  if (name != "param-fault") return false;
  // KIND:L:DD@N[xK]
  const size_t colon = value.find(':');
  const size_t at = value.find('@');
  if (colon == std::string::npos || at == std::string::npos || at < colon + 5 ||
      value[colon + 2] != ':')
    return false;
  static const std::pair<const char*, TSimParamFaultKind> kinds[] = {
      {"refuse", TSimParamFaultKind::Refuse},
      {"silent", TSimParamFaultKind::Silent},
      {"bad-sum", TSimParamFaultKind::BadSum},
      {"bad-data", TSimParamFaultKind::BadData}};
  TSimParamFault f;
  const std::string kind = value.substr(0, colon);
  const auto k = std::find_if(std::begin(kinds), std::end(kinds),
                              [&](const auto& p) { return kind == p.first; });
  if (k == std::end(kinds)) return false;
  f.Kind = k->second;
  f.Letter = static_cast<uint8_t>(value[colon + 1]);
  const std::string detail = value.substr(colon + 3, at - colon - 3);
  if (detail.size() != 2 || !std::isxdigit(static_cast<unsigned char>(detail[0])) ||
      !std::isxdigit(static_cast<unsigned char>(detail[1])))
    return false;
  f.Detail = std::stoi(detail, nullptr, 16);
  const std::string rest = value.substr(at + 1);
  const size_t x = rest.find('x');
  if (!ParseNumber(rest.substr(0, x), f.From) || f.From < 1) return false;
  if (x != std::string::npos) {
    const std::string count = rest.substr(x + 1);
    if (count == "*")
      f.Count = 0;
    else if (!ParseNumber(count, f.Count) || f.Count < 1)
      return false;
  }
  Faults.push_back(f);
  return true;
}

std::vector<std::string> TSimParamOptions::SwitchHelp() {
  return {
      "param-ack=plain|echo  block writes acknowledged with 7 bytes, or 8 echoing the code",
      "param-fault=KIND:L:DD@N[xK]  the N-th request (K of them, * for all) of parameter",
      "                      command L/DD: KIND refuse, silent, bad-sum or bad-data",
  };
}

// ---- memory -------------------------------------------------------------

TSimParamMemory::TSimParamMemory(const TSimParamOptions& options)
    : FMemory(OwnSettings()), FOptions(options) {}

std::vector<std::pair<uint8_t, int>> TSimParamMemory::Commands() {
  return {{kLetterMemory, kBlockRead}, {kLetterMemory, kBlockWrite}, {kLetterMemory, kWordRead},
          {kLetterMemory, kWordWrite}, {kLetterMemory, kPrepare},    {kLetterSet, kFactoryLoad},
          {kLetterSet, kConclude}};
}

TBytes TSimParamMemory::OwnSettings() {
  TBytes m(kBytes);
  for (int w = 0; w < kWords; ++w)
    for (int b = 0; b < kWordBytes; ++b)
      m[static_cast<size_t>(w * kWordBytes + b)] = Pattern(w, b, 11);
  return m;
}

TBytes TSimParamMemory::FactoryDefaults() {
  TBytes m(kBytes);
  for (int w = 0; w < kWords; ++w)
    for (int b = 0; b < kWordBytes; ++b)
      m[static_cast<size_t>(w * kWordBytes + b)] = Pattern(w, b, 139);
  std::fill(m.begin() + kRegionFirst * kWordBytes, m.begin() + (kRegionLast + 1) * kWordBytes, 0);
  m[351 * kWordBytes + 2] = 0;
  m[353 * kWordBytes + 2] = m[353 * kWordBytes + 3] = 0;
  m[354 * kWordBytes + 0] = m[354 * kWordBytes + 1] = 0;
  return m;
}

const TSimParamFault* TSimParamMemory::FaultFor(const TSimRequest& r) {
  const int n = ++FSeen[{r.Letter, r.Detail()}];
  for (const TSimParamFault& f : FOptions.Faults) {
    if (f.Letter != r.Letter || f.Detail != r.Detail() || n < f.From) continue;
    if (f.Count == 0 || n < f.From + f.Count) return &f;
  }
  return nullptr;
}

TSimParamAnswer TSimParamMemory::Handle(const TSimRequest& r) {
  if (OnRequest) OnRequest(r);
  const TSimParamFault* fault = FaultFor(r);
  if (fault && fault->Kind == TSimParamFaultKind::Refuse) return Refused(r);
  if (fault && fault->Kind == TSimParamFaultKind::Silent) {
    TSimParamAnswer a;
    a.Answer = false;
    return a;
  }
  TSimParamAnswer a = Execute(r);
  if (fault && fault->Kind == TSimParamFaultKind::BadSum) a.BadSum = true;
  // Spoils the last byte of the answer's payload, the checksum made to fit.
  if (fault && fault->Kind == TSimParamFaultKind::BadData && a.Data.size() > 1)
    a.Data.back() ^= 0x01;
  return a;
}

TSimParamAnswer TSimParamMemory::Execute(const TSimRequest& r) {
  const TBytes& d = r.Data;
  const int detail = r.Detail();
  if (r.Letter == kLetterSet) {
    if (d.size() != 1) return Refused(r);
    if (detail == kFactoryLoad) {
      FMemory = FactoryDefaults();
      ++FFactoryLoads;
      return Accepted({kFactoryLoad});
    }
    ++FConclusions;
    TSimParamAnswer none;
    none.Answer = false;
    return none;
  }
  if (detail == kBlockRead || detail == kBlockWrite) {
    if (d.size() < kBlockHead) return Refused(r);
    const size_t address = static_cast<size_t>(d[1] << 8 | d[2]);
    const size_t n = d[3];
    const bool write = detail == kBlockWrite;
    if (n == 0 || n > kMaxBlock || address + n > kBytes || d.size() != kBlockHead + (write ? n : 0))
      return Refused(r);
    if (!write) {
      TBytes answer(d.begin(), d.begin() + kBlockHead);
      answer.insert(answer.end(), FMemory.begin() + static_cast<ptrdiff_t>(address),
                    FMemory.begin() + static_cast<ptrdiff_t>(address + n));
      return Accepted(answer);
    }
    const size_t word38 = static_cast<size_t>(kWordOnlyWord) * kWordBytes;
    if (address < word38 + kWordBytes && address + n > word38) return Refused(r);
    std::copy(d.begin() + kBlockHead, d.end(), FMemory.begin() + static_cast<ptrdiff_t>(address));
    return Accepted(FOptions.BlockAck == TSimBlockAck::Echo ? TBytes{kBlockWrite} : TBytes{});
  }
  if (detail == kWordRead || detail == kWordWrite) {
    if (d.size() != kWordRequestLength || d.back() != kWordRequestEnd) return Refused(r);
    const int word = d[1] | d[2] << 8;
    if (word >= kWords) return Refused(r);
    const auto at = FMemory.begin() + word * kWordBytes;
    if (detail == kWordWrite) {
      std::copy(d.begin() + 3, d.begin() + 3 + kWordBytes, at);
      return Accepted({kWordWrite});
    }
    TBytes answer{kWordRead};
    answer.insert(answer.end(), at, at + kWordBytes);
    return Accepted(answer);
  }
  if (d != kPrepareData) return Refused(r);
  ++FPreparations;
  return Accepted({kPrepare});
}
