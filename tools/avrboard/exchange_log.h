// The turnaround of each exchange, for the bench: one line per command and
// its reply,
//
//   udp <turnaround_us> <command> -> <reply>
//   serial <turnaround_us> <command> -> <reply>
//
// in simulated microseconds with three decimals.  Bytes outside printable
// ASCII, and the backslash, are written as \xHH and \\.  ParseExchange
// reads such a line back, for the tests and the benches.
#pragma once

#include <cstdint>
#include <deque>
#include <istream>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace avrboard {

std::string FormatExchange(std::string_view link, uint64_t turnaround_ns, std::string_view command,
                           std::string_view reply);

// One line of the log read back, the command and the reply as the bytes
// they were on the link.
struct Exchange {
  std::string link;  // "udp" or "serial"
  uint64_t turnaround_ns = 0;
  std::string command;
  std::string reply;
  double turnaround_us() const { return static_cast<double>(turnaround_ns) / 1000; }
  bool operator==(const Exchange&) const = default;
};

// The exchange a line of the log holds, or nothing for a line that is none.
// A command holding " -> " itself cannot be told from the arrow; the first
// one counts, since the commands of the protocol are five bytes.
std::optional<Exchange> ParseExchange(std::string_view line);

// Every exchange in a log, in order; lines that are none are skipped, as a
// log still being written may end in half a line.
std::vector<Exchange> ReadExchanges(std::istream& in);

// Pairs commands with replies as the chip sees them and writes a line for
// each pair to `out`.  Times are simulated nanoseconds.
class ExchangeRecorder {
 public:
  explicit ExchangeRecorder(std::ostream* out) : out_(out) {}

  // A datagram landed in the chip's RX memory.
  void UdpLanded(const std::string& payload, uint64_t ns);
  // The firmware gave SEND for a datagram: the reply to the oldest datagram
  // that has none yet.
  void UdpSent(const std::string& payload, uint64_t command_ns);

  // The firmware took a byte from the UART's receive register.
  void SerialReceived(char byte, uint64_t ns);
  // A byte left the UART.  The first byte after a command starts its reply;
  // CR LF ends it.  Output that follows no command (a console's text) is
  // not an exchange and is not written.
  void SerialSent(char byte, uint64_t ns);

 private:
  struct Landed {
    std::string payload;
    uint64_t ns;
  };
  std::ostream* out_;
  std::deque<Landed> udp_waiting_;
  std::string serial_command_;
  uint64_t serial_last_received_ns_ = 0;
  bool serial_replying_ = false;
  bool serial_reply_counts_ = false;
  uint64_t serial_turnaround_ns_ = 0;
  std::string serial_pending_command_;
  std::string serial_reply_;
};

}  // namespace avrboard
