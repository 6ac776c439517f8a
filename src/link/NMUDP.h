// TNMUDP: a block's UDP endpoint.  One IPv4 datagram socket whose arrivals
// are reported to the message pump of the thread that created it; a report
// hands each datagram it reads to OnDataReceived, one call per datagram, so
// the handler only ever runs inside a pump pass on that thread.  On Windows
// each datagram is a notification of its own; on Linux one dispatch reads
// every datagram that waits (recvmmsg), in arrival order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "link/local_port.h"

namespace arduino {

class TNMUDP;

// The resolver keeps its own time limits; this one only guarantees that a
// host-name look-up that never reports back cannot hang the host.
constexpr uint32_t kLookupLimitMs = 30000;
// A look-up's wait wakes at least this often, whether or not the resolver's
// completion comes with a message or an event.
constexpr uint32_t kLookupSleepMs = 50;

// Sender, NumberBytes (the received length, -1 for a failed or oversized
// read), FromIP (dotted decimal), Port (host byte order).
using TOnReceive = std::function<void(TNMUDP* Sender, int32_t NumberBytes,
                                      const std::string& FromIP, int32_t Port)>;

class TNMUDP {
 public:
  static constexpr size_t kReceiveBufferSize = 2048;
  static constexpr size_t kLookupAreaSize = 1024;

  // Creates an endpoint with an unbound socket.  Raises UDPSockError when
  // the socket layer gives no socket.
  TNMUDP();
  ~TNMUDP();
  TNMUDP(const TNMUDP&) = delete;
  TNMUDP& operator=(const TNMUDP&) = delete;

  // Replaces the socket with a fresh one bound to the port's low 16 bits on
  // every interface.  A port held by another socket leaves the new socket
  // unbound without a report: the system then picks a port at the first send.
  void SetLocalPort(int32_t port);
  int32_t LocalPort() const { return local_port_; }

  // Read afresh at every send, so a change takes effect at the next one.
  void SetRemoteHost(std::string host) { remote_host_ = std::move(host); }
  const std::string& RemoteHost() const { return remote_host_; }
  void SetRemotePort(int32_t port) { remote_port_ = port; }
  int32_t RemotePort() const { return remote_port_; }

  void SetOnDataReceived(TOnReceive handler) { on_data_received_ = std::move(handler); }

  // Sends the first Length bytes of Buffer as one datagram.  Raises
  // Exception "Invalid buffer" for a length of 0, UDPSockError "Null Remote
  // Address" when the destination is 0.0.0.0 and "Host Lookup Canceled" when
  // a host name does not resolve.  A datagram the network drops is lost
  // without a report.
  void SendDatagram(const char* Buffer, int32_t Length);

  // Copies the datagram of the latest read, at most MaxLength bytes, and
  // reports the received length.
  void ReadDatagram(char* Buffer, int32_t MaxLength, int32_t& Length) const;

  // The local port the socket holds, 0 while it has none (tests, tools).
  uint16_t BoundPort() const;

 private:
  struct Platform;
  struct PlatformDeleter {
    void operator()(Platform* platform) const;
  };

  // Each platform file defines these.
  void CreatePlatform();
  void DestroyPlatform();
  void RecreateSocket();
  void BindAndRegister(uint16_t port);
  // An IPv4 literal in network byte order, or nothing for a host name.
  std::optional<uint32_t> ParseAddressLiteral(const std::string& host) const;
  // Looks the name up while the pump runs; nothing if the look-up failed.
  std::optional<uint32_t> LookUpHost(const std::string& host);
  void SendTo(uint32_t address, uint16_t port, const char* data, int32_t length);
  // Runs on every readable-socket report: reads what is waiting and hands
  // each datagram to Deliver, in arrival order.  Windows reports each
  // datagram on its own; Linux reads all that wait in as few calls as it can.
  void ReceiveWaiting();

  // Hands one datagram, already in the receive buffer (or -1 for a failed
  // or oversized read), to the handler.
  void Deliver(int32_t length, uint32_t from_address, uint16_t from_port);

  std::unique_ptr<Platform, PlatformDeleter> platform_;
  bool ready_ = false;
  int32_t local_port_ = 0;
  std::string remote_host_;
  // The text last parsed as an address literal and what it gave, so that a
  // send to the same literal does not parse it again.  Parsing is a pure
  // function of the text; a host name is still looked up at every send.
  std::string parsed_host_;
  std::optional<uint32_t> parsed_address_;
  bool parsed_ = false;
  int32_t remote_port_ = 0;
  char receive_buffer_[kReceiveBufferSize] = {};
  int32_t received_length_ = 0;
  // The last sender's address and its dotted text: a board's replies all
  // come from one address, whose text is then written once.
  std::optional<uint32_t> from_address_;
  std::string from_text_;
  TOnReceive on_data_received_;
};

// Raises the socket layer's error `error_number` (errno, or a Winsock code)
// as UDPSockError "Unknown Error No. <n>", with an empty message for 0.
// Both platforms' endpoints report every socket failure through it.
[[noreturn]] void RaiseSocketError(int error_number);

}  // namespace arduino
