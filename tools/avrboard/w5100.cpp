#include "w5100.h"

#include <algorithm>

namespace avrboard {

using namespace w5100;

namespace {

// Ethernet at 10 Mbit/s: 100 ns a bit.
constexpr uint64_t kNsPerBit = 100;
constexpr size_t kPreamble = 8;  // preamble and start of frame
constexpr size_t kInterFrameGap = 12;
constexpr size_t kEthernetHeader = 14;
constexpr size_t kIpHeader = 20;
constexpr size_t kUdpHeader = 8;
constexpr size_t kFrameCheck = 4;
constexpr size_t kMinimumFrame = 64;

// The reset values the datasheet gives for the registers that are not zero.
constexpr uint16_t kResetRtr = 0x07D0;  // 200 ms in 100 us units
constexpr uint8_t kResetRcr = 0x08;
constexpr uint8_t kResetMemorySizes = 0x55;  // 2 KB for each socket
constexpr uint8_t kResetTtl = 0x80;

bool IsSocketRegister(uint16_t address) {
  return address >= kSocketBase && address < kSocketBase + kSockets * kSocketStride &&
         (address - kSocketBase) % kSocketStride < kSnEnd;
}

}  // namespace

uint64_t W5100::WireTimeNs(size_t payload) {
  const size_t frame =
      std::max(kMinimumFrame, kEthernetHeader + kIpHeader + kUdpHeader + payload + kFrameCheck);
  return (kPreamble + frame + kInterFrameGap) * 8 * kNsPerBit;
}

void W5100::Reset() {
  space_.fill(0);
  SetRegister16(kRtr, kResetRtr);
  space_[kRcr] = kResetRcr;
  space_[kRmsr] = kResetMemorySizes;
  space_[kTmsr] = kResetMemorySizes;
  for (int s = 0; s < kSockets; ++s) {
    space_[SocketRegister(s, kSnTtl)] = kResetTtl;
    std::fill_n(&space_[SocketRegister(s, kSnDhar)], 6, 0xFF);
    sockets_[s] = Socket{};
  }
}

void W5100::Select(bool selected) {
  if (selected != selected_) frame_index_ = 0;
  selected_ = selected;
}

uint8_t W5100::Transfer(uint8_t mosi, uint64_t now_ns) {
  if (!selected_) return 0;
  Advance(now_ns);
  const int index = frame_index_;
  frame_index_ = (frame_index_ + 1) % 4;
  if (index < 3) {
    frame_[index] = mosi;
    // The chip answers 0, 1 and 2 while it takes the opcode and address.
    return static_cast<uint8_t>(index);
  }
  const uint16_t address = static_cast<uint16_t>(frame_[1] << 8 | frame_[2]);
  // Anything but the two opcodes is no frame for a W5100: the W5200's and
  // the W5500's headers start with an address byte, so their probes change
  // nothing here and read back the 3 of a frame's last byte or, past the
  // fourth byte, the 0 of a new frame's first.
  if (frame_[0] == kReadOpcode) return Read(address);
  if (frame_[0] == kWriteOpcode) Write(address, mosi, now_ns);
  return 3;
}

uint16_t W5100::Register16(uint16_t address) const {
  return static_cast<uint16_t>(space_[address] << 8 | space_[address + 1]);
}

void W5100::SetRegister16(uint16_t address, uint16_t value) {
  space_[address] = static_cast<uint8_t>(value >> 8);
  space_[address + 1] = static_cast<uint8_t>(value);
}

uint16_t W5100::BufferSize(uint8_t size_register, int socket) const {
  const uint8_t sizes = space_[size_register];
  uint32_t used = 0;
  for (int s = 0; s <= socket; ++s) {
    const uint32_t size = 1024u << ((sizes >> (2 * s)) & 3);
    if (used + size > kMemorySize) return 0;
    if (s == socket) return static_cast<uint16_t>(size);
    used += size;
  }
  return 0;
}

uint16_t W5100::BufferBase(uint8_t size_register, uint16_t memory, int socket) const {
  uint16_t base = memory;
  for (int s = 0; s < socket; ++s)
    base = static_cast<uint16_t>(base + BufferSize(size_register, s));
  return base;
}

uint16_t W5100::TxFreeSize(int socket) const {
  const uint16_t size = BufferSize(kTmsr, socket);
  const uint16_t pending =
      static_cast<uint16_t>(Register16(SocketRegister(socket, kSnTxWr)) - sockets_[socket].tx_rd);
  // Written past the free size, the firmware has overwritten bytes not yet
  // sent; there is no room left, and the count cannot go below none.
  return pending >= size ? 0 : static_cast<uint16_t>(size - pending);
}

uint8_t W5100::Read(uint16_t address) const {
  if (address >= kAddressSpace) return 0;
  if (address == kIr) {
    uint8_t sockets = 0;
    for (int s = 0; s < kSockets; ++s) {
      if (space_[SocketRegister(s, kSnIr)] != 0) sockets |= static_cast<uint8_t>(1u << s);
    }
    return static_cast<uint8_t>((space_[kIr] & 0xE0) | sockets);
  }
  if (address >= kCommonEnd && address < kSocketBase) return 0;
  if (address >= kSocketBase + kSockets * kSocketStride && address < kTxMemory) return 0;
  if (IsSocketRegister(address)) {
    const int s = (address - kSocketBase) / kSocketStride;
    const uint16_t offset = (address - kSocketBase) % kSocketStride;
    const Socket& socket = sockets_[s];
    // 16-bit registers read one byte a frame, high byte first; the firmware
    // reads them twice until they agree, so no latching is needed.
    switch (offset) {
      case kSnCr:
        return 0;  // every command is taken at once
      case kSnSr:
        return socket.state;
      case kSnTxFsr:
      case kSnTxFsr + 1: {
        const uint16_t free = TxFreeSize(s);
        return static_cast<uint8_t>(offset == kSnTxFsr ? free >> 8 : free);
      }
      case kSnTxRd:
      case kSnTxRd + 1:
        return static_cast<uint8_t>(offset == kSnTxRd ? socket.tx_rd >> 8 : socket.tx_rd);
      case kSnRxRsr:
      case kSnRxRsr + 1: {
        const uint16_t received = static_cast<uint16_t>(socket.rx_wr - socket.rx_rd);
        return static_cast<uint8_t>(offset == kSnRxRsr ? received >> 8 : received);
      }
      default:
        break;
    }
  }
  return space_[address];
}

void W5100::Write(uint16_t address, uint8_t value, uint64_t now_ns) {
  if (address >= kAddressSpace) return;
  if (address == kMr) {
    // The reset bit clears itself once the reset is done, which for the
    // firmware is at once.
    if (value & kMrReset) {
      Reset();
    } else {
      space_[kMr] = value;
    }
    return;
  }
  if (address == kIr) {
    // The socket bits follow Sn_IR; the others clear where written with 1.
    space_[kIr] = static_cast<uint8_t>(space_[kIr] & ~(value & 0xE0));
    return;
  }
  if (address >= kCommonEnd && address < kSocketBase) return;
  if (address >= kSocketBase + kSockets * kSocketStride && address < kTxMemory) return;
  if (IsSocketRegister(address)) {
    const int s = (address - kSocketBase) / kSocketStride;
    const uint16_t offset = (address - kSocketBase) % kSocketStride;
    switch (offset) {
      case kSnCr:
        Command(s, value, now_ns);
        return;
      case kSnIr:
        space_[address] = static_cast<uint8_t>(space_[address] & ~value);
        return;
      case kSnSr:
      case kSnTxFsr:
      case kSnTxFsr + 1:
      case kSnTxRd:
      case kSnTxRd + 1:
      case kSnRxRsr:
      case kSnRxRsr + 1:
        return;  // read only
      default:
        break;
    }
  }
  space_[address] = value;
}

void W5100::Command(int s, uint8_t command, uint64_t now_ns) {
  Socket& socket = sockets_[s];
  uint8_t& interrupts = space_[SocketRegister(s, kSnIr)];
  switch (command) {
    case kOpen: {
      const uint8_t mode = space_[SocketRegister(s, kSnMr)] & 0x0F;
      socket = Socket{};
      SetRegister16(SocketRegister(s, kSnTxWr), 0);
      SetRegister16(SocketRegister(s, kSnRxRd), 0);
      // MACRAW and PPPoE exist on socket 0 only.
      if (mode == kModeTcp) {
        socket.state = kSockInit;
      } else if (mode == kModeUdp) {
        socket.state = kSockUdp;
      } else if (mode == kModeIpRaw) {
        socket.state = kSockIpRaw;
      } else if (mode == kModeMacRaw && s == 0) {
        socket.state = kSockMacRaw;
      } else if (mode == kModePppoe && s == 0) {
        socket.state = kSockPppoe;
      }
      return;
    }
    case kListen:
      if (socket.state == kSockInit) socket.state = kSockListen;
      return;
    case kConnect:
      // TCP carries nothing here: no peer ever answers the SYN, so the
      // connection times out, only without the retries' wait.
      if (socket.state == kSockInit) {
        socket.state = kSockClosed;
        interrupts |= kIrTimeout;
      }
      return;
    case kDiscon:
    case kClose:
      socket.state = kSockClosed;
      socket.sending = false;
      return;
    case kSend:
    case kSendMac:
    case kSendKeep:
      StartSend(s, now_ns);
      return;
    case kRecv:
      socket.rx_rd = Register16(SocketRegister(s, kSnRxRd));
      return;
    default:
      return;  // no such command: ignored
  }
}

void W5100::StartSend(int s, uint64_t now_ns) {
  Socket& socket = sockets_[s];
  const bool carries = socket.state == kSockUdp;
  const bool swallows = socket.state == kSockIpRaw || socket.state == kSockMacRaw;
  // One transmission at a time; the firmware waits for SEND_OK between.
  if ((!carries && !swallows) || socket.sending) return;
  const uint16_t size = BufferSize(kTmsr, s);
  const uint16_t end = Register16(SocketRegister(s, kSnTxWr));
  const uint16_t pending = static_cast<uint16_t>(end - socket.tx_rd);
  // The chip sends what lies between Sn_TX_RD and Sn_TX_WR, read round its
  // share of TX memory; beyond the share's size it has nothing more to read.
  const uint16_t length = std::min(pending, size);
  const uint16_t base = BufferBase(kTmsr, kTxMemory, s);
  SentDatagram& datagram = socket.in_flight;
  datagram = SentDatagram{};
  datagram.socket = s;
  datagram.source_port = Register16(SocketRegister(s, kSnPort));
  std::copy_n(&space_[SocketRegister(s, kSnDipr)], 4, datagram.destination_address.begin());
  datagram.destination_port = Register16(SocketRegister(s, kSnDport));
  datagram.command_ns = now_ns;
  if (size != 0) {
    for (uint16_t i = 0; i < length; ++i) {
      datagram.payload += static_cast<char>(space_[base + ((socket.tx_rd + i) & (size - 1))]);
    }
  }
  socket.sending = true;
  socket.send_done_ns = now_ns + WireTimeNs(length);
  // Once sent, the memory up to the write pointer is free again.
  socket.tx_rd_after_send = end;
  if (!carries) datagram.socket = -1;
}

void W5100::Advance(uint64_t now_ns) {
  for (int s = 0; s < kSockets; ++s) {
    Socket& socket = sockets_[s];
    if (!socket.sending || now_ns < socket.send_done_ns) continue;
    socket.sending = false;
    socket.tx_rd = socket.tx_rd_after_send;
    space_[SocketRegister(s, kSnIr)] |= kIrSendOk;
    // IPRAW and MACRAW frames are taken and dropped: only UDP is carried.
    if (socket.in_flight.socket >= 0) sent_.push_back(std::move(socket.in_flight));
  }
}

std::vector<SentDatagram> W5100::TakeSent() {
  std::vector<SentDatagram> taken;
  taken.swap(sent_);
  return taken;
}

bool W5100::Deliver(const Ipv4& source, uint16_t source_port, const std::string& payload,
                    uint64_t now_ns) {
  Advance(now_ns);
  int s = 0;
  while (s < kSockets && sockets_[s].state != kSockUdp) ++s;
  if (s == kSockets || payload.size() > kMaxUdpPayload) return false;
  Socket& socket = sockets_[s];
  const uint16_t size = BufferSize(kRmsr, s);
  const size_t used = static_cast<uint16_t>(socket.rx_wr - socket.rx_rd);
  const size_t needed = kUdpHeaderSize + payload.size();
  if (size == 0 || used + needed > size) return false;

  std::string stored(source.begin(), source.end());
  stored += static_cast<char>(source_port >> 8);
  stored += static_cast<char>(source_port);
  stored += static_cast<char>(payload.size() >> 8);
  stored += static_cast<char>(payload.size());
  stored += payload;
  const uint16_t base = BufferBase(kRmsr, kRxMemory, s);
  for (size_t i = 0; i < stored.size(); ++i) {
    space_[base + ((socket.rx_wr + i) & (size - 1))] = static_cast<uint8_t>(stored[i]);
  }
  socket.rx_wr = static_cast<uint16_t>(socket.rx_wr + stored.size());
  space_[SocketRegister(s, kSnIr)] |= kIrRecv;
  return true;
}

NetworkSettings W5100::settings() const {
  NetworkSettings settings;
  std::copy_n(&space_[kSipr], 4, settings.address.begin());
  std::copy_n(&space_[kSubr], 4, settings.mask.begin());
  std::copy_n(&space_[kGar], 4, settings.gateway.begin());
  std::copy_n(&space_[kShar], 6, settings.mac.begin());
  return settings;
}

uint8_t W5100::Peek(uint16_t address) const { return Read(address); }

}  // namespace avrboard
