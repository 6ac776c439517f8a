#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstring>

#include "local_address.h"

namespace blockhost {

bool IsAddressOfThisMachine(const std::string& address) {
  // Winsock counts its users; this one is over before the function returns.
  WSADATA winsock{};
  if (WSAStartup(MAKEWORD(2, 2), &winsock) != 0) return false;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* found = nullptr;
  bool local = false;
  if (getaddrinfo(address.c_str(), nullptr, &hints, &found) == 0) {
    for (const addrinfo* entry = found; entry != nullptr && !local; entry = entry->ai_next) {
      const SOCKET probe = socket(AF_INET, SOCK_DGRAM, 0);
      if (probe == INVALID_SOCKET) continue;
      sockaddr_in where{};
      std::memcpy(&where, entry->ai_addr, sizeof where);
      where.sin_port = 0;  // any free port: only the address is in question
      local = bind(probe, reinterpret_cast<const sockaddr*>(&where), sizeof where) == 0;
      closesocket(probe);
    }
    freeaddrinfo(found);
  }
  WSACleanup();
  return local;
}

}  // namespace blockhost
