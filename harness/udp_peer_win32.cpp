// The UDP peer on Windows Sockets 1.1, the version the library itself uses.
// Each peer takes its own reference on the socket layer, so it works before
// and after any block exists.
#include <windows.h>
#include <winsock.h>

#include <stdexcept>

#include "udp_peer.h"
#include "udp_peer_shared.h"

namespace harness {
namespace {

SOCKET Socket(uintptr_t socket) { return static_cast<SOCKET>(socket); }

std::string SocketError(int error) { return "Windows Sockets error " + std::to_string(error); }

sockaddr_in SocketAddress(uint32_t address, uint16_t port) {
  return Ipv4SocketAddress<sockaddr_in>(AF_INET, htonl(address), htons(port));
}

}  // namespace

UdpPeer::UdpPeer(uint32_t address, uint16_t port) : buffer_(65536) {
  WSADATA data;
  if (const int error = WSAStartup(0x0101, &data); error != 0) {
    throw std::runtime_error("cannot start Windows Sockets: " + SocketError(error));
  }
  const SOCKET s = ::socket(AF_INET, SOCK_DGRAM, 0);
  if (s == INVALID_SOCKET) {
    const int error = WSAGetLastError();
    WSACleanup();
    throw std::runtime_error("cannot make a UDP socket: " + SocketError(error));
  }
  sockaddr_in local = SocketAddress(address, port);
  if (bind(s, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
    const int error = WSAGetLastError();
    closesocket(s);
    WSACleanup();
    throw PeerError("bind a UDP peer to", address, port, SocketError(error));
  }
  socket_ = static_cast<uintptr_t>(s);
}

UdpPeer::~UdpPeer() {
  closesocket(Socket(socket_));
  WSACleanup();
}

uint16_t UdpPeer::port() const {
  sockaddr_in local{};
  int length = sizeof local;
  getsockname(Socket(socket_), reinterpret_cast<sockaddr*>(&local), &length);
  return ntohs(local.sin_port);
}

void UdpPeer::SendTo(uint16_t port, const std::string& bytes) const {
  sockaddr_in to = SocketAddress(kLoopback, port);
  if (sendto(Socket(socket_), bytes.data(), static_cast<int>(bytes.size()), 0,
             reinterpret_cast<sockaddr*>(&to), sizeof to) == SOCKET_ERROR) {
    throw PeerError("send to", kLoopback, port, SocketError(WSAGetLastError()));
  }
}

void UdpPeer::Connect(uint16_t port) {
  sockaddr_in to = SocketAddress(kLoopback, port);
  if (connect(Socket(socket_), reinterpret_cast<sockaddr*>(&to), sizeof to) == SOCKET_ERROR) {
    throw PeerError("connect to", kLoopback, port, SocketError(WSAGetLastError()));
  }
}

void UdpPeer::Send(const std::string& bytes) const {
  if (send(Socket(socket_), bytes.data(), static_cast<int>(bytes.size()), 0) == SOCKET_ERROR) {
    throw std::runtime_error("cannot send on a connected UDP peer: " +
                             SocketError(WSAGetLastError()));
  }
}

std::optional<Datagram> UdpPeer::ReceiveFrom(milliseconds timeout) const {
  if (timeout != kNoLimit) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(Socket(socket_), &readable);
    const long ms = static_cast<long>(timeout.count());
    timeval limit{ms / 1000, (ms % 1000) * 1000};
    if (select(0, &readable, nullptr, nullptr, &limit) != 1) return std::nullopt;
  }
  sockaddr_in from{};
  int length = sizeof from;
  const int n = recvfrom(Socket(socket_), buffer_.data(), static_cast<int>(buffer_.size()), 0,
                         reinterpret_cast<sockaddr*>(&from), &length);
  if (n == SOCKET_ERROR) return std::nullopt;
  return Datagram{std::string(buffer_.data(), static_cast<size_t>(n)), ntohs(from.sin_port)};
}

}  // namespace harness
