// The two boards avrboard runs: which chip each has, and where the board's
// Arduino pins, timer channels, analog inputs and Ethernet chip select sit
// on it.  Plain tables, so that they read against the boards' schematics.
#pragma once

#include <cstdint>
#include <string>

namespace avrboard {

constexpr uint32_t kClockHz = 16000000;
constexpr uint8_t kFirstPin = 2;
constexpr uint8_t kLastPin = 9;

// Where one of the Arduino pins 2..9 sits on the chip: its port, its bit,
// and the data-space addresses of the port's direction and output registers.
struct PinSite {
  char port;
  uint8_t bit;
  uint16_t ddr;
  uint16_t out;
};

// A timer channel that can drive a pin: it does while its COM bit in the
// control register is set, at the duty of its compare register.
struct PwmChannel {
  uint8_t pin;
  uint16_t control;
  uint8_t enable_bit;
  uint16_t compare;
};

// The chip of one board and how the board's pin numbers map onto it.
struct BoardLayout {
  const char* mcu;   // simavr's name for the chip
  const char* chip;  // for people
  PinSite pins[kLastPin - kFirstPin + 1];
  PwmChannel pwm[8];
  uint8_t pwm_count;
  uint8_t adc_channel[6];  // of A0..A5
  // Pin 10, where an Ethernet shield takes its chip select (on the Mega
  // too, not the chip's own SS on pin 53); port B on both chips.
  uint8_t ethernet_select_bit;
  uint16_t eeprom_size;
};

extern const BoardLayout kUnoLayout;
extern const BoardLayout kMega2560Layout;
// The layout of simavr's chip name, or nullptr for a chip we have none for.
const BoardLayout* LayoutOfMcu(const std::string& mcu);

}  // namespace avrboard
