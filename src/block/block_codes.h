// The codes and counts a block's settings are written in: pin modes,
// interface kinds, and which pins the block drives and reads.  Tools and
// tests that write or judge settings take them from here, so that every
// program around the library names them as the library does.
#pragma once

#include <cstdint>

namespace arduino {

// Pin mode codes; they are also the item indices of the dialog's lists.
enum : int32_t { pmUnused = 0, pmDigitalInput = 1, pmDigitalOutput = 2, pmPWMOutput = 3 };

// InterfaceKind: 0 talks to the board over UDP, any other value over the
// library's serial port; the dialog stores 1 for USB.
enum : int32_t { kInterfaceEthernet = 0, kInterfaceUsb = 1 };

constexpr int kFirstPin = 2;
constexpr int kLastPin = 9;
constexpr int kDigitalPins = kLastPin - kFirstPin + 1;
constexpr int kAnalogInputs = 6;
// Analog input Ak is addressed on the wire as pin 14 + k.
constexpr int kFirstAnalogWirePin = 14;

// A digital output pin whose input is above this is set high, otherwise
// (NaN included) low.
constexpr long double kHighThreshold = 2.5L;

}  // namespace arduino
