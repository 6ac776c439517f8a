#include "serial_wire.h"

#include <algorithm>
#include <cmath>
#include <optional>

namespace boardsim {
namespace {

constexpr int kFrameBits = 10;  // start, 8 data, stop
// How close to the boundary between two of the sender's bits a sample may
// fall and still count as taken on the later one, as a fraction of a bit.
// Rates whose bits line up (19200 read at 9600) put samples exactly on
// boundaries; the rounding of the times must not decide which bit is read.
// The times of a burst of thousands of bytes carry well under 1e-10 bit of
// rounding, and a sample that is not on a boundary at two whole rates is at
// least 1 / (2 * rate) bit (5e-7 at 1000000 baud) away from one.
constexpr double kOnTheBoundary = 1e-8;

// The line as the sender drives it: high while idle and for a frame's stop
// bit, the start bit low, the data bits as the byte has them.
class Line {
 public:
  // A moment on the line: a bit of the last frame that began by then, or
  // past its stop bit; `frame` is frames.size() before the first.
  struct Bit {
    size_t frame;
    int64_t bit;
  };

  Line(const std::vector<SentFrame>& frames, double sender_baud)
      : frames_(frames), bit_s_(1.0 / sender_baud) {}

  Bit At(double t) const {
    const double late_t = t + kOnTheBoundary * bit_s_;
    auto after = std::upper_bound(frames_.begin(), frames_.end(), late_t,
                                  [](double at, const SentFrame& f) { return at < f.start_s; });
    if (after == frames_.begin()) return {frames_.size(), 0};
    const size_t frame = static_cast<size_t>(after - frames_.begin()) - 1;
    const double bit = std::floor((t - frames_[frame].start_s) / bit_s_ + kOnTheBoundary);
    return {frame, static_cast<int64_t>(std::max(bit, 0.0))};
  }

  bool High(Bit at) const {
    if (at.frame == frames_.size() || at.bit >= kFrameBits) return true;
    if (at.bit == 0) return false;
    if (at.bit == kFrameBits - 1) return true;
    return (frames_[at.frame].byte >> (at.bit - 1)) & 1;
  }

  // When the line first falls after the bit `at`: where a low bit follows
  // a high one, or at the next frame's start bit; nothing once the last
  // frame is over.
  std::optional<double> NextFallAfter(Bit at) const {
    if (at.frame == frames_.size()) return frames_.front().start_s;
    for (int64_t bit = at.bit + 1; bit < kFrameBits; ++bit) {
      if (!High({at.frame, bit}) && High({at.frame, bit - 1})) {
        return frames_[at.frame].start_s + static_cast<double>(bit) * bit_s_;
      }
    }
    if (at.frame + 1 == frames_.size()) return std::nullopt;
    return frames_[at.frame + 1].start_s;
  }

 private:
  const std::vector<SentFrame>& frames_;
  double bit_s_;
};

}  // namespace

bool RatesAgree(double sender_baud, double receiver_baud) {
  if (sender_baud <= 0 || receiver_baud <= 0) return false;
  return std::fabs(sender_baud - receiver_baud) <= kBaudTolerance * receiver_baud;
}

double UartBaud(uint32_t clk_hz, uint16_t ubrr, bool double_speed) {
  return static_cast<double>(clk_hz) / ((double_speed ? 8.0 : 16.0) * (ubrr + 1.0));
}

std::vector<ReceivedByte> ReceiveFrames(const std::vector<SentFrame>& frames, double sender_baud,
                                        double receiver_baud) {
  std::vector<ReceivedByte> received;
  if (frames.empty()) return received;
  const Line line(frames, sender_baud);
  const double bit_s = 1.0 / receiver_baud;
  // The line idled before the first frame, so its start bit is a falling
  // edge; after that the receiver looks for the next one from where it last
  // sampled.
  std::optional<double> edge_s = frames.front().start_s;
  while (edge_s) {
    // The start bit is checked again at its middle; a shorter low was a
    // glitch.
    const Line::Bit start = line.At(*edge_s + bit_s / 2);
    if (line.High(start)) {
      edge_s = line.NextFallAfter(start);
      continue;
    }
    uint8_t byte = 0;
    for (int bit = 0; bit < 8; ++bit) {
      if (line.High(line.At(*edge_s + (1.5 + bit) * bit_s)))
        byte |= static_cast<uint8_t>(1u << bit);
    }
    // A stop bit read low is a framing error; the next falling edge then
    // needs the line to have gone high first.
    const Line::Bit stop = line.At(*edge_s + (kFrameBits - 0.5) * bit_s);
    received.push_back({byte, !line.High(stop)});
    edge_s = line.NextFallAfter(stop);
  }
  return received;
}

std::vector<ReceivedByte> ReceiveBurst(std::string_view bytes, double sender_baud,
                                       double receiver_baud) {
  std::vector<SentFrame> frames;
  frames.reserve(bytes.size());
  for (size_t i = 0; i < bytes.size(); ++i) {
    frames.push_back({static_cast<uint8_t>(bytes[i]), i * kFrameBits / sender_baud});
  }
  return ReceiveFrames(frames, sender_baud, receiver_baud);
}

std::string AsTerminalReads(const std::vector<ReceivedByte>& received) {
  std::string bytes;
  for (const ReceivedByte& r : received)
    bytes += r.framing_error ? '\0' : static_cast<char>(r.byte);
  return bytes;
}

std::string AsFirmwareReads(const std::vector<ReceivedByte>& received) {
  std::string bytes;
  for (const ReceivedByte& r : received) bytes += static_cast<char>(r.byte);
  return bytes;
}

}  // namespace boardsim
