// Which values of the block's settings the dialog can produce, in one place,
// so that the dialog's lists, `blockhost set` and `blockhost check` offer
// and refuse the same values.  The settings block itself stores any 32-bit
// integer in any field: stored files may hold anything, and nothing here is
// applied when a file is read.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace arduino {

// The COM port numbers of the dialog's spin buttons.
constexpr int32_t kComPortMin = 1;
constexpr int32_t kComPortMax = 100;
// The speeds of the dialog's list, in its order.
constexpr int32_t kBaudRates[] = {9600, 19200, 38400, 115200};
constexpr int kBaudRateCount = sizeof kBaudRates / sizeof kBaudRates[0];
// The ports a UDP datagram can be addressed to.
constexpr int32_t kUdpPortMin = 1;
constexpr int32_t kUdpPortMax = 65535;

// Pins 3, 5, 6 and 9 have a timer behind them and so can drive PWM.
bool HasPwm(int pin);
// How many mode codes pin `pin` offers, 0 upwards: "unused", "Digital Input",
// "Digital Output", and "PWM Output" on a PWM pin.
int PinModeCount(int pin);

// Each returns why the dialog could not produce `value` for that field, a
// sentence that names the range or the list, or nothing for a value it can.
std::optional<std::string> InterfaceRefusal(int32_t value);
std::optional<std::string> ComPortRefusal(int32_t value);
std::optional<std::string> BaudRateRefusal(int32_t value);
std::optional<std::string> UdpPortRefusal(int32_t value);
std::optional<std::string> PinModeRefusal(int pin, int32_t value);
std::optional<std::string> AnalogUsedRefusal(int32_t value);

// A COM port as people write it: "3", or "COM3" in any case.  Nothing for
// any other text or a number beyond 32 bits; the range is not judged here.
std::optional<int32_t> ParseComPortText(std::string_view text);

}  // namespace arduino
