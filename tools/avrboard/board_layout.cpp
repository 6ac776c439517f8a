#include "board_layout.h"

namespace avrboard {
namespace {

// Data-space addresses of the registers behind pins 2..9 and their PWM
// channels.  Reading them directly gives the state the pins are in, which is
// what a wire on the pin sees; simavr's pin IRQs only report writes.
namespace m328p {
constexpr uint16_t kDdrB = 0x24, kPortB = 0x25, kDdrD = 0x2A, kPortD = 0x2B;
constexpr uint16_t kTccr0A = 0x44, kOcr0A = 0x47, kOcr0B = 0x48;
constexpr uint16_t kTccr1A = 0x80, kOcr1AL = 0x88;
constexpr uint16_t kTccr2A = 0xB0, kOcr2B = 0xB4;
}  // namespace m328p

namespace m2560 {
constexpr uint16_t kDdrE = 0x2D, kPortE = 0x2E, kDdrG = 0x33, kPortG = 0x34;
constexpr uint16_t kDdrH = 0x101, kPortH = 0x102;
constexpr uint16_t kTccr0A = 0x44, kOcr0B = 0x48;
constexpr uint16_t kTccr2A = 0xB0, kOcr2B = 0xB4;
constexpr uint16_t kTccr3A = 0x90, kOcr3AL = 0x98, kOcr3BL = 0x9A, kOcr3CL = 0x9C;
constexpr uint16_t kTccr4A = 0xA0, kOcr4AL = 0xA8, kOcr4BL = 0xAA, kOcr4CL = 0xAC;
}  // namespace m2560

}  // namespace

// Uno: pins 2..7 are PD2..PD7, 8 and 9 are PB0 and PB1; timers drive 3, 5, 6
// and 9; A0..A5 are ADC0..ADC5 on port C.
const BoardLayout kUnoLayout = {
    "atmega328p",
    "ATmega328P",
    {{'D', 2, m328p::kDdrD, m328p::kPortD},
     {'D', 3, m328p::kDdrD, m328p::kPortD},
     {'D', 4, m328p::kDdrD, m328p::kPortD},
     {'D', 5, m328p::kDdrD, m328p::kPortD},
     {'D', 6, m328p::kDdrD, m328p::kPortD},
     {'D', 7, m328p::kDdrD, m328p::kPortD},
     {'B', 0, m328p::kDdrB, m328p::kPortB},
     {'B', 1, m328p::kDdrB, m328p::kPortB}},
    {{3, m328p::kTccr2A, 5, m328p::kOcr2B},
     {5, m328p::kTccr0A, 5, m328p::kOcr0B},
     {6, m328p::kTccr0A, 7, m328p::kOcr0A},
     {9, m328p::kTccr1A, 7, m328p::kOcr1AL}},
    4,
    {0, 1, 2, 3, 4, 5},
    2,  // PB2
    1024,
};

// Mega 2560: pins 2, 3 and 5 are PE4, PE5 and PE3, pin 4 is PG5, 6..9 are
// PH3..PH6, and a timer channel serves each of them (the Arduino core runs
// timers 3 and 4 as 8-bit PWM, so the low compare byte is the duty); A0..A5
// are ADC0..ADC5 on port F.
const BoardLayout kMega2560Layout = {
    "atmega2560",
    "ATmega2560",
    {{'E', 4, m2560::kDdrE, m2560::kPortE},
     {'E', 5, m2560::kDdrE, m2560::kPortE},
     {'G', 5, m2560::kDdrG, m2560::kPortG},
     {'E', 3, m2560::kDdrE, m2560::kPortE},
     {'H', 3, m2560::kDdrH, m2560::kPortH},
     {'H', 4, m2560::kDdrH, m2560::kPortH},
     {'H', 5, m2560::kDdrH, m2560::kPortH},
     {'H', 6, m2560::kDdrH, m2560::kPortH}},
    {{2, m2560::kTccr3A, 5, m2560::kOcr3BL},
     {3, m2560::kTccr3A, 3, m2560::kOcr3CL},
     {4, m2560::kTccr0A, 5, m2560::kOcr0B},
     {5, m2560::kTccr3A, 7, m2560::kOcr3AL},
     {6, m2560::kTccr4A, 7, m2560::kOcr4AL},
     {7, m2560::kTccr4A, 5, m2560::kOcr4BL},
     {8, m2560::kTccr4A, 3, m2560::kOcr4CL},
     {9, m2560::kTccr2A, 5, m2560::kOcr2B}},
    8,
    {0, 1, 2, 3, 4, 5},
    4,  // PB4
    4096,
};

const BoardLayout* LayoutOfMcu(const std::string& mcu) {
  for (const BoardLayout* layout : {&kUnoLayout, &kMega2560Layout}) {
    if (mcu == layout->mcu) return layout;
  }
  return nullptr;
}

}  // namespace avrboard
