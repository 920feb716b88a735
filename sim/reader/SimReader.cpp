#include "sim/reader/SimReader.h"

#include <algorithm>
#include <cctype>

using namespace SimFrame;

namespace {

// A request split by a pause longer than this is abandoned, so that a frame
// cut short never swallows the next one.
constexpr uint32_t kFrameGapMs = 100;
// How long the board holds bytes that might start one of its frames before
// it passes them on to the reader.
constexpr uint32_t kBoardHoldMs = 20;

constexpr uint8_t kLetterRead = 'O';
constexpr uint8_t kLetterReadAlt = 'G';
constexpr uint8_t kLetterSet = 'N';
constexpr uint8_t kLetterMemory = 'U';
constexpr uint8_t kLetterBoard = 'E';

constexpr uint8_t kRomVersion = 0x90;
constexpr uint8_t kModelName = 0x93;
constexpr uint8_t kProgMode = 0xFE;
constexpr uint8_t kProgModeCode = 0x9B;
constexpr char kProgModeEntryCode[] = "583914207";
constexpr size_t kOperationModeLength = 7;

constexpr uint8_t kBoardModeQuery = 0x00;
constexpr uint8_t kBoardModeSet = 0x01;
constexpr uint8_t kBoardPassThrough = 0x04;
constexpr uint8_t kBoardRestart = 0x0A;
constexpr uint8_t kBoardRomVersion = 0x90;

constexpr size_t kMaxAnswerData = 255;

TSimReply Accept(TBytes data, std::function<void()> effect = nullptr) {
  TSimReply r;
  r.Data = std::move(data);
  r.Effect = std::move(effect);
  return r;
}

TSimReply Refuse(const TSimRequest& request) {
  TSimReply r;
  r.Status = kRefused;
  if (!request.Data.empty()) r.Data = {request.Data[0]};
  return r;
}

TBytes WithText(uint8_t detail, const std::string& text) {
  const size_t n = std::min(text.size(), kMaxAnswerData - 1);
  TBytes d(1 + n);
  d[0] = detail;
  std::copy_n(text.begin(), n, d.begin() + 1);
  return d;
}

std::string FitVersion(const std::string& v) {
  std::string s = v.substr(0, TSimReader::kVersionLength);
  s.resize(TSimReader::kVersionLength, ' ');
  return s;
}

bool ParseHexBytes(const std::string& hex, TBytes& out) {
  if (hex.empty() || hex.size() % 2 != 0) return false;
  TBytes b;
  for (size_t i = 0; i < hex.size(); i += 2) {
    if (!std::isxdigit(static_cast<unsigned char>(hex[i])) ||
        !std::isxdigit(static_cast<unsigned char>(hex[i + 1])))
      return false;
    b.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  out = std::move(b);
  return true;
}

}  // namespace

// ---- options ------------------------------------------------------------

bool TSimReaderOptions::IsRefused(const TSimRequest& request) const {
  return Refused.count({request.Letter, request.Detail()}) > 0 ||
         Refused.count({request.Letter, TSimReader::kAnyDetail}) > 0;
}

bool TSimReaderOptions::SetSwitch(const std::string& setting) {
  const size_t eq = setting.find('=');
  const std::string name = setting.substr(0, eq);
  const std::string value = eq == std::string::npos ? std::string() : setting.substr(eq + 1);
  const bool hasValue = eq != std::string::npos;
  const std::pair<const char*, bool*> flags[] = {
      {"no-reader", &NoReader},
      {"wrong-model", &WrongModel},
      {"old-board", &OldBoard},
      {"bad-sum", &BadChecksum},
      {"silent", &Silent},
      {"silent-after-restart", &SilentAfterRestart},
      {"silent-after-first-version", &SilentAfterFirstVersion},
      {"board-on-serial", &BoardOnSerial}};
  for (const auto& [flagName, flag] : flags) {
    if (name == flagName && !hasValue) {
      *flag = true;
      return true;
    }
  }
  if (name == "tcp" && !hasValue) {
    Link = TSimLink::Tcp;
    return true;
  }
  if (name == "garbage") {
    if (!hasValue) {
      LeadingBytes = {0xFF, 0x13, 0x0D};
      return true;
    }
    return ParseHexBytes(value, LeadingBytes);
  }
  if (name == "refuse" && !value.empty()) {
    const uint8_t letter = static_cast<uint8_t>(value[0]);
    if (value.size() == 1) {
      Refuse(letter);
      return true;
    }
    TBytes detail;
    if (value[1] != ':' || !ParseHexBytes(value.substr(2), detail) || detail.size() != 1)
      return false;
    Refuse(letter, detail[0]);
    return true;
  }
  if (name == "rom-version" && !value.empty()) {
    RomVersion = value;
    return true;
  }
  if (name == "model" && hasValue) {
    ModelName = value;
    return true;
  }
  if (name == "ifb-version" && !value.empty()) {
    IfbRomVersion = value;
    return true;
  }
  if (Param.SetSwitch(name, value)) return true;
  if (Settings.SetSwitch(name, value)) return true;
  if (name == "ifb-mode" && value.size() == 4) {
    TBytes w;
    if (!ParseHexBytes(value, w)) return false;
    IfbModeWord = static_cast<uint16_t>(w[0] << 8 | w[1]);
    return true;
  }
  return false;
}

std::vector<std::string> TSimReaderOptions::SwitchHelp() {
  std::vector<std::string> help = {
      "tcp                   the tool reaches the reader through its interface board over TCP",
      "board-on-serial       an interface board sits in the USB serial path too",
      "no-reader             the reader never answers (the board still does)",
      "wrong-model           the reader reports another model's name",
      "old-board             the interface board reports version 1021",
      "bad-sum               every answer frame carries a wrong checksum",
      "silent                nothing answers at all",
      "silent-after-restart  after the boot monitor restarts it, silent until the link is reopened",
      "silent-after-first-version  after a restart one ROM version answer, then silent until the "
      "link is reopened",
      "garbage[=HEX]         bytes sent before every answer frame (default FF130D)",
      "refuse=L[:DD]         refuse command letter L (detail code DD in hex)",
      "rom-version=TEXT      the reader's ROM version (9 characters)",
      "model=TEXT            the reader's model name",
      "ifb-version=TEXT      the interface board's ROM version",
      "ifb-mode=HHHH         the interface board's mode word",
  };
  for (const std::string& line : TSimParamOptions::SwitchHelp()) help.push_back(line);
  for (const std::string& line : TSimSettingsOptions::SwitchHelp()) help.push_back(line);
  return help;
}

// ---- the boot monitor's port -----------------------------------------------

class TSimReader::TBootPort : public ISimBootPort {
 public:
  explicit TBootPort(TSimReader& reader) : FReader(reader) {}
  ISimScheduler& Scheduler() override { return *FReader.Scheduler(); }
  void Emit(const TBytes& bytes, uint32_t extraMs) override {
    if (FReader.FState == TState::BootMonitor) FReader.Send(bytes, extraMs);
  }
  void SetRomVersion(const std::string& version) override { FReader.SetRomVersion(version); }
  void Restart() override { FReader.RestartFromBoot(); }
  void Hangup() override { FReader.Hangup(); }

