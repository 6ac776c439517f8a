#include "link/port_holders.h"

namespace arduino {

std::string DescribePortHolder(const PortHolder& holder) {
  const std::string pid = "pid " + std::to_string(holder.pid);
  std::string details = holder.lock_file.empty() ? pid : pid + ", lock file " + holder.lock_file;
  return holder.program.empty() ? details : holder.program + " (" + details + ")";
}

}  // namespace arduino
