// A model of the USB-serial bridge between a real board's UART and the
// host.  A bridge does not pass each byte on as it arrives: it collects
// them and sends a USB packet when its own rule says so, and every reply
// waits that long before the host sees it.  The rules are the bridges'
// published behaviour, not measurements:
//   16u2     the ATmega16U2 (8U2) of a genuine Uno or Mega 2560: its serial
//            firmware sends what it holds on a timer tick every 4.096 ms,
//            or at once when its buffer of 128 bytes is nearly full (more
//            than 96 bytes);
//   ftdi:MS  an FTDI chip: what it holds goes when its latency timer runs
//            out, every MS ms (16 unless lowered, 1 to 255), or at once when
//            its 62 bytes of packet are full;
//   ch340    a WCH CH340: about one USB frame, 1 ms;
//   none     every byte as its frame ends, as a pseudo-terminal has it.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>

namespace avrboard {

enum class BridgeKind { kNone, kAtmega16U2, kFtdi, kCh340 };

struct BridgeChoice {
  BridgeKind kind = BridgeKind::kNone;
  int latency_ms = 16;  // FTDI's timer
};

// "none", "16u2", "ftdi", "ftdi:MS" or "ch340"; nothing with *error set for
// anything else.
std::optional<BridgeChoice> ParseBridge(const std::string& text, std::string* error);

// What the model holds back, for avrboard's messages: "an ATmega16U2 bridge
// (a model of its published behaviour: ...)".
std::string DescribeBridge(const BridgeChoice& choice);

// What the model did in one run: the packets it sent the host and how long
// each had held its last byte, the one that completes a reply.
struct BridgeTally {
  uint64_t packets = 0;
  uint64_t held_cycles = 0;  // summed over the packets
  uint64_t most_held_cycles = 0;
};

// avrboard's line at its end about what the model held back, saying that
// the wait is the model's and not a board's; empty with no bridge.
std::string FormatBridgeReport(const BridgeChoice& choice, const BridgeTally& tally,
                               uint64_t clock_hz);

// The average wait in ms of that line, found in what avrboard said (its
// whole standard error); nothing when it holds no such line.
std::optional<double> HeldMsOnAverage(const std::string& said);

class UsbBridge {
 public:
  // Cycles of the chip's clock: the bridge's timers run at its rate.
  UsbBridge(BridgeChoice choice, uint64_t clock_hz);

  // A byte whose frame ended on the bridge's UART at `cycle`.
  void Take(char byte, uint64_t cycle);
  // What the host has by `cycle`, in order, taken out of the model.
  std::string Release(uint64_t cycle);
  // When the next byte held goes out if nothing else arrives; nothing when
  // none is held.
  std::optional<uint64_t> NextRelease() const;
  void Clear() { held_.clear(); }
  const BridgeTally& tally() const { return tally_; }

 private:
  // The first tick of the bridge's timer after `cycle`.
  uint64_t TickAfter(uint64_t cycle) const;

  BridgeChoice choice_;
  uint64_t period_cycles_ = 0;  // the timer's; 0 for no bridge
  size_t full_bytes_ = 0;       // a buffer this full goes at once
  uint64_t last_send_ = 0;      // an FTDI timer starts again at each packet
  struct Held {
    char byte;
    uint64_t arrived;
    uint64_t due;
  };
  std::deque<Held> held_;
  BridgeTally tally_;
};

}  // namespace avrboard
