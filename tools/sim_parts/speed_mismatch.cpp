#include "speed_mismatch.h"

#include "serial_wire.h"

namespace boardsim {
namespace {

// The bytes the block's replies and commands give meaning to: any digit
// makes a reply a number, and these four begin every command.
bool MeansSomething(unsigned char byte) {
  return (byte >= '0' && byte <= '9') || byte == '!' || byte == '?' || byte == 'p' || byte == 'w';
}

}  // namespace

std::string ReadAtOtherSpeed(std::string_view sent, int32_t sent_baud, int32_t read_baud) {
  if (sent_baud == read_baud) return std::string(sent);
  if (sent_baud <= 0 || read_baud <= 0) return std::string();
  std::string read;
  for (const ReceivedByte& received : ReceiveBurst(sent, sent_baud, read_baud)) {
    const bool framed = !received.framing_error && !MeansSomething(received.byte);
    read += static_cast<char>(framed ? received.byte : 0);
  }
  return read;
}

}  // namespace boardsim
