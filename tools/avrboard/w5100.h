// A WIZnet W5100 Ethernet controller as the firmware sees it over SPI: the
// 4-byte frames, the common and socket registers, the 8 KB of TX and 8 KB of
// RX memory shared among four sockets, and UDP datagrams in and out.  The
// wire is whatever the caller makes of Sent() and Deliver(); the model itself
// knows no simulator and no operating system, and takes the time from the
// caller, so it runs on the simulated clock.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace avrboard {
namespace w5100 {

// Common registers.
constexpr uint16_t kMr = 0x0000;
constexpr uint16_t kGar = 0x0001;
constexpr uint16_t kSubr = 0x0005;
constexpr uint16_t kShar = 0x0009;
constexpr uint16_t kSipr = 0x000F;
constexpr uint16_t kIr = 0x0015;
constexpr uint16_t kImr = 0x0016;
constexpr uint16_t kRtr = 0x0017;
constexpr uint16_t kRcr = 0x0019;
constexpr uint16_t kRmsr = 0x001A;
constexpr uint16_t kTmsr = 0x001B;
constexpr uint16_t kCommonEnd = 0x0030;

// Socket n's registers are at kSocketBase + n * kSocketStride + offset.
constexpr int kSockets = 4;
constexpr uint16_t kSocketBase = 0x0400;
constexpr uint16_t kSocketStride = 0x0100;
constexpr uint16_t kSnMr = 0x00;
constexpr uint16_t kSnCr = 0x01;
constexpr uint16_t kSnIr = 0x02;
constexpr uint16_t kSnSr = 0x03;
constexpr uint16_t kSnPort = 0x04;
constexpr uint16_t kSnDhar = 0x06;
constexpr uint16_t kSnDipr = 0x0C;
constexpr uint16_t kSnDport = 0x10;
constexpr uint16_t kSnMssr = 0x12;
constexpr uint16_t kSnTtl = 0x16;
constexpr uint16_t kSnTxFsr = 0x20;
constexpr uint16_t kSnTxRd = 0x22;
constexpr uint16_t kSnTxWr = 0x24;
constexpr uint16_t kSnRxRsr = 0x26;
constexpr uint16_t kSnRxRd = 0x28;
constexpr uint16_t kSnEnd = 0x30;

constexpr uint16_t kTxMemory = 0x4000;
constexpr uint16_t kRxMemory = 0x6000;
constexpr uint16_t kMemorySize = 0x2000;  // each of TX and RX
constexpr uint32_t kAddressSpace = 0x8000;

// The SPI opcodes, the first byte of every frame.
constexpr uint8_t kWriteOpcode = 0xF0;
constexpr uint8_t kReadOpcode = 0x0F;

// MR bits.
constexpr uint8_t kMrReset = 0x80;

// Sn_MR protocols (low nibble).
constexpr uint8_t kModeClosed = 0x00;
constexpr uint8_t kModeTcp = 0x01;
constexpr uint8_t kModeUdp = 0x02;
constexpr uint8_t kModeIpRaw = 0x03;
constexpr uint8_t kModeMacRaw = 0x04;
constexpr uint8_t kModePppoe = 0x05;

// Sn_CR commands.
constexpr uint8_t kOpen = 0x01;
constexpr uint8_t kListen = 0x02;
constexpr uint8_t kConnect = 0x04;
constexpr uint8_t kDiscon = 0x08;
constexpr uint8_t kClose = 0x10;
constexpr uint8_t kSend = 0x20;
constexpr uint8_t kSendMac = 0x21;
constexpr uint8_t kSendKeep = 0x22;
constexpr uint8_t kRecv = 0x40;

// Sn_IR bits.
constexpr uint8_t kIrSendOk = 0x10;
constexpr uint8_t kIrTimeout = 0x08;
constexpr uint8_t kIrRecv = 0x04;
constexpr uint8_t kIrDiscon = 0x02;
constexpr uint8_t kIrCon = 0x01;

// Sn_SR states.
constexpr uint8_t kSockClosed = 0x00;
constexpr uint8_t kSockInit = 0x13;
constexpr uint8_t kSockListen = 0x14;
constexpr uint8_t kSockUdp = 0x22;
constexpr uint8_t kSockIpRaw = 0x32;
constexpr uint8_t kSockMacRaw = 0x42;
constexpr uint8_t kSockPppoe = 0x5F;

// In front of every datagram in RX memory: source address 4, source port 2,
// payload length 2, big endian.
constexpr uint16_t kUdpHeaderSize = 8;
// The largest UDP payload one Ethernet frame carries (1500 - IP 20 - UDP 8).
// The W5100 reassembles no IP fragments, so nothing larger ever arrives.
constexpr size_t kMaxUdpPayload = 1472;

}  // namespace w5100

