// The rules by which `blockhost set` and `blockhost check` judge a block's
// settings: the values the dialog offers in its lists and spin buttons, and
// UDP ports a board can be reached at.  The dialog's lists and spin buttons
// are built from the same constants, so the two cannot drift apart.  The
// dialog itself stores more than these rules take (any number its port edit
// reads, such as 0, -5 or 70000, and -1 for a list left without a
// selection), and every refusal says what the dialog would do with the
// value.  The settings block stores any 32-bit integer in any field: stored
// files may hold anything, and nothing here is applied when a file is read.
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

// The COM port the dialog shows for a stored one and stores back on OK: the
// spin buttons' position is a 16-bit signed value, so only the low half of
// the stored number reaches it, and the range then applies.
int32_t DialogComPort(int32_t stored);

// Each returns why `value` is refused for that field, a sentence that names
// the range or the list and says what the dialog would show and store for
// it, or nothing for a value that the rules take.
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
