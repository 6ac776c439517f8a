// COM numbers on Windows: the number is the port's own name.
#include "link/port_names.h"

namespace arduino {

std::string ComPortDevice(int32_t port) { return ComDeviceName(port); }

}  // namespace arduino
