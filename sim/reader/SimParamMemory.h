// The simulated reader's parameter memory: 736 words of 4 bytes with the
// block and word commands, the factory default load, the preparation and the
// concluding command, as the reader answers them.
//
//   U 74 hi lo n                 block read   -> 74 hi lo n <n bytes>
//   U 75 hi lo n <n bytes>       block write  -> plain ack, or 75 echoed
//   U A5 nl nh 00 00 00 00 02    word read    -> A5 <4 bytes>
//   U B5 nl nh d0 d1 d2 d3 02    word write   -> B5
//   U 71 FF 00 00 00             preparation  -> 71
//   N 6F                         factory load -> 6F
//   N 9D                         conclusion   (no answer)
//
// Word 38 is written by the word command only: a block write that covers it
// is refused, so a tool that writes it with a block write fails visibly.
#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "sim/SimDevice.h"
#include "sim/reader/SimReaderFrame.h"

// How the reader acknowledges a block write: 7 bytes without echo, or 8
// bytes echoing the detail code.
enum class TSimBlockAck { Plain, Echo };

enum class TSimParamFaultKind {
  Refuse,   // answered with a refusal status, nothing done
  Silent,   // no answer, nothing done
  BadSum,   // done, answered with a wrong checksum
  BadData,  // done, answered with one data byte flipped and a good checksum
};

// A fault on the From-th to the (From + Count - 1)-th request of one command
// (counted from 1 since the reader was made); Count 0 means all from From on.
struct TSimParamFault {
  uint8_t Letter = 'U';
  int Detail = 0;
  int From = 1;
  int Count = 1;
  TSimParamFaultKind Kind = TSimParamFaultKind::Refuse;
};

struct TSimParamOptions {
  TSimBlockAck BlockAck = TSimBlockAck::Plain;
  std::vector<TSimParamFault> Faults;

  // "param-ack=plain|echo", "param-fault=KIND:L:DD@N[xK]" with KIND one of
  // refuse, silent, bad-sum, bad-data and K a count or '*' for all after N;
  // false when the name is not one of these or the value is bad.
  bool SetSwitch(const std::string& name, const std::string& value);
  static std::vector<std::string> SwitchHelp();
};

// What the memory answers to one request.
struct TSimParamAnswer {
  bool Answer = true;
  uint8_t Status = SimFrame::kAccepted;
  TBytes Data;
  bool BadSum = false;
};

class TSimParamMemory {
 public:
  static constexpr int kWords = 736;
  static constexpr int kWordBytes = 4;
  static constexpr size_t kBytes = static_cast<size_t>(kWords) * kWordBytes;
  static constexpr int kWordOnlyWord = 38;

  explicit TSimParamMemory(const TSimParamOptions& options);

  // The (letter, detail) pairs this memory answers.
  static std::vector<std::pair<uint8_t, int>> Commands();
  TSimParamAnswer Handle(const TSimRequest& request);

  // The reader's own settings and its factory defaults; they differ in
  // every word, and the defaults leave the regions of the tool's checks empty.
  static TBytes OwnSettings();
  static TBytes FactoryDefaults();

  TBytes FMemory;
  int FFactoryLoads = 0;
  int FPreparations = 0;
  int FConclusions = 0;
  // Called with every request this memory takes, before it is carried out.
  std::function<void(const TSimRequest&)> OnRequest;

 private:
  TSimParamAnswer Execute(const TSimRequest& request);
  const TSimParamFault* FaultFor(const TSimRequest& request);

  const TSimParamOptions& FOptions;
  std::map<std::pair<uint8_t, int>, int> FSeen;
};
