#include "host/simulation.h"

#include <algorithm>
#include <cmath>
#include <string_view>

#include "base/application.h"
#include "base/convert.h"
#include "base/extended.h"
#include "block/user_data.h"
#include "link/exchange.h"
#include "link/serial.h"

namespace arduino {
namespace {

// A command naming one pin: `lead`, the wire pin in two digits, `tail`;
// "?02s?" for pin 2's state.  Built in place, as every step sends one for
// each used pin.
class PinCommand {
 public:
  PinCommand(std::string_view lead, int wire_pin, std::string_view tail) {
    char* end = std::copy(lead.begin(), lead.end(), text_);
    *end++ = static_cast<char>('0' + wire_pin / 10);
    *end++ = static_cast<char>('0' + wire_pin % 10);
    end = std::copy(tail.begin(), tail.end(), end);
    length_ = static_cast<size_t>(end - text_);
  }
  operator std::string_view() const { return {text_, length_}; }

 private:
  char text_[8];  // the longest lead and tail are three and two
  size_t length_;
};

// Restores the default cursor however the probe ends.
class BusyCursor {
 public:
  BusyCursor() { Application().SetCursor(crHourGlass); }
  ~BusyCursor() { Application().SetCursor(crDefault); }
};

}  // namespace

long double ClampPwm(long double value) {
  if (std::isnan(value)) return 0.0L;
  if (value < 0.0L) value = 0.0L;
  if (value > kPwmMax) value = kPwmMax;
  return value;
}

int32_t RoundHalfEven(long double value) {
  long double floor = std::floor(value);
  long double fraction = value - floor;
  auto result = static_cast<int32_t>(floor);
  if (fraction > 0.5L || (fraction == 0.5L && result % 2 != 0)) ++result;
  return result;
}

int32_t CanSimulate(TUserData& block) {
  BusyCursor busy;
  switch (block.InterfaceKind) {
    case kInterfaceEthernet:
      return 1;
    case kInterfaceUsb:
      return ProbeComPort(block.ComPort) ? 1 : 0;
    default:
      return 0;
  }
}

void InitSimulation(TUserData& block, void* inputs, void* outputs) {
  if (block.InterfaceKind == kInterfaceEthernet) {
    TNMUDP& udp = EndpointOf(block);
    udp.SetRemoteHost(block.IPAddress);
    udp.SetRemotePort(block.UdpPort);
  }
  if (block.InterfaceKind == kInterfaceUsb) OpenSerialLink(block);
  for (int pin = kFirstPin; pin <= kLastPin; ++pin) {
    int32_t mode = block.PinMode[pin];
    if (mode == pmDigitalInput) {
      ExchangeCommand(block, PinCommand("!", pin, "mi"));
    } else if (mode == pmDigitalOutput || mode == pmPWMOutput) {
      ExchangeCommand(block, PinCommand("!", pin, "mo"));
    }
  }
  for (int k = 0; k < kAnalogInputs; ++k) {
    if (block.AnalogUsed[k] > 0)
      ExchangeCommand(block, PinCommand("!", kFirstAnalogWirePin + k, "mi"));
  }
  SimulateStep(block, inputs, outputs);
}

void SimulateStep(TUserData& block, void* inputs, void* outputs) {
  for (int pin = kFirstPin; pin <= kLastPin; ++pin) {
    const size_t i = pin - kFirstPin;
    switch (block.PinMode[pin]) {
      case pmDigitalInput: {
        std::string reply = ExchangeCommand(block, PinCommand("?", pin, "s?"));
        WriteValue(outputs, i, reply == "LOW" ? kInputLow : kInputHigh);
        break;
      }
      case pmDigitalOutput:
        ExchangeCommand(block,
                        PinCommand("!", pin, ReadValue(inputs, i) > kHighThreshold ? "s1" : "s0"));
        break;
      case pmPWMOutput: {
        long double value = ReadValue(inputs, i);
        long double clamped = ClampPwm(value);
        // Written back only when it changed, so an input in range keeps its
        // exact bytes.
        if (!(clamped == value)) WriteValue(inputs, i, clamped);
        ExchangeCommand(block, PinCommand("pwm", pin, ""));
        ExchangeCommand(block, "w" + FormatZeroPadded(RoundHalfEven(clamped), 4));
        break;
      }
      default:
        break;
    }
  }
  for (int k = 0; k < kAnalogInputs; ++k) {
    if (block.AnalogUsed[k] <= 0) continue;
    std::string reply = ExchangeCommand(block, PinCommand("?", kFirstAnalogWirePin + k, "s?"));
    WriteValue(outputs, kDigitalPins + k, StrToFloat(reply));
  }
}

void EndSimulation(TUserData& block) {
  if (block.InterfaceKind == kInterfaceUsb) CloseSerialLink();
}

}  // namespace arduino