using Ipv4 = std::array<uint8_t, 4>;

// A datagram the firmware sent: from which socket and port, to which address
// and port the registers named, and when the SEND command was given.
struct SentDatagram {
  int socket = 0;
  uint16_t source_port = 0;
  Ipv4 destination_address{};
  uint16_t destination_port = 0;
  std::string payload;
  uint64_t command_ns = 0;
};

// The chip's own address as the firmware configured it.
struct NetworkSettings {
  Ipv4 address{};
  Ipv4 mask{};
  Ipv4 gateway{};
  std::array<uint8_t, 6> mac{};
  bool operator==(const NetworkSettings&) const = default;
};

class W5100 {
 public:
  W5100() { Reset(); }

  // The chip as after power-up or a pulse on its reset pin, which the shield
  // ties to the board's: every register and both memories at their reset
  // values, every socket closed, nothing in flight.
  void Reset();

  // The chip select, active low: true while the firmware holds it low.  A
  // frame starts afresh each time it goes low, and a frame cut short by it
  // going high is dropped.
  void Select(bool selected);
  bool selected() const { return selected_; }

  // One byte of SPI: the byte the firmware shifts out (MOSI) in, the byte the
  // chip shifts back (MISO) out.  While not selected the chip takes no part
  // and the answer means nothing.
  uint8_t Transfer(uint8_t mosi, uint64_t now_ns);

  // A datagram off the wire for the first socket open in UDP mode, with the
  // sender's address and port for its header.  False when it was dropped, as
  // the chip drops it: no UDP socket, too large for one frame, or no room
  // left in the socket's RX memory.
  bool Deliver(const Ipv4& source, uint16_t source_port, const std::string& payload,
               uint64_t now_ns);

  // Finishes the transmissions whose wire time is over by now_ns.
  void Advance(uint64_t now_ns);
  // The datagrams that have finished going out since the last call.
  std::vector<SentDatagram> TakeSent();

  NetworkSettings settings() const;

  // The whole register and memory space, for tests and diagnostics; reads
  // have no side effects.
  uint8_t Peek(uint16_t address) const;

  // How long a UDP datagram with `payload` bytes occupies a 10 Mbit/s wire:
  // preamble, Ethernet, IP and UDP headers, padding to the minimum frame,
  // checksum and the gap before the next frame.
  static uint64_t WireTimeNs(size_t payload);

 private:
  struct Socket {
    uint8_t state = w5100::kSockClosed;
    uint16_t tx_rd = 0;
    uint16_t rx_wr = 0;
    // Sn_RX_RD as of the last RECV: the firmware's writes to the register
    // count only once it gives RECV.
    uint16_t rx_rd = 0;
    bool sending = false;
    uint64_t send_done_ns = 0;
    uint16_t tx_rd_after_send = 0;  // Sn_TX_WR when SEND was given
    SentDatagram in_flight;
  };

  uint8_t Read(uint16_t address) const;
  void Write(uint16_t address, uint8_t value, uint64_t now_ns);
  void Command(int socket, uint8_t command, uint64_t now_ns);
  void StartSend(int socket, uint64_t now_ns);

  uint16_t Register16(uint16_t address) const;
  void SetRegister16(uint16_t address, uint16_t value);
  static uint16_t SocketRegister(int socket, uint16_t offset) {
    return static_cast<uint16_t>(w5100::kSocketBase + socket * w5100::kSocketStride + offset);
  }
  // Each socket's share of TX or RX memory from TMSR or RMSR: 1, 2, 4 or
  // 8 KB in socket order, and none for a socket once the 8 KB are used up.
  uint16_t BufferSize(uint8_t size_register, int socket) const;
  uint16_t BufferBase(uint8_t size_register, uint16_t memory, int socket) const;
  uint16_t TxFreeSize(int socket) const;

  std::array<uint8_t, w5100::kAddressSpace> space_{};
  std::array<Socket, w5100::kSockets> sockets_;
  std::vector<SentDatagram> sent_;
  bool selected_ = false;
  int frame_index_ = 0;
  std::array<uint8_t, 3> frame_{};
};

}  // namespace avrboard
