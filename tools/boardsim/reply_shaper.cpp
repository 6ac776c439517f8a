#include "reply_shaper.h"

namespace boardsim {
namespace {

// Noise for --garbage.  No digits, letters, CR or LF, so a test can still
// find the real reply at the end, while a block that takes the datagram or
// line at face value sees text it cannot parse.
constexpr char kNoise[] = {'\x00', '\x01', '\x1b', '\x7f', '\x80', '\xfe', '\xff', '#', '%', '~'};

}  // namespace

ReplyShaper::ReplyShaper(const Options& options)
    : serial_(options.transport == Transport::kPty),
      line_end_(!options.no_line_end),
      garbage_(options.garbage),
      oversized_(options.oversized),
      drop_rate_(options.drop_rate),
      random_(options.seed) {}

std::optional<std::string> ReplyShaper::Shape(const std::string& reply) {
  // Draw only when a drop rate is set, so that a given seed yields the same
  // garbage bytes with or without "--drop-rate 0".
  if (drop_rate_ > 0 && std::uniform_real_distribution<double>(0, 1)(random_) < drop_rate_) {
    return std::nullopt;
  }
  std::string bytes;
  if (garbage_) {
    const int count = std::uniform_int_distribution<int>(1, 4)(random_);
    for (int i = 0; i < count; ++i) {
      bytes += kNoise[std::uniform_int_distribution<size_t>(0, sizeof(kNoise) - 1)(random_)];
    }
  }
  bytes += reply;
  if (serial_ && line_end_) bytes += "\r\n";
  if (!serial_ && oversized_ && bytes.size() < kOversizedLength) {
    bytes.append(kOversizedLength - bytes.size(), '#');
  }
  return bytes;
}

}  // namespace boardsim
