// The port list on Windows: every port the serial drivers announce under
// HARDWARE\DEVICEMAP\SERIALCOMM, with the friendly name and hardware ID that
// SetupAPI keeps for it where the port belongs to a device of the Ports class.
#include <windows.h>
// setupapi.h needs the types of windows.h first.
#include <setupapi.h>

#include <algorithm>
#include <charconv>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "link/port_list.h"
#include "link/port_names.h"

namespace arduino {
namespace {

// GUID_DEVCLASS_PORTS, spelled out so that no import library of GUIDs is
// needed.
constexpr GUID kPortsClass = {
    0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

std::optional<int32_t> ComNumber(std::string_view name) {
  if (name.size() < 4 || (name.substr(0, 3) != "COM" && name.substr(0, 3) != "com")) {
    return std::nullopt;
  }
  int32_t value = 0;
  auto [end, error] = std::from_chars(name.data() + 3, name.data() + name.size(), value);
  if (error != std::errc() || end != name.data() + name.size() || value < 1) return std::nullopt;
  return value;
}

// "USB\VID_2341&PID_0043&REV_0001" and "FTDIBUS\COMPORT&VID_0403&PID_6001"
// both carry the IDs after "VID_" and "PID_".
std::optional<uint16_t> IdAfter(std::string_view id, std::string_view key) {
  const size_t at = id.find(key);
  if (at == id.npos || at + key.size() + 4 > id.size()) return std::nullopt;
  unsigned value = 0;
  const char* digits = id.data() + at + key.size();
  auto [end, error] = std::from_chars(digits, digits + 4, value, 16);
  if (error != std::errc() || end != digits + 4) return std::nullopt;
  return static_cast<uint16_t>(value);
}

std::string Property(HDEVINFO set, SP_DEVINFO_DATA* device, DWORD property) {
  char buffer[1024] = {};
  DWORD type = 0;
  if (!SetupDiGetDeviceRegistryPropertyA(set, device, property, &type,
                                         reinterpret_cast<BYTE*>(buffer), sizeof buffer - 2,
                                         nullptr)) {
    return {};
  }
  return buffer;  // of a list of strings (hardware IDs), the first
}

struct DeviceDetails {
  std::string friendly_name;
  std::string hardware_id;
  std::string manufacturer;
  std::string instance_id;
  int latency_timer_ms = 0;  // an FTDI driver's LatencyTimer, beside PortName
};

// Where Windows keeps a device's own settings, PortName and LatencyTimer
// among them: what SetupDiOpenDevRegKey opens as DIREG_DEV.
std::string DeviceParametersKey(const std::string& instance_id) {
  return "SYSTEM\\CurrentControlSet\\Enum\\" + instance_id + "\\Device Parameters";
}

// The Ports-class devices present, by the port name their driver gave them.
std::map<int32_t, DeviceDetails> PortsClassDevices() {
  std::map<int32_t, DeviceDetails> devices;
  HDEVINFO set = SetupDiGetClassDevsA(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT);
  if (set == INVALID_HANDLE_VALUE) return devices;
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &device); ++i) {
    HKEY key = SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE) continue;
    char name[64] = {};
    DWORD size = sizeof name - 1;
    DWORD type = 0;
    const bool named = RegQueryValueExA(key, "PortName", nullptr, &type,
                                        reinterpret_cast<BYTE*>(name), &size) == ERROR_SUCCESS &&
                       type == REG_SZ;
    DWORD latency = 0;
    DWORD latency_size = sizeof latency;
    const bool timed =
        RegQueryValueExA(key, "LatencyTimer", nullptr, &type, reinterpret_cast<BYTE*>(&latency),
                         &latency_size) == ERROR_SUCCESS &&
        type == REG_DWORD;
    RegCloseKey(key);
    std::optional<int32_t> number = named ? ComNumber(name) : std::nullopt;
    if (!number) continue;
    DeviceDetails details;
    details.friendly_name = Property(set, &device, SPDRP_FRIENDLYNAME);
    details.hardware_id = Property(set, &device, SPDRP_HARDWAREID);
    details.manufacturer = Property(set, &device, SPDRP_MFG);
    char instance[512] = {};
    if (SetupDiGetDeviceInstanceIdA(set, &device, instance, sizeof instance, nullptr)) {
      details.instance_id = instance;
    }
    if (timed && latency >= 1 && latency <= 255) {
      details.latency_timer_ms = static_cast<int>(latency);
    }
    devices[*number] = details;
  }
  SetupDiDestroyDeviceInfoList(set);
  return devices;
}

