// The port list on Linux, from libudev: every ttyACM, ttyUSB and ttyS the
// kernel has (less the ttyS without a UART), and every ARDUINO_BLOCK_COM<n>
// of the environment, each named through ComPortDevice as the block names it.
#include <libudev.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string_view>

#include "link/port_list.h"
#include "link/port_names.h"

extern char** environ;

namespace arduino {
namespace {

constexpr std::string_view kVariablePrefix = "ARDUINO_BLOCK_COM";
constexpr std::string_view kStems[] = {"ttyACM", "ttyUSB", "ttyS"};

struct UdevDeleter {
  void operator()(udev* u) const { udev_unref(u); }
  void operator()(udev_device* d) const { udev_device_unref(d); }
  void operator()(udev_enumerate* e) const { udev_enumerate_unref(e); }
};

std::optional<int32_t> WholeNumber(std::string_view text) {
  int32_t value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// The index of "ttyUSB3" and its stem, or nothing for other tty names.
std::optional<std::pair<std::string_view, int32_t>> StemAndIndex(std::string_view name) {
  for (std::string_view stem : kStems) {
    if (!name.starts_with(stem)) continue;
    std::optional<int32_t> index = WholeNumber(name.substr(stem.size()));
    if (index && *index >= 0) return std::make_pair(stem, *index);
  }
  return std::nullopt;
}

std::string Text(const char* value) { return value ? value : ""; }

uint16_t HexId(const char* value) {
  if (value == nullptr) return 0;
  unsigned parsed = 0;
  std::from_chars(value, value + std::char_traits<char>::length(value), parsed, 16);
  return static_cast<uint16_t>(parsed);
}

// Symlinks (a /dev/serial/by-id name in the environment, say) lead to the
// node they name, so both spellings meet at one file.  stat rather than
// realpath: the file is what counts, and umockdev's realpath overruns its
// caller's buffer.
std::string FileIdentity(const std::string& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return path;
  return std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino);
}

struct KernelPort {
  std::string node;  // /dev/ttyACM0
  std::string name;  // ttyACM0
  int32_t com_port;  // the number whose turn it would be: index + 1
  SerialPortInfo usb_details;
};

void FillUsbDetails(udev_device* tty, SerialPortInfo* info) {
  // The tty's parent chain reaches the USB device itself, which carries the
  // IDs and the maker's strings; the interface between them does not.
  udev_device* usb = udev_device_get_parent_with_subsystem_devtype(tty, "usb", "usb_device");
  if (usb == nullptr) return;
  info->usb = true;
  info->vendor_id = HexId(udev_device_get_sysattr_value(usb, "idVendor"));
  info->product_id = HexId(udev_device_get_sysattr_value(usb, "idProduct"));
  info->manufacturer = Text(udev_device_get_sysattr_value(usb, "manufacturer"));
  info->product = Text(udev_device_get_sysattr_value(usb, "product"));
  info->serial_number = Text(udev_device_get_sysattr_value(usb, "serial"));
  info->likely_board = LikelyBoard(info->vendor_id, info->product_id);
  // FTDI's driver gives its usb-serial port device the bridge's timer.
  udev_device* serial = udev_device_get_parent_with_subsystem_devtype(tty, "usb-serial", nullptr);
  if (serial == nullptr) return;
  if (std::optional<int32_t> ms =
          WholeNumber(Text(udev_device_get_sysattr_value(serial, "latency_timer")))) {
    info->latency_timer_ms = *ms;
    info->latency_place = Text(udev_device_get_syspath(serial)) + "/latency_timer";
  }
}

std::vector<KernelPort> KernelPorts() {
  std::vector<KernelPort> ports;
  std::unique_ptr<udev, UdevDeleter> context(udev_new());
  if (!context) return ports;
  std::unique_ptr<udev_enumerate, UdevDeleter> scan(udev_enumerate_new(context.get()));
  udev_enumerate_add_match_subsystem(scan.get(), "tty");
  udev_enumerate_scan_devices(scan.get());
  udev_list_entry* entry;
  udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(scan.get())) {
    std::unique_ptr<udev_device, UdevDeleter> device(
        udev_device_new_from_syspath(context.get(), udev_list_entry_get_name(entry)));
    if (!device) continue;
    const std::string name = Text(udev_device_get_sysname(device.get()));
    std::optional<std::pair<std::string_view, int32_t>> stem = StemAndIndex(name);
    if (!stem) continue;
    const char* type = udev_device_get_sysattr_value(device.get(), "type");
    if (stem->first == "ttyS" && type != nullptr && std::string_view(type) == "0") continue;
    const char* node = udev_device_get_devnode(device.get());
    KernelPort port{node ? node : "/dev/" + name, name, stem->second + 1, {}};
    // In a container the host's devices show in /sys without their nodes;
    // the block cannot open those, so they are not listed either.
    struct stat node_info {};
    if (stat(port.node.c_str(), &node_info) != 0) continue;
    FillUsbDetails(device.get(), &port.usb_details);
    ports.push_back(std::move(port));
  }
  std::sort(ports.begin(), ports.end(),
            [](const KernelPort& a, const KernelPort& b) { return a.node < b.node; });
  return ports;
}

std::set<int32_t> NumbersInEnvironment() {
  std::set<int32_t> numbers;
  for (char** variable = environ; variable && *variable; ++variable) {
    std::string_view text = *variable;
    if (!text.starts_with(kVariablePrefix)) continue;
    const size_t equals = text.find('=');
    if (equals == text.npos) continue;
    if (std::optional<int32_t> n =
            WholeNumber(text.substr(kVariablePrefix.size(), equals - kVariablePrefix.size()))) {
      numbers.insert(*n);
    }
  }
  return numbers;
}

}  // namespace

