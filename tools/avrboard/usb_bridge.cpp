#include "usb_bridge.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <string_view>

namespace avrboard {
namespace {

constexpr double kAtmegaTickMs = 4.096;  // Timer0 at clk/256, 16 MHz
// Its serial firmware sends at once when its ring of 128 bytes holds more
// than the 96 it calls nearly full.
constexpr size_t kAtmegaNearlyFullBytes = 96;
constexpr size_t kFtdiPacketBytes = 62;  // 64 less the two status bytes
constexpr double kUsbFrameMs = 1.0;
// The words before the average wait in the line at avrboard's end, which
// the bench reads back.
constexpr const char* kHeldOnAverage = "each holding its last byte ";

}  // namespace

std::optional<BridgeChoice> ParseBridge(const std::string& text, std::string* error) {
  BridgeChoice choice;
  if (text == "none") return choice;
  if (text == "16u2") {
    choice.kind = BridgeKind::kAtmega16U2;
    return choice;
  }
  if (text == "ch340") {
    choice.kind = BridgeKind::kCh340;
    return choice;
  }
  if (text == "ftdi" || text.starts_with("ftdi:")) {
    choice.kind = BridgeKind::kFtdi;
    if (text == "ftdi") return choice;
    const char* begin = text.data() + 5;
    const char* end = text.data() + text.size();
    int ms = 0;
    auto [stop, failed] = std::from_chars(begin, end, ms);
    if (failed == std::errc() && stop == end && begin != end && ms >= 1 && ms <= 255) {
      choice.latency_ms = ms;
      return choice;
    }
    *error = "'" + text + "': the FTDI latency timer is 1 to 255 ms (ftdi:16)";
    return std::nullopt;
  }
  *error = "'" + text + "' is none of none, 16u2, ftdi, ftdi:MS, ch340";
  return std::nullopt;
}

namespace {

std::string BridgeName(BridgeKind kind) {
  switch (kind) {
    case BridgeKind::kAtmega16U2:
      return "ATmega16U2";
    case BridgeKind::kFtdi:
      return "FTDI";
    case BridgeKind::kCh340:
      return "CH340";
    case BridgeKind::kNone:
      break;
  }
  return "no";
}

}  // namespace

std::string FormatBridgeReport(const BridgeChoice& choice, const BridgeTally& tally,
                               uint64_t clock_hz) {
  if (choice.kind == BridgeKind::kNone) return "";
  const double cycles_per_ms = clock_hz / 1000.0;
  const double mean_ms =
      tally.packets > 0 ? tally.held_cycles / cycles_per_ms / tally.packets : 0.0;
  char text[256];
  std::snprintf(text, sizeof text,
                "avrboard: the %s bridge model (its published behaviour, not a measured chip) "
                "sent %llu packets, %s%.3f ms on average, at most %.3f ms",
                BridgeName(choice.kind).c_str(), static_cast<unsigned long long>(tally.packets),
                kHeldOnAverage, mean_ms, tally.most_held_cycles / cycles_per_ms);
  return text;
}

std::optional<double> HeldMsOnAverage(const std::string& said) {
  const size_t at = said.rfind(kHeldOnAverage);
  if (at == std::string::npos) return std::nullopt;
  const char* begin = said.data() + at + std::char_traits<char>::length(kHeldOnAverage);
  double ms = 0;
  auto [stop, failed] = std::from_chars(begin, said.data() + said.size(), ms);
  if (failed != std::errc() || std::string_view(stop, said.data() + said.size()).rfind(" ms", 0)) {
    return std::nullopt;
  }
  return ms;
}

std::string DescribeBridge(const BridgeChoice& choice) {
  const std::string model = " (a model of its published behaviour, not a measurement: ";
  switch (choice.kind) {
    case BridgeKind::kAtmega16U2:
      return "an ATmega16U2 bridge" + model +
             "what it holds goes on a 4.096 ms tick, or at once when it holds more than 96 of "
             "its 128 bytes)";
    case BridgeKind::kFtdi:
      return "an FTDI bridge" + model + "what it holds goes when its " +
             std::to_string(choice.latency_ms) +
             " ms latency timer runs out, or at once when its 62-byte packet is full)";
    case BridgeKind::kCh340:
      return "a CH340 bridge" + model + "what it holds goes with the next 1 ms USB frame)";
    case BridgeKind::kNone:
      break;
  }
  return "no USB bridge (every byte as its frame ends)";
}

UsbBridge::UsbBridge(BridgeChoice choice, uint64_t clock_hz) : choice_(choice) {
  const double cycles_per_ms = clock_hz / 1000.0;
  switch (choice.kind) {
    case BridgeKind::kAtmega16U2:
      period_cycles_ = static_cast<uint64_t>(kAtmegaTickMs * cycles_per_ms + 0.5);
      full_bytes_ = kAtmegaNearlyFullBytes + 1;
      break;
    case BridgeKind::kFtdi:
      period_cycles_ = static_cast<uint64_t>(choice.latency_ms * cycles_per_ms + 0.5);
      full_bytes_ = kFtdiPacketBytes;
      break;
    case BridgeKind::kCh340:
      period_cycles_ = static_cast<uint64_t>(kUsbFrameMs * cycles_per_ms + 0.5);
      full_bytes_ = kFtdiPacketBytes;
      break;
    case BridgeKind::kNone:
      break;
  }
}

uint64_t UsbBridge::TickAfter(uint64_t cycle) const {
  if (period_cycles_ == 0) return cycle;
  // The 16U2's and the USB frames' ticks run on their own; FTDI's timer
  // starts again with each packet it sends.
  const uint64_t origin = choice_.kind == BridgeKind::kFtdi ? last_send_ : 0;
  // A byte older than the packet that went last belonged in it: avrboard
  // releases by the wall clock, and a chip that fell behind it hands over
  // bytes whose frames ended before that packet.  It goes at once, never a
  // whole period after the packet it missed.
  if (origin > 0 && cycle < origin) return origin;
  if (cycle <= origin) return origin + period_cycles_;
  const uint64_t since = cycle - origin;
  return origin + (since / period_cycles_ + 1) * period_cycles_;
}

void UsbBridge::Take(char byte, uint64_t cycle) {
  held_.push_back({byte, cycle, TickAfter(cycle)});
  // A full buffer goes at once, and all it holds with it.
  if (full_bytes_ > 0 && held_.size() >= full_bytes_) {
    for (Held& held : held_) held.due = cycle;
  }
}

std::string UsbBridge::Release(uint64_t cycle) {
  std::string out;
  // A packet takes everything held, so the bytes go in order.
  if (held_.empty() || held_.front().due > cycle) return out;
  const uint64_t sent_at = held_.front().due;
  uint64_t last_arrived = sent_at;
  while (!held_.empty() && held_.front().due <= cycle) {
    out += held_.front().byte;
    last_arrived = held_.front().arrived;
    held_.pop_front();
  }
  if (choice_.kind != BridgeKind::kNone) {
    const uint64_t held = sent_at > last_arrived ? sent_at - last_arrived : 0;
    ++tally_.packets;
    tally_.held_cycles += held;
    tally_.most_held_cycles = std::max(tally_.most_held_cycles, held);
  }
  if (choice_.kind == BridgeKind::kFtdi) {
    last_send_ = sent_at;
    for (Held& held : held_) held.due = TickAfter(std::max(held.arrived, sent_at));
  }
  return out;
}

std::optional<uint64_t> UsbBridge::NextRelease() const {
  if (held_.empty()) return std::nullopt;
  return held_.front().due;
}

}  // namespace avrboard
