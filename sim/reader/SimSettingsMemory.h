// The simulated reader's settings memory and the maintenance commands that
// reach it, as the reader answers them. Words are 16 bits; an index counts
// words from 1 within the area a selector names.
//
//   O 70 ii cc | O 72 ii cc | O 73 ii cc    read area 0, 1, 2   -> dd ii cc <2cc bytes>
//   O 83 ss ii cc                           read area 3 (ss 03), factory data (FE),
//                                           all data (FF)        -> 83 ii cc <2cc bytes>
//   O 7C ii cc                              read the RC663 chip's settings
//   N 83 ss ii cc <2cc bytes>               write areas 0-3, all data (FF) or the chip (other);
//                                           the factory data (FE) cannot be written  -> 83
//   N 71                                    initialise: settings := factory data   -> 71
//   N 9E on                                 transmitter on (01) or off (00)        -> 9E on
//   O 84 00                                 power read -> 84 00 pl ph rl rh 00 00
//
// The all-data space is areas 0 to 3 back to back (20, 10, 8 and 24 words);
// a read or write that runs past its area is refused. The reference power
// stored by the tool sits at word 0x29 of the all-data space.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "sim/SimDevice.h"
#include "sim/reader/SimReaderFrame.h"

enum class TSimSettingsFaultKind {
  Refuse,   // answered with a refusal status, nothing done
  Silent,   // no answer, nothing done
  BadEcho,  // a read answered with the wrong index
  BadData,  // done, answered with one data byte flipped
};

// A fault on the From-th to the (From + Count - 1)-th request that matches
// letter, detail and (when not -1) selector, counted from 1 since the reader
// was made; Count 0 means all from From on.
struct TSimSettingsFault {
  uint8_t Letter = 'N';
  int Detail = 0;
  int Selector = -1;
  int From = 1;
  int Count = 1;
  TSimSettingsFaultKind Kind = TSimSettingsFaultKind::Refuse;
};

struct TSimSettingsOptions {
  uint16_t TxPower = 280;   // reported while the transmitter is on, else 0
  uint16_t RefPower = 262;  // the measured reference power
  std::vector<TSimSettingsFault> Faults;

  // "tx-power=N", "ref-power=N", "settings-fault=KIND:L:DD[:SS]@N[xK]" with
  // KIND one of refuse, silent, bad-echo, bad-data; false when the name is
  // not one of these or the value is bad.
  bool SetSwitch(const std::string& name, const std::string& value);
  static std::vector<std::string> SwitchHelp();
};

struct TSimSettingsAnswer {
  bool Answer = true;
  uint8_t Status = SimFrame::kAccepted;
  TBytes Data;
};

class TSimSettingsMemory {
 public:
  static constexpr int kAreaWords[4] = {20, 10, 8, 24};
  static constexpr int kAllWords = 62;
  static constexpr size_t kAllBytes = 2 * kAllWords;
  static constexpr int kChipWords = 64;
  static constexpr int kRefPowerWord = 0x29;

  explicit TSimSettingsMemory(const TSimSettingsOptions& options);

  // The (letter, detail) pairs this memory answers.
  static std::vector<std::pair<uint8_t, int>> Commands();
  TSimSettingsAnswer Handle(const TSimRequest& request);

  // The factory data and the reader's own settings as delivered; they differ
  // in every byte, the reader-specific ones included.
  static TBytes FactoryData();
  static TBytes OwnSettings();

  // The selector a request names, -1 when it names none.
  static int SelectorOf(const TSimRequest& request);

  TBytes FFactory;  // 124 bytes
  TBytes FAll;      // 124 bytes: areas 0 to 3
  TBytes FChip;     // 128 bytes
  bool FTxOn = false;
  int FInits = 0;
  // Called with every request this memory takes, before it is carried out.
  std::function<void(const TSimRequest&)> OnRequest;

 private:
  TSimSettingsAnswer Execute(const TSimRequest& request);
  const TSimSettingsFault* FaultFor(const TSimRequest& request);
  // Where a selector's words live: bytes, first byte, size in words.
  struct TSpan {
    TBytes* Bytes = nullptr;
    size_t First = 0;
    int Words = 0;
  };
  TSpan SpanOf(int selector);

  const TSimSettingsOptions& FOptions;
  struct TSeen {
    uint8_t Letter;
    int Detail;
    int Selector;
  };
  std::vector<TSeen> FSeen;
};