LatencyChange SetLatencyTimer(const SerialPortInfo& port, int ms) {
  LatencyChange change;
  const std::string suffix = "/latency_timer";
  if (port.latency_place.size() <= suffix.size()) {
    change.error = "the port has no latency timer";
    return change;
  }
  const std::string syspath =
      port.latency_place.substr(0, port.latency_place.size() - suffix.size());
  std::unique_ptr<udev, UdevDeleter> context(udev_new());
  std::unique_ptr<udev_device, UdevDeleter> device(
      context ? udev_device_new_from_syspath(context.get(), syspath.c_str()) : nullptr);
  if (!device) {
    change.error = "the device " + syspath + " is gone";
    return change;
  }
  std::string value = std::to_string(ms);
  const int result = udev_device_set_sysattr_value(device.get(), "latency_timer", value.data());
  if (result == 0) {
    change.done = true;
  } else if (result == -EACCES || result == -EPERM) {
    change.not_permitted = true;
  } else {
    change.error = std::string("the driver refused it: ") + std::strerror(-result);
  }
  return change;
}

std::vector<SerialPortInfo> ListSerialPorts() {
  const std::vector<KernelPort> kernel_ports = KernelPorts();
  const std::set<int32_t> from_environment = NumbersInEnvironment();
  std::set<int32_t> numbers = from_environment;
  for (const KernelPort& port : kernel_ports) numbers.insert(port.com_port);

  std::vector<SerialPortInfo> list;
  std::map<std::string, int32_t> reached;  // file identity -> first COM number
  for (int32_t n : numbers) {
    const std::string device = ComPortDevice(n);
    if (device.empty()) continue;
    const std::string identity = FileIdentity(device);
    SerialPortInfo info;
    for (const KernelPort& port : kernel_ports) {
      if (FileIdentity(port.node) == identity) info = port.usb_details;
    }
    info.com_port = n;
    info.device = device;
    if (from_environment.count(n)) {
      info.mapped_by = std::string(kVariablePrefix) + std::to_string(n);
      struct stat node {};
      if (stat(info.device.c_str(), &node) != 0) info.note = "no such device";
    } else {
      info.mapped_by = info.device.substr(info.device.rfind('/') + 1);
    }
    reached.emplace(identity, n);
    list.push_back(std::move(info));
  }

  // A ttyUSB0 beside a ttyACM0 has no number: COM1 is the ttyACM0.  The block
  // reaches it only through the environment, which the note says.
  for (const KernelPort& port : kernel_ports) {
    if (reached.count(FileIdentity(port.node))) continue;
    SerialPortInfo info = port.usb_details;
    info.device = port.node;
    info.note = "COM" + std::to_string(port.com_port) + " is " + ComPortDevice(port.com_port) +
                "; set ARDUINO_BLOCK_COM<n>=" + port.node + " with an unused n to reach this one";
    list.push_back(std::move(info));
  }
  return list;
}

}  // namespace arduino