// USB devices with a serial number keep it as the last part of the instance
// ID ("USB\VID_2341&PID_0043\85734323430351F0E1C1"); without one Windows makes
// up a part with '&' in it.
std::string SerialNumberOf(const std::string& instance_id) {
  const size_t slash = instance_id.rfind('\\');
  if (slash == std::string::npos) return {};
  std::string last = instance_id.substr(slash + 1);
  return last.find('&') == std::string::npos ? last : std::string();
}

}  // namespace

LatencyChange SetLatencyTimer(const SerialPortInfo& port, int ms) {
  LatencyChange change;
  const std::string root = "HKLM\\";
  if (!port.latency_place.starts_with(root)) {
    change.error = "the port has no latency timer";
    return change;
  }
  HKEY key;
  LONG result = RegOpenKeyExA(HKEY_LOCAL_MACHINE, port.latency_place.substr(root.size()).c_str(), 0,
                              KEY_SET_VALUE, &key);
  if (result == ERROR_SUCCESS) {
    const DWORD value = static_cast<DWORD>(ms);
    result = RegSetValueExA(key, "LatencyTimer", 0, REG_DWORD,
                            reinterpret_cast<const BYTE*>(&value), sizeof value);
    RegCloseKey(key);
  }
  if (result == ERROR_SUCCESS) {
    change.done = true;
  } else if (result == ERROR_ACCESS_DENIED) {
    change.not_permitted = true;
  } else {
    change.error = "the registry refused it (error " + std::to_string(result) + ")";
  }
  return change;
}

std::vector<SerialPortInfo> ListSerialPorts() {
  std::vector<SerialPortInfo> list;
  HKEY map;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &map) !=
      ERROR_SUCCESS) {
    return list;  // no serial driver has announced a port
  }
  const std::map<int32_t, DeviceDetails> devices = PortsClassDevices();
  for (DWORD i = 0;; ++i) {
    char value_name[256];
    DWORD name_size = sizeof value_name;
    char data[64] = {};
    DWORD data_size = sizeof data - 1;
    DWORD type = 0;
    const LONG result = RegEnumValueA(map, i, value_name, &name_size, nullptr, &type,
                                      reinterpret_cast<BYTE*>(data), &data_size);
    if (result == ERROR_NO_MORE_ITEMS) break;
    if (result != ERROR_SUCCESS || type != REG_SZ) continue;
    std::optional<int32_t> number = ComNumber(data);
    if (!number) continue;
    SerialPortInfo info;
    info.com_port = *number;
    info.device = ComPortDevice(*number);
    info.mapped_by = value_name;  // the driver's device, \Device\Serial0
    if (auto found = devices.find(*number); found != devices.end()) {
      const DeviceDetails& details = found->second;
      info.friendly_name = details.friendly_name;
      info.hardware_id = details.hardware_id;
      info.manufacturer = details.manufacturer;
      std::optional<uint16_t> vendor = IdAfter(details.hardware_id, "VID_");
      std::optional<uint16_t> product = IdAfter(details.hardware_id, "PID_");
      if (vendor && product) {
        info.usb = true;
        info.vendor_id = *vendor;
        info.product_id = *product;
        info.serial_number = SerialNumberOf(details.instance_id);
        info.likely_board = LikelyBoard(*vendor, *product);
      }
      if (details.latency_timer_ms > 0 && !details.instance_id.empty()) {
        info.latency_timer_ms = details.latency_timer_ms;
        info.latency_place = "HKLM\\" + DeviceParametersKey(details.instance_id);
      }
    }
    list.push_back(std::move(info));
  }
  RegCloseKey(map);
  std::sort(list.begin(), list.end(), [](const SerialPortInfo& a, const SerialPortInfo& b) {
    return a.com_port < b.com_port;
  });
  return list;
}

}  // namespace arduino
