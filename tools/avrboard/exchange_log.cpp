#include "exchange_log.h"

#include <charconv>
#include <cstdio>

#include "byte_escape.h"

namespace avrboard {
namespace {

// A command is five bytes; the framer in the firmware takes the last five
// it received before it answers.
constexpr size_t kCommandLength = 5;
constexpr size_t kMostUnanswered = 64;

// "<whole>.<three digits>" microseconds, as FormatExchange writes them.
std::optional<uint64_t> ParseTurnaroundNs(std::string_view text) {
  const size_t point = text.find('.');
  if (point == std::string_view::npos || point == 0 || text.size() - point != 4) {
    return std::nullopt;
  }
  uint64_t whole = 0, fraction = 0;
  const char* end = text.data() + point;
  if (std::from_chars(text.data(), end, whole).ptr != end) return std::nullopt;
  const char* fraction_end = text.data() + text.size();
  if (std::from_chars(end + 1, fraction_end, fraction).ptr != fraction_end) return std::nullopt;
  return whole * 1000 + fraction;
}

}  // namespace

std::string FormatExchange(std::string_view link, uint64_t turnaround_ns, std::string_view command,
                           std::string_view reply) {
  char microseconds[32];
  std::snprintf(microseconds, sizeof microseconds, "%llu.%03llu",
                static_cast<unsigned long long>(turnaround_ns / 1000),
                static_cast<unsigned long long>(turnaround_ns % 1000));
  return std::string(link) + " " + microseconds + " " +
         byte_text::EscapeBytes(command, byte_text::HexDigits::kUpper) + " -> " +
         byte_text::EscapeBytes(reply, byte_text::HexDigits::kUpper);
}

std::optional<Exchange> ParseExchange(std::string_view line) {
  const size_t link_end = line.find(' ');
  if (link_end == std::string_view::npos) return std::nullopt;
  const size_t time_end = line.find(' ', link_end + 1);
  if (time_end == std::string_view::npos) return std::nullopt;
  constexpr std::string_view kArrow = " -> ";
  const size_t arrow = line.find(kArrow, time_end + 1);
  if (arrow == std::string_view::npos) return std::nullopt;
  Exchange exchange;
  exchange.link = line.substr(0, link_end);
  if (exchange.link != "udp" && exchange.link != "serial") return std::nullopt;
  const std::optional<uint64_t> ns =
      ParseTurnaroundNs(line.substr(link_end + 1, time_end - link_end - 1));
  std::optional<std::string> command =
      byte_text::UnescapeBytes(line.substr(time_end + 1, arrow - time_end - 1));
  std::optional<std::string> reply = byte_text::UnescapeBytes(line.substr(arrow + kArrow.size()));
  if (!ns || !command || !reply) return std::nullopt;
  exchange.turnaround_ns = *ns;
  exchange.command = std::move(*command);
  exchange.reply = std::move(*reply);
  return exchange;
}

std::vector<Exchange> ReadExchanges(std::istream& in) {
  std::vector<Exchange> exchanges;
  for (std::string line; std::getline(in, line);) {
    if (std::optional<Exchange> exchange = ParseExchange(line)) {
      exchanges.push_back(std::move(*exchange));
    }
  }
  return exchanges;
}

void ExchangeRecorder::UdpLanded(const std::string& payload, uint64_t ns) {
  // The firmware cannot tell an empty datagram from none and never answers
  // one; waiting for its reply would pair every later reply with the wrong
  // command.
  if (payload.empty()) return;
  // Nor does a board answer a flood; what it left unanswered long ago is
  // let go rather than kept without end.
  if (udp_waiting_.size() == kMostUnanswered) udp_waiting_.pop_front();
  udp_waiting_.push_back({payload, ns});
}

void ExchangeRecorder::UdpSent(const std::string& payload, uint64_t command_ns) {
  if (udp_waiting_.empty()) return;
  const Landed landed = std::move(udp_waiting_.front());
  udp_waiting_.pop_front();
  const uint64_t turnaround = command_ns > landed.ns ? command_ns - landed.ns : 0;
  *out_ << FormatExchange("udp", turnaround, landed.payload, payload) << std::endl;
}

void ExchangeRecorder::SerialReceived(char byte, uint64_t ns) {
  serial_command_ += byte;
  if (serial_command_.size() > kCommandLength) serial_command_.erase(0, 1);
  serial_last_received_ns_ = ns;
}

void ExchangeRecorder::SerialSent(char byte, uint64_t ns) {
  if (!serial_replying_) {
    serial_replying_ = true;
    serial_reply_counts_ = !serial_command_.empty();
    serial_turnaround_ns_ = ns > serial_last_received_ns_ ? ns - serial_last_received_ns_ : 0;
    serial_pending_command_.swap(serial_command_);
    serial_command_.clear();
    serial_reply_.clear();
  }
  serial_reply_ += byte;
  if (serial_reply_.size() < 2 || serial_reply_.compare(serial_reply_.size() - 2, 2, "\r\n") != 0) {
    return;
  }
  serial_replying_ = false;
  if (!serial_reply_counts_) return;
  *out_ << FormatExchange("serial", serial_turnaround_ns_, serial_pending_command_,
                          std::string_view(serial_reply_).substr(0, serial_reply_.size() - 2))
        << std::endl;
}

}  // namespace avrboard