 private:
  TSimReader& FReader;
};

// ---- the reader -----------------------------------------------------------

TSimReader::TSimReader(TSimReaderOptions options)
    : FOptions(std::move(options)), FBootPort(std::make_unique<TBootPort>(*this)) {
  SetRomVersion(FOptions.RomVersion);
  FIfbModeWord = FOptions.IfbModeWord;
  RegisterReaderCommands();
  RegisterBoardCommands();
}

TSimReader::~TSimReader() {
  *FAlive = false;
}

void TSimReader::After(uint32_t ms, std::function<void()> fn) {
  if (!Scheduler()) return;
  Scheduler()->After(ms, [alive = FAlive, fn = std::move(fn)] {
    if (*alive) fn();
  });
}

void TSimReader::SetRomVersion(const std::string& version) {
  FRomVersion = FitVersion(version);
}

bool TSimReader::BoardInPath() const {
  return FOptions.Link == TSimLink::Tcp || FOptions.BoardOnSerial;
}

void TSimReader::RegisterReaderCommand(uint8_t letter, int detail, TSimHandler handler) {
  FReaderCommands[{letter, detail}] = std::move(handler);
}

void TSimReader::RegisterBoardCommand(int detail, TSimHandler handler) {
  FBoardCommands[{kLetterBoard, detail}] = std::move(handler);
}

void TSimReader::RegisterReaderCommands() {
  RegisterReaderCommand(kLetterRead, kRomVersion, [this](const TSimRequest&) {
    return Accept(WithText(kRomVersion, FRomVersion), [this] {
      if (!FSilenceAfterNextVersion) return;
      FSilenceAfterNextVersion = false;
      FState = TState::SilentUntilPowerCycle;
    });
  });
  const TSimHandler modelName = [this](const TSimRequest&) {
    return Accept(WithText(kModelName, FOptions.WrongModel ? kOtherModelName : FOptions.ModelName));
  };
  RegisterReaderCommand(kLetterRead, kModelName, modelName);
  RegisterReaderCommand(kLetterReadAlt, kModelName, modelName);
  RegisterReaderCommand(kLetterMemory, kProgMode, [this](const TSimRequest&) {
    return Accept({kProgMode}, [this] { EnterBootMonitor(); });
  });
  RegisterReaderCommand(kLetterSet, kProgModeCode, [this](const TSimRequest& r) {
    const std::string code(r.Data.begin() + 1, r.Data.end());
    if (code != kProgModeEntryCode) return Refuse(r);
    return Accept({kProgModeCode}, [this] { EnterBootMonitor(); });
  });
  // The operation-mode command carries no detail code: seven bytes of settings.
  RegisterReaderCommand(kLetterSet, kAnyDetail, [this](const TSimRequest& r) {
    if (r.Data.size() != kOperationModeLength) return Refuse(r);
    return Accept({}, [this, data = r.Data] { FOperationMode = data; });
  });
  // The parameter memory. A command refused by the refuse switch must leave
  // the memory as it was, so the switch is looked at before the memory acts.
  for (const auto& [letter, detail] : TSimParamMemory::Commands()) {
    RegisterReaderCommand(letter, detail, [this](const TSimRequest& r) {
      if (FOptions.IsRefused(r)) return Refuse(r);
      const TSimParamAnswer a = FParamMemory.Handle(r);
      TSimReply reply;
      reply.Answer = a.Answer;
      reply.Status = a.Status;
      reply.Data = a.Data;
      reply.BadSum = a.BadSum;
      return reply;
    });
  }
  // The settings memory, transmitter and power read of the maintenance menu;
  // refused before the memory acts, like the parameter memory.
  for (const auto& [letter, detail] : TSimSettingsMemory::Commands()) {
    RegisterReaderCommand(letter, detail, [this](const TSimRequest& r) {
      if (FOptions.IsRefused(r)) return Refuse(r);
      const TSimSettingsAnswer a = FSettingsMemory.Handle(r);
      TSimReply reply;
      reply.Answer = a.Answer;
      reply.Status = a.Status;
      reply.Data = a.Data;
      return reply;
    });
  }
}

void TSimReader::RegisterBoardCommands() {
  RegisterBoardCommand(kBoardModeQuery, [this](const TSimRequest&) {
    return Accept({kBoardModeQuery, static_cast<uint8_t>(FIfbModeWord & 0xFF),
                   static_cast<uint8_t>(FIfbModeWord >> 8)});
  });
  RegisterBoardCommand(kBoardModeSet, [this](const TSimRequest& r) {
    if (r.Data.size() != 3) return Refuse(r);
    const uint16_t word = static_cast<uint16_t>(r.Data[1] | r.Data[2] << 8);
    return Accept({kBoardModeSet}, [this, word] { FIfbModeWord = word; });
  });
  RegisterBoardCommand(kBoardPassThrough, [this](const TSimRequest&) {
    return Accept({kBoardPassThrough, 0x00}, [this] { FBoardPassThrough = true; });
  });
  RegisterBoardCommand(kBoardRestart, [this](const TSimRequest&) {
    return Accept({kBoardRestart}, [this] { RestartBoard(); });
  });
  RegisterBoardCommand(kBoardRomVersion, [this](const TSimRequest&) {
    return Accept(
        WithText(kBoardRomVersion,
                 FitVersion(FOptions.OldBoard ? kOldBoardVersion : FOptions.IfbRomVersion)));
  });
}

void TSimReader::PlugBootTarget(ISimBootTarget* target) {
  if (FState == TState::BootMonitor && FBootTarget) FBootTarget->Leave();
  FBootTarget = target;
  if (FState == TState::BootMonitor && FBootTarget) FBootTarget->Enter(*FBootPort);
}

// ---- bytes in -------------------------------------------------------------

void TSimReader::Receive(const uint8_t* data, size_t count) {
  if (FOptions.Silent) return;
  if (!BoardInPath()) {
    ReaderReceive(data, count);
    return;
  }
  if (Scheduler() && Scheduler()->NowMs() < FBoardDeafUntil) return;
  FTap.Push(
      data, count,
      [this](const TSimRequest& r) {
        FBoardRequests.push_back(r);
        Dispatch(FBoardCommands, r);
      },
      [this](const TBytes& b) { ReaderReceive(b.data(), b.size()); });
  if (FTap.Holding()) {
    const uint64_t generation = ++FTapGeneration;
    After(kBoardHoldMs, [this, generation] {
      if (generation != FTapGeneration || !FTap.Holding()) return;
      const TBytes held = FTap.Flush();
      ReaderReceive(held.data(), held.size());
    });
  }
}

void TSimReader::ReaderReceive(const uint8_t* data, size_t count) {
  if (FOptions.NoReader) return;
  switch (FState) {
    case TState::Command: {
      const uint64_t now = Scheduler() ? Scheduler()->NowMs() : 0;
      if (!FParser.Idle() && now - FLastReaderByteAt > kFrameGapMs) FParser.Reset();
      FLastReaderByteAt = now;
      for (const TSimRequest& r : FParser.Push(data, count)) {
        FReaderRequests.push_back(r);
        Dispatch(FReaderCommands, r);
        // Whatever followed a program-mode command was meant for the boot monitor.
        if (FState != TState::Command) break;
      }
      break;
    }
    case TState::BootMonitor:
      if (FBootTarget) FBootTarget->Receive(data, count);
      break;
    case TState::Restarting:
    case TState::SilentUntilPowerCycle:
      break;
  }
}

void TSimReader::Dispatch(const std::map<std::pair<uint8_t, int>, TSimHandler>& table,
                          const TSimRequest& request) {
  auto it = table.find({request.Letter, request.Detail()});
  if (it == table.end()) it = table.find({request.Letter, kAnyDetail});
  TSimReply reply = it == table.end() ? Refuse(request) : it->second(request);
  if (!reply.Answer) return;
  if (FOptions.IsRefused(request)) reply.Status = kRefused;
  SendAnswer(reply.Status, reply.Data, reply.BadSum);
  if (reply.Status == kAccepted && reply.Effect) reply.Effect();
}

void TSimReader::SendAnswer(uint8_t status, const TBytes& data, bool badSum) {
  TBytes out = FOptions.LeadingBytes;
  const TBytes frame = SimAnswerFrame(status, data, FOptions.BadChecksum || badSum);
  out.insert(out.end(), frame.begin(), frame.end());
  Send(out);
}

// ---- states ---------------------------------------------------------------

void TSimReader::EnterBootMonitor() {
  FState = TState::BootMonitor;
  FParser.Reset();
  if (FBootTarget) FBootTarget->Enter(*FBootPort);
}

void TSimReader::RestartFromBoot() {
  if (FState != TState::BootMonitor) return;
  if (FBootTarget) FBootTarget->Leave();
  FState = TState::Restarting;
  const uint64_t generation = ++FRestartGeneration;
  After(FOptions.RestartPauseMs, [this, generation] {
    if (generation != FRestartGeneration || FState != TState::Restarting) return;
    FParser.Reset();
    FState = FOptions.SilentAfterRestart ? TState::SilentUntilPowerCycle : TState::Command;
    FSilenceAfterNextVersion = FOptions.SilentAfterFirstVersion;
  });
}

void TSimReader::RestartBoard() {
  FBoardPassThrough = false;
  FTap.Flush();
  if (Scheduler()) FBoardDeafUntil = Scheduler()->NowMs() + FOptions.BoardRestartMs;
  // A restarting board drops its network connection; the tool reconnects.
  // Only the connection that carried the restart command is dropped.
  if (FOptions.Link == TSimLink::Tcp) {
    After(FOptions.BoardHangupMs, [this, link = FLinkGeneration] {
      if (link == FLinkGeneration) Hangup();
    });
  }
}

void TSimReader::LinkOpened() {
  ++FLinkGeneration;
  FParser.Reset();
  FTap.Flush();
  // Closing and reopening the link is how the operator's power cycle looks here.
  if (FState == TState::SilentUntilPowerCycle) FState = TState::Command;
}

void TSimReader::LinkClosed() {
  ++FLinkGeneration;
  FParser.Reset();
  FTap.Flush();
}
