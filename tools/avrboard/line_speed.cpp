#include "line_speed.h"

#include <termios.h>

#include <algorithm>
#include <cmath>

namespace avrboard {
namespace {

constexpr int kFrameBits = 10;  // start, 8 data, stop
// A receiver looks at the line 16 times a bit to find a start bit, as the
// AVR's and the usual PC UARTs do.
constexpr int kOversampling = 16;

// The level of the line at time t: high while idle and for a frame's stop
// bit, the start bit low, the data bits as the byte has them.
class Line {
 public:
  Line(const std::vector<SentFrame>& frames, double sender_baud)
      : frames_(frames), bit_s_(1.0 / sender_baud) {}

  bool High(double t) const {
    // The last frame that started at or before t is the only one that can
    // still be on the line.
    auto after = std::upper_bound(frames_.begin(), frames_.end(), t,
                                  [](double at, const SentFrame& f) { return at < f.start_s; });
    if (after == frames_.begin()) return true;
    const SentFrame& frame = *(after - 1);
    const double bit = std::floor((t - frame.start_s) / bit_s_);
    if (bit >= kFrameBits) return true;
    if (bit == 0) return false;
    if (bit == kFrameBits - 1) return true;
    return (frame.byte >> (static_cast<int>(bit) - 1)) & 1;
  }

  double EndS() const { return frames_.empty() ? 0 : frames_.back().start_s + kFrameBits * bit_s_; }

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

std::optional<uint32_t> BaudOfSpeed(unsigned speed) {
  struct Known {
    speed_t constant;
    uint32_t baud;
  };
  static constexpr Known kKnown[] = {
      {B300, 300},       {B1200, 1200},       {B2400, 2400},     {B4800, 4800},
      {B9600, 9600},     {B19200, 19200},     {B38400, 38400},   {B57600, 57600},
      {B115200, 115200}, {B230400, 230400},   {B460800, 460800}, {B500000, 500000},
      {B921600, 921600}, {B1000000, 1000000},
  };
  for (const Known& known : kKnown) {
    if (known.constant == speed) return known.baud;
  }
  return std::nullopt;
}

std::vector<ReceivedByte> ReceiveFrames(const std::vector<SentFrame>& frames, double sender_baud,
                                        double receiver_baud) {
  std::vector<ReceivedByte> received;
  if (frames.empty()) return received;
  const Line line(frames, sender_baud);
  const double bit_s = 1.0 / receiver_baud;
  const double step_s = bit_s / kOversampling;
  // Past the last frame the line idles; a receiver that began a frame then
  // finishes it on the idle line, and none begins after that.
  const double end_s = line.EndS();
  double t = frames.front().start_s - step_s;
  bool seen_high = true;  // the line idled before the first frame
  while (t < end_s) {
    if (line.High(t)) {
      seen_high = true;
      t += step_s;
      continue;
    }
    // A start bit is a falling edge; after a framing error the receiver
    // waits for the line to go high first.
    if (!seen_high) {
      t += step_s;
      continue;
    }
    const double edge_s = t;
    // The start bit is checked again at its middle; a shorter low was a
    // glitch.
    if (line.High(edge_s + bit_s / 2)) {
      t += step_s;
      continue;
    }
    uint8_t byte = 0;
    for (int bit = 0; bit < 8; ++bit) {
      if (line.High(edge_s + (1.5 + bit) * bit_s)) byte |= static_cast<uint8_t>(1u << bit);
    }
    const double stop_s = edge_s + (kFrameBits - 0.5) * bit_s;
    const bool stop_high = line.High(stop_s);
    received.push_back({byte, !stop_high});
    seen_high = stop_high;
    t = stop_s + step_s;
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

}  // namespace avrboard
