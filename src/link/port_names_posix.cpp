// COM numbers on Linux.  There are no COM names, so the environment or the
// kernel's names of USB and on-board serial devices stand in for them; libudev
// tells whether an on-board ttyS has a UART behind it, as the kernel makes
// ttyS0..ttyS31 whether or not the machine has the chips.
#include <libudev.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <memory>

#include "link/port_names.h"

namespace arduino {
namespace {

struct UdevDeleter {
  void operator()(udev* u) const { udev_unref(u); }
  void operator()(udev_device* d) const { udev_device_unref(d); }
};

bool NodeExists(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0;
}

// A ttyS whose "type" reads 0 has no UART (PORT_UNKNOWN): opening it fails.
// Without udev's view (no /sys in a container) the node alone decides.
bool HasNoUart(const std::string& name) {
  std::unique_ptr<udev, UdevDeleter> context(udev_new());
  if (!context) return false;
  std::unique_ptr<udev_device, UdevDeleter> device(
      udev_device_new_from_subsystem_sysname(context.get(), "tty", name.c_str()));
  if (!device) return false;
  const char* type = udev_device_get_sysattr_value(device.get(), "type");
  return type != nullptr && std::string(type) == "0";
}

}  // namespace

std::string ComPortDevice(int32_t port) {
  const std::string variable = "ARDUINO_BLOCK_COM" + std::to_string(port);
  if (const char* path = getenv(variable.c_str())) return path;
  if (port < 1) return {};
  const std::string index = std::to_string(port - 1);
  for (const char* stem : {"ttyACM", "ttyUSB", "ttyS"}) {
    const std::string name = stem + index;
    if (!NodeExists("/dev/" + name)) continue;
    if (std::string(stem) == "ttyS" && HasNoUart(name)) continue;
    return "/dev/" + name;
  }
  return {};
}

}  // namespace arduino
