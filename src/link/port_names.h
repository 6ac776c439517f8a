// How a COM port number becomes the device the block opens, and what the
// known USB IDs of boards are.  This is the one mapping of the library and
// of blockhost's port listing, so the list can never name a device the block
// would not open.
#pragma once

#include <cstdint>
#include <string>

namespace arduino {

constexpr int32_t kFirstDeviceNamespacePort = 10;

// "COM<n>" below 10 (0 and negatives included), "\\.\COM<n>" from 10 on.
std::string ComDeviceName(int32_t port);

// The device behind COM `port`, or empty when there is none.  Windows: the
// name ComDeviceName gives.  Linux: the path in ARDUINO_BLOCK_COM<n>, else the
// first of /dev/ttyACM<n-1>, /dev/ttyUSB<n-1>, /dev/ttyS<n-1> that is there;
// a ttyS without a UART behind it does not count.
std::string ComPortDevice(int32_t port);

// What a USB device with these IDs most likely is: "Arduino Uno", "Arduino
// Mega 2560", or the bridge chip of a clone; empty for IDs we do not know.
std::string LikelyBoard(uint16_t vendor_id, uint16_t product_id);

}  // namespace arduino
