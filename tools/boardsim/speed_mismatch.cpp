#include "speed_mismatch.h"

#include <vector>

namespace boardsim {
namespace {

constexpr int kDataBits = 8;
constexpr int kFrameBits = 1 + kDataBits + 1;

// The bytes the block's replies and commands give meaning to: any digit
// makes a reply a number, and these four begin every command.
bool MeansSomething(unsigned char byte) {
  return (byte >= '0' && byte <= '9') || byte == '!' || byte == '?' || byte == 'p' || byte == 'w';
}

// The line level of every bit `sent` puts on the wire, in order.
std::vector<bool> LineBits(std::string_view sent) {
  std::vector<bool> bits;
  bits.reserve(sent.size() * kFrameBits);
  for (const unsigned char byte : sent) {
    bits.push_back(false);  // start
    for (int bit = 0; bit < kDataBits; ++bit) bits.push_back((byte >> bit) & 1);
    bits.push_back(true);  // stop
  }
  return bits;
}

}  // namespace

std::string ReadAtOtherSpeed(std::string_view sent, int32_t sent_baud, int32_t read_baud) {
  if (sent_baud == read_baud) return std::string(sent);
  if (sent_baud <= 0 || read_baud <= 0) return std::string();
  const std::vector<bool> bits = LineBits(sent);
  const int64_t count = static_cast<int64_t>(bits.size());
  // Time counts in units of 1 / (2 * sent_baud * read_baud) seconds, so that
  // a sent bit, a received bit and half a received bit are all whole units.
  const int64_t sent_bit = 2 * static_cast<int64_t>(read_baud);
  const int64_t read_bit = 2 * static_cast<int64_t>(sent_baud);
  const int64_t half_read_bit = sent_baud;
  // Before and after the bytes the line idles high.
  auto level_at = [&](int64_t time) {
    const int64_t index = time / sent_bit;
    return index >= count || bits[static_cast<size_t>(index)];
  };

  std::string read;
  int64_t edge_bit = 0;  // the first sent bit whose start may be a falling edge
  while (true) {
    // The receiver waits for the line to fall from idle or a stop bit; that
    // can only happen where one sent bit ends and the next begins.
    while (edge_bit < count && !(!bits[static_cast<size_t>(edge_bit)] &&
                                 (edge_bit == 0 || bits[static_cast<size_t>(edge_bit - 1)]))) {
      ++edge_bit;
    }
    if (edge_bit >= count) break;
    const int64_t middle_of_start = edge_bit * sent_bit + half_read_bit;
    if (level_at(middle_of_start)) {
      // High again by the middle of the start bit: a glitch, not a frame.
      edge_bit = middle_of_start / sent_bit + 1;
      continue;
    }
    unsigned char byte = 0;
    for (int bit = 0; bit < kDataBits; ++bit) {
      if (level_at(middle_of_start + (bit + 1) * read_bit)) byte |= 1u << bit;
    }
    const int64_t middle_of_stop = middle_of_start + (kFrameBits - 1) * read_bit;
    const bool framed = level_at(middle_of_stop);
    read += static_cast<char>(framed && !MeansSomething(byte) ? byte : 0);
    // The receiver looks for the next start bit from the middle of the stop
    // bit on.
    edge_bit = middle_of_stop / sent_bit + 1;
  }
  return read;
}

}  // namespace boardsim
