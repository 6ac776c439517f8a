#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "local_address.h"

namespace blockhost {

bool IsAddressOfThisMachine(const std::string& address) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(address.c_str(), nullptr, &hints, &found) != 0) return false;
  bool local = false;
  for (const addrinfo* entry = found; entry != nullptr && !local; entry = entry->ai_next) {
    const int probe = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (probe < 0) continue;
    sockaddr_in where{};
    std::memcpy(&where, entry->ai_addr, sizeof where);
    where.sin_port = 0;  // any free port: only the address is in question
    local = bind(probe, reinterpret_cast<const sockaddr*>(&where), sizeof where) == 0;
    close(probe);
  }
  freeaddrinfo(found);
  return local;
}

}  // namespace blockhost
