// Synthesises the tool's two sounds as 8-bit mono PCM WAVE files:
//   Sound_ring5.wav   22050 Hz, 29 356 bytes: a rising bell chime (success)
//   Sound_alarm1.wav  11025 Hz,  6 412 bytes: a harsh two-tone buzz (failure)
// Usage: make_wav <output folder>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kHeaderBytes = 44;

constexpr int kRingRate = 22050;
constexpr int kRingFileBytes = 29356;
constexpr int kAlarmRate = 11025;
constexpr int kAlarmFileBytes = 6412;

void PutU32(std::string& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

void PutU16(std::string& out, uint16_t v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>(v >> 8);
}

// Scales the signal to the given peak and turns it into unsigned 8-bit PCM.
std::string ToPcm8(const std::vector<double>& signal, double peak) {
  double max = 0;
  for (double s : signal) max = std::max(max, std::fabs(s));
  const double gain = max > 0 ? peak / max : 0;
  std::string pcm;
  pcm.reserve(signal.size());
  for (double s : signal) {
    const long v = std::lround(128.0 + 127.0 * s * gain);
    pcm += static_cast<char>(std::clamp(v, 0L, 255L));
  }
  return pcm;
}

std::string Wave(int rate, const std::string& pcm) {
  std::string out;
  out += "RIFF";
  PutU32(out, static_cast<uint32_t>(36 + pcm.size()));
  out += "WAVE";
  out += "fmt ";
  PutU32(out, 16);
  PutU16(out, 1);  // PCM
  PutU16(out, 1);  // mono
  PutU32(out, static_cast<uint32_t>(rate));
  PutU32(out, static_cast<uint32_t>(rate));  // bytes per second
  PutU16(out, 1);                            // bytes per frame
  PutU16(out, 8);                            // bits per sample
  out += "data";
  PutU32(out, static_cast<uint32_t>(pcm.size()));
  out += pcm;
  return out;
}

// Fades both ends so that the clip starts and stops without a click.
void FadeEnds(std::vector<double>& s, int rate, double seconds) {
  const size_t n = std::min(s.size() / 2, static_cast<size_t>(rate * seconds));
  for (size_t i = 0; i < n; ++i) {
    const double g = static_cast<double>(i) / static_cast<double>(n);
    s[i] *= g;
    s[s.size() - 1 - i] *= g;
  }
}

// A major arpeggio of soft bells, each note ringing on under the next.
std::vector<double> Chime(int rate, size_t samples) {
  struct TNote {
    double Start;
    double Hz;
  };
  const TNote notes[] = {{0.00, 1046.50}, {0.14, 1318.51}, {0.28, 1567.98}, {0.42, 2093.00}};
  const double partials[][2] = {{1.0, 1.0}, {2.0, 0.28}, {3.0, 0.08}};
  constexpr double kDecaySeconds = 0.32;
  constexpr double kAttackSeconds = 0.004;
  std::vector<double> s(samples, 0.0);
  for (const auto& note : notes) {
    for (size_t i = 0; i < samples; ++i) {
      const double t = static_cast<double>(i) / rate - note.Start;
      if (t < 0) continue;
      const double env = std::min(1.0, t / kAttackSeconds) * std::exp(-t / kDecaySeconds);
      for (const auto& p : partials)
        s[i] +=
            p[1] * env * std::exp(-t * (p[0] - 1.0) * 2.0) * std::sin(2 * kPi * note.Hz * p[0] * t);
    }
  }
  FadeEnds(s, rate, 0.05);
  return s;
}

// Square waves alternating between two close, clashing pitches.
std::vector<double> Buzz(int rate, size_t samples) {
  constexpr double kLowHz = 740.0;
  constexpr double kHighHz = 988.0;
  constexpr double kSegmentSeconds = 0.072;
  std::vector<double> s(samples);
  double phase = 0;
  for (size_t i = 0; i < samples; ++i) {
    const double t = static_cast<double>(i) / rate;
    const bool high = static_cast<int>(t / kSegmentSeconds) % 2 == 0;
    phase += (high ? kHighHz : kLowHz) / rate;
    phase -= std::floor(phase);
    // A square with a touch of sawtooth: rough and loud.
    s[i] = (phase < 0.5 ? 1.0 : -1.0) * 0.8 + (2.0 * phase - 1.0) * 0.2;
  }
  FadeEnds(s, rate, 0.004);
  return s;
}

bool WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  f.close();
  if (!f) std::fprintf(stderr, "make_wav: cannot write %s\n", path.c_str());
  return static_cast<bool>(f);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_wav <output folder>\n");
    return 2;
  }
  const std::string dir = argv[1];
  const std::string ring =
      Wave(kRingRate, ToPcm8(Chime(kRingRate, kRingFileBytes - kHeaderBytes), 0.85));
  const std::string alarm =
      Wave(kAlarmRate, ToPcm8(Buzz(kAlarmRate, kAlarmFileBytes - kHeaderBytes), 0.75));
  const bool ok =
      WriteFile(dir + "/Sound_ring5.wav", ring) && WriteFile(dir + "/Sound_alarm1.wav", alarm);
  return ok ? 0 : 1;
}
