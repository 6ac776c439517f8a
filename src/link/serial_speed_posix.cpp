#include "link/serial_speed_posix.h"

#include <iterator>

namespace arduino {
namespace {

struct SpeedName {
  int32_t baud_rate;
  speed_t constant;
};

constexpr SpeedName kSpeeds[] = {
    {300, B300},       {1200, B1200},     {2400, B2400},     {4800, B4800},     {9600, B9600},
    {19200, B19200},   {38400, B38400},   {57600, B57600},   {115200, B115200}, {230400, B230400},
    {460800, B460800}, {500000, B500000}, {576000, B576000}, {921600, B921600}, {1000000, B1000000},
};

}  // namespace

speed_t SpeedConstant(int32_t baud_rate) {
  for (const SpeedName& speed : kSpeeds) {
    if (speed.baud_rate == baud_rate) return speed.constant;
  }
  return B0;
}

std::optional<int32_t> BaudRateOf(speed_t constant) {
  for (const SpeedName& speed : kSpeeds) {
    if (speed.constant == constant) return speed.baud_rate;
  }
  return std::nullopt;
}

}  // namespace arduino
