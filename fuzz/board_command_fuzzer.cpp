// The board's command parser and serial framer over arbitrary bytes: no
// crash, replies always within their buffer and terminated, and the model
// only ever sees pins and values in range.
#include <cstdlib>
#include <cstring>

#include "board_protocol.h"
#include "serial_framer.h"

namespace {

class CheckedPins : public board::BoardPins {
 public:
  void SetPinMode(uint8_t pin, board::PinMode) override { Check(pin); }
  void WriteDigital(uint8_t pin, bool) override { Check(pin); }
  bool ReadDigital(uint8_t pin) override {
    Check(pin);
    return pin % 2 == 0;
  }
  int16_t ReadAnalog(uint8_t pin) override {
    Check(pin);
    return static_cast<int16_t>(pin * 50);
  }
  void WritePwm(uint8_t pin, uint16_t value) override {
    Check(pin);
    if (value > board::kMaxPwmValue) std::abort();
  }

 private:
  static void Check(uint8_t pin) {
    if (pin >= board::kPinCount) std::abort();
  }
};

void CheckReply(const board::Reply& reply) {
  if (reply.length >= board::kReplyCapacity) std::abort();
  if (std::strlen(reply.text) != reply.length) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CheckedPins pins;
  board::BoardProtocol protocol(pins);
  board::Reply reply{};
  // The whole input as one datagram, as over UDP.
  protocol.Handle(reinterpret_cast<const char*>(data), size, &reply);
  CheckReply(reply);
  // The same bytes as a serial stream, a millisecond apart.
  board::SerialFramer framer;
  for (size_t i = 0; i < size; ++i) {
    if (!framer.Feed(static_cast<char>(data[i]), static_cast<uint32_t>(i))) continue;
    if (framer.length() > board::kCommandLength) std::abort();
    protocol.Handle(framer.command(), framer.length(), &reply);
    CheckReply(reply);
  }
  return 0;
}
