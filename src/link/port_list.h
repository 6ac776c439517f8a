// The serial ports of this machine as the block names them, for
// `blockhost ports`.  Kept out of the library's own code paths: the block
// itself only ever maps one number to one device (port_names.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace arduino {

struct SerialPortInfo {
  int32_t com_port = 0;       // 0: no COM number reaches this device
  std::string device;         // what the block opens: a path, or COM5
  std::string mapped_by;      // why COM n is this device
  std::string friendly_name;  // Windows' name for it, where it has one
  std::string hardware_id;    // Windows' hardware ID, where it has one
  bool usb = false;
  uint16_t vendor_id = 0;
  uint16_t product_id = 0;
  std::string manufacturer;
  std::string product;
  std::string serial_number;
  std::string likely_board;  // LikelyBoard of the IDs; empty if unknown
  std::string note;          // what to do when the device is unreachable
  // An FTDI bridge's latency timer: how long it holds what the board sent
  // before passing it on.  0 where the port has none; `latency_place` names
  // where the driver keeps it (a sysfs file, a registry key).
  int latency_timer_ms = 0;
  std::string latency_place;
};

// Ports with a COM number first, by number, then devices no number reaches.
std::vector<SerialPortInfo> ListSerialPorts();

// Sets the latency timer of `port` (one ListSerialPorts gave, with a timer)
// to `ms`.  The driver keeps it only for a user with the right to change it:
// root on Linux, an administrator on Windows.
struct LatencyChange {
  bool done = false;
  bool not_permitted = false;  // refused for want of that right
  std::string error;           // otherwise why it was not done
};
LatencyChange SetLatencyTimer(const SerialPortInfo& port, int ms);

}  // namespace arduino
