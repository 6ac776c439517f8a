// The W5100 model driven over its SPI frames the way the Arduino Ethernet
// library drives it, on an injected clock.
#include "w5100.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace avrboard {
namespace {

using namespace w5100;

const Ipv4 kPeer = {127, 0, 0, 1};
constexpr uint16_t kPeerPort = 54321;

// The firmware's side of the bus: one frame per byte, chip select around
// each, as the library does on a W5100.
class Bus {
 public:
  explicit Bus(W5100* chip) : chip_(chip) {}

  // The four answers to one frame.
  std::vector<uint8_t> Frame(std::vector<uint8_t> bytes) {
    chip_->Select(true);
    std::vector<uint8_t> answers;
    for (uint8_t byte : bytes) answers.push_back(chip_->Transfer(byte, now));
    chip_->Select(false);
    return answers;
  }
  void Write(uint16_t address, uint8_t value) {
    Frame({kWriteOpcode, static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address), value});
  }
  uint8_t Read(uint16_t address) {
    return Frame(
        {kReadOpcode, static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address), 0})[3];
  }
  void Write16(uint16_t address, uint16_t value) {
    Write(address, static_cast<uint8_t>(value >> 8));
    Write(address + 1, static_cast<uint8_t>(value));
  }
  uint16_t Read16(uint16_t address) {
    return static_cast<uint16_t>(Read(address) << 8 | Read(address + 1));
  }
  static uint16_t Sn(int socket, uint16_t offset) {
    return static_cast<uint16_t>(kSocketBase + socket * kSocketStride + offset);
  }
  void Command(int socket, uint8_t command) {
    Write(Sn(socket, kSnCr), command);
    EXPECT_EQ(Read(Sn(socket, kSnCr)), 0) << "the command was not taken";
  }
  void OpenUdp(int socket, uint16_t port) {
    Write(Sn(socket, kSnMr), kModeUdp);
    Write16(Sn(socket, kSnPort), port);
    Command(socket, kOpen);
  }

  // What socketRecv does: the bytes at Sn_RX_RD, read in two parts where
  // they wrap, then Sn_RX_RD moved on and RECV.
  std::string Receive(int socket, uint16_t base, uint16_t size, uint16_t length) {
    const uint16_t pointer = Read16(Sn(socket, kSnRxRd));
    std::string bytes;
    for (uint16_t i = 0; i < length; ++i) {
      bytes += static_cast<char>(Read(base + ((pointer + i) & (size - 1))));
    }
    Write16(Sn(socket, kSnRxRd), static_cast<uint16_t>(pointer + length));
    Command(socket, kRecv);
    return bytes;
  }
  // What write_data and socketSendUDP do, up to the SEND.
  void Send(int socket, uint16_t base, uint16_t size, const std::string& payload) {
    const uint16_t pointer = Read16(Sn(socket, kSnTxWr));
    for (size_t i = 0; i < payload.size(); ++i) {
      Write(base + ((pointer + i) & (size - 1)), static_cast<uint8_t>(payload[i]));
    }
    Write16(Sn(socket, kSnTxWr), static_cast<uint16_t>(pointer + payload.size()));
    Command(socket, kSend);
  }

  uint64_t now = 0;

 private:
  W5100* chip_;
};

class W5100Test : public ::testing::Test {
 protected:
  W5100 chip_;
  Bus bus_{&chip_};
};

TEST_F(W5100Test, WriteFrameAnswersItsPositionsAndStoresTheByte) {
  EXPECT_EQ(bus_.Frame({kWriteOpcode, 0x00, kGar, 0xC0}), (std::vector<uint8_t>{0, 1, 2, 3}));
  EXPECT_EQ(chip_.Peek(kGar), 0xC0);
}

TEST_F(W5100Test, ReadFrameAnswersTheByteInItsFourthPlace) {
  bus_.Write(kSipr, 0x7A);
  EXPECT_EQ(bus_.Frame({kReadOpcode, 0x00, kSipr, 0x55}), (std::vector<uint8_t>{0, 1, 2, 0x7A}));
  EXPECT_EQ(chip_.Peek(kSipr), 0x7A) << "a read changed the register";
}

TEST_F(W5100Test, FrameCutShortByChipSelectIsDroppedAndTheNextStartsAfresh) {
  chip_.Select(true);
  chip_.Transfer(kWriteOpcode, 0);
  chip_.Transfer(0x00, 0);
  chip_.Select(false);
  // Had the two bytes counted, this frame's first two bytes would complete
  // a write of 0x00 to address 0xF000.
  bus_.Write(kGar, 0x11);
  EXPECT_EQ(chip_.Peek(kGar), 0x11);
  EXPECT_EQ(chip_.Peek(kGar + 1), 0x00);
}

TEST_F(W5100Test, BytesWhileNotSelectedAreIgnored) {
  for (uint8_t byte : {kWriteOpcode, uint8_t{0x00}, uint8_t{kGar}, uint8_t{0x99}}) {
    chip_.Transfer(byte, 0);
  }
  EXPECT_EQ(chip_.Peek(kGar), 0x00);
  bus_.Write(kGar, 0x22);
  EXPECT_EQ(chip_.Peek(kGar), 0x22);
}

TEST_F(W5100Test, FramesFollowOneAnotherUnderOneChipSelect) {
  chip_.Select(true);
  for (uint8_t byte : {kWriteOpcode, uint8_t{0x00}, uint8_t{kGar}, uint8_t{0x01}, kWriteOpcode,
                       uint8_t{0x00}, uint8_t{kGar + 1}, uint8_t{0x02}}) {
    chip_.Transfer(byte, 0);
  }
  chip_.Select(false);
  EXPECT_EQ(chip_.Peek(kGar), 0x01);
  EXPECT_EQ(chip_.Peek(kGar + 1), 0x02);
}

TEST_F(W5100Test, RegistersStartAtTheirResetValues) {
  EXPECT_EQ(bus_.Read(kMr), 0x00);
  EXPECT_EQ(bus_.Read16(kRtr), 0x07D0);
  EXPECT_EQ(bus_.Read(kRcr), 0x08);
  EXPECT_EQ(bus_.Read(kRmsr), 0x55);
  EXPECT_EQ(bus_.Read(kTmsr), 0x55);
  for (int s = 0; s < kSockets; ++s) {
    EXPECT_EQ(bus_.Read(Bus::Sn(s, kSnSr)), kSockClosed);
    EXPECT_EQ(bus_.Read16(Bus::Sn(s, kSnTxFsr)), 2048);
    EXPECT_EQ(bus_.Read16(Bus::Sn(s, kSnRxRsr)), 0);
  }
}

TEST_F(W5100Test, SoftResetClearsTheConfigurationAndTheResetBit) {
  bus_.Write(kSipr, 10);
  bus_.Write(kRmsr, 0x03);
  bus_.OpenUdp(0, 1600);
  bus_.Write(kMr, kMrReset);
  EXPECT_EQ(bus_.Read(kMr), 0x00);
  EXPECT_EQ(bus_.Read(kSipr), 0x00);
  EXPECT_EQ(bus_.Read(kRmsr), 0x55);
  EXPECT_EQ(bus_.Read(Bus::Sn(0, kSnSr)), kSockClosed);
}

TEST_F(W5100Test, ModeRegisterKeepsItsOtherBits) {
  for (uint8_t mode : {0x10, 0x12, 0x00}) {
    bus_.Write(kMr, mode);
    EXPECT_EQ(bus_.Read(kMr), mode);
  }
}

TEST_F(W5100Test, SettingsAreTheAddressMaskGatewayAndMacWritten) {
  const uint8_t mac[6] = {0xDE, 0xAD, 0xBE, 0xEF, 0x16, 0x00};
  for (int i = 0; i < 6; ++i) bus_.Write(kShar + i, mac[i]);
  const uint8_t address[4] = {10, 0, 0, 50}, mask[4] = {255, 255, 255, 0},
                gateway[4] = {10, 0, 0, 1};
  for (int i = 0; i < 4; ++i) {
    bus_.Write(kSipr + i, address[i]);
    bus_.Write(kSubr + i, mask[i]);
    bus_.Write(kGar + i, gateway[i]);
  }
  const NetworkSettings settings = chip_.settings();
  EXPECT_EQ(settings.address, (Ipv4{10, 0, 0, 50}));
  EXPECT_EQ(settings.mask, (Ipv4{255, 255, 255, 0}));
  EXPECT_EQ(settings.gateway, (Ipv4{10, 0, 0, 1}));
  EXPECT_EQ(settings.mac, (std::array<uint8_t, 6>{0xDE, 0xAD, 0xBE, 0xEF, 0x16, 0x00}));
}

TEST_F(W5100Test, InterruptBitsClearWhereWrittenWithOne) {
  bus_.OpenUdp(0, 1600);
  ASSERT_TRUE(chip_.Deliver(kPeer, kPeerPort, "x", 0));
  EXPECT_EQ(bus_.Read(Bus::Sn(0, kSnIr)), kIrRecv);
  EXPECT_EQ(bus_.Read(kIr) & 0x0F, 0x01) << "IR shows which socket wants attention";
  bus_.Write(Bus::Sn(0, kSnIr), kIrSendOk);
  EXPECT_EQ(bus_.Read(Bus::Sn(0, kSnIr)), kIrRecv);
  bus_.Write(Bus::Sn(0, kSnIr), 0xFF);
  EXPECT_EQ(bus_.Read(Bus::Sn(0, kSnIr)), 0);
  EXPECT_EQ(bus_.Read(kIr) & 0x0F, 0);
}

TEST_F(W5100Test, ChipKeptPointersAndStatusIgnoreWrites) {
  bus_.OpenUdp(0, 1600);
  bus_.Write(Bus::Sn(0, kSnSr), kSockClosed);
  bus_.Write16(Bus::Sn(0, kSnTxFsr), 5);
  bus_.Write16(Bus::Sn(0, kSnTxRd), 0x1234);
  bus_.Write16(Bus::Sn(0, kSnRxRsr), 7);
  EXPECT_EQ(bus_.Read(Bus::Sn(0, kSnSr)), kSockUdp);
  EXPECT_EQ(bus_.Read16(Bus::Sn(0, kSnTxFsr)), 2048);
  EXPECT_EQ(bus_.Read16(Bus::Sn(0, kSnTxRd)), 0);
  EXPECT_EQ(bus_.Read16(Bus::Sn(0, kSnRxRsr)), 0);
}

TEST_F(W5100Test, SocketModesOpenIntoTheirStatesAndCloseAgain) {
  const std::pair<uint8_t, uint8_t> modes[] = {{kModeUdp, kSockUdp},
                                               {kModeTcp, kSockInit},
                                               {kModeIpRaw, kSockIpRaw},
                                               {kModeMacRaw, kSockMacRaw},
                                               {0x0F, kSockClosed}};
  for (auto [mode, state] : modes) {
    bus_.Write(Bus::Sn(0, kSnMr), mode);
    bus_.Command(0, kOpen);
    EXPECT_EQ(bus_.Read(Bus::Sn(0, kSnSr)), state) << "mode " << int{mode};
    bus_.Command(0, kClose);
    EXPECT_EQ(bus_.Read(Bus::Sn(0, kSnSr)), kSockClosed);
  }
  // MACRAW belongs to socket 0 alone.
  bus_.Write(Bus::Sn(1, kSnMr), kModeMacRaw);
  bus_.Command(1, kOpen);
  EXPECT_EQ(bus_.Read(Bus::Sn(1, kSnSr)), kSockClosed);
}

TEST_F(W5100Test, TcpConnectTimesOutForWantOfAPeer) {
  bus_.Write(Bus::Sn(0, kSnMr), kModeTcp);
  bus_.Command(0, kOpen);
  bus_.Command(0, kConnect);
  EXPECT_EQ(bus_.Read(Bus::Sn(0, kSnSr)), kSockClosed);
  EXPECT_EQ(bus_.Read(Bus::Sn(0, kSnIr)) & kIrTimeout, kIrTimeout);
}

// The library tries a W5200 and then a W5500 before a W5100, each with the
// other chip's framing.  A W5100 must fail both probes and come out of them
// as it went in.
TEST_F(W5100Test, W5200AndW5500ProbesFailAndChangeNothing) {
  bus_.Write(kMr, 0x10);
  bus_.Write(kGar, 0xC0);

  // W5200: address, then 0x80 | length, then the data, under one select.
  auto w5200_write = [&](uint16_t address, uint8_t value) {
    bus_.Frame(
        {static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address), 0x80, 0x01, value});
  };
  auto w5200_read = [&](uint16_t address) {
    return bus_.Frame(
        {static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address), 0x00, 0x01, 0x00})[4];
  };
  w5200_write(kMr, kMrReset);
  w5200_write(kMr, 0x08);
  EXPECT_NE(w5200_read(kMr), 0x08) << "taken for a W5200";
  EXPECT_NE(w5200_read(0x001F), 3) << "VERSIONR of a W5200";

  // W5500: address, then a control byte, then the data.
  auto w5500_write = [&](uint16_t address, uint8_t value) {
    bus_.Frame({static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address), 0x04, value});
  };
  auto w5500_read = [&](uint16_t address) {
    return bus_.Frame(
        {static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address), 0x00, 0x00})[3];
  };
  w5500_write(kMr, kMrReset);
  EXPECT_NE(w5500_read(kMr), 0x00) << "a W5500's soft reset seemed to complete";
  w5500_write(kMr, 0x08);
  EXPECT_NE(w5500_read(kMr), 0x08) << "taken for a W5500";
  EXPECT_NE(w5500_read(0x0039), 4) << "VERSIONR of a W5500";

  EXPECT_EQ(bus_.Read(kMr), 0x10);
  EXPECT_EQ(bus_.Read(kGar), 0xC0);
}

TEST_F(W5100Test, DatagramLandsBehindItsHeader) {
  bus_.OpenUdp(0, 1600);
  ASSERT_TRUE(chip_.Deliver(kPeer, kPeerPort, "?14s?", 0));
  ASSERT_EQ(bus_.Read16(Bus::Sn(0, kSnRxRsr)), 13);
  const std::string stored = bus_.Receive(0, kRxMemory, 2048, 13);
  EXPECT_EQ(stored, std::string("\x7F\x00\x00\x01\xD4\x31\x00\x05?14s?", 13));
  EXPECT_EQ(bus_.Read16(Bus::Sn(0, kSnRxRsr)), 0);
}

TEST_F(W5100Test, ReceivedSizeShrinksOnlyAtRecv) {
  bus_.OpenUdp(0, 1600);
  ASSERT_TRUE(chip_.Deliver(kPeer, kPeerPort, "abc", 0));
  bus_.Write16(Bus::Sn(0, kSnRxRd), 11);
  EXPECT_EQ(bus_.Read16(Bus::Sn(0, kSnRxRsr)), 11);
  bus_.Command(0, kRecv);
  EXPECT_EQ(bus_.Read16(Bus::Sn(0, kSnRxRsr)), 0);
}

TEST_F(W5100Test, DatagramsGoToTheFirstUdpSocket) {
  EXPECT_FALSE(chip_.Deliver(kPeer, kPeerPort, "none open", 0));
  bus_.Write(Bus::Sn(0, kSnMr), kModeTcp);
  bus_.Command(0, kOpen);
  bus_.OpenUdp(2, 1600);
  ASSERT_TRUE(chip_.Deliver(kPeer, kPeerPort, "x", 0));
  EXPECT_EQ(bus_.Read16(Bus::Sn(0, kSnRxRsr)), 0);
  EXPECT_EQ(bus_.Read16(Bus::Sn(2, kSnRxRsr)), 9);
  EXPECT_EQ(bus_.Read(kRxMemory + 2 * 2048 + 8), 'x');
}

TEST_F(W5100Test, OversizedDatagramsAndOverflowAreDroppedWhole) {
  bus_.OpenUdp(0, 1600);
  EXPECT_FALSE(chip_.Deliver(kPeer, kPeerPort, std::string(kMaxUdpPayload + 1, 'x'), 0));
  EXPECT_EQ(bus_.Read16(Bus::Sn(0, kSnRxRsr)), 0);
  // 2048 bytes hold one 1472-byte datagram and 8 + 500 more, not 8 + 600.
  ASSERT_TRUE(chip_.Deliver(kPeer, kPeerPort, std::string(kMaxUdpPayload, 'a'), 0));
  EXPECT_FALSE(chip_.Deliver(kPeer, kPeerPort, std::string(600, 'b'), 0));
  ASSERT_TRUE(chip_.Deliver(kPeer, kPeerPort, std::string(2048 - 1480 - 8, 'c'), 0));
  EXPECT_EQ(bus_.Read16(Bus::Sn(0, kSnRxRsr)), 2048);
  EXPECT_FALSE(chip_.Deliver(kPeer, kPeerPort, "", 0));
  // Once read, the room is there again.
  bus_.Receive(0, kRxMemory, 2048, 1480);
  EXPECT_TRUE(chip_.Deliver(kPeer, kPeerPort, std::string(600, 'd'), 0));
}

TEST_F(W5100Test, SendIsDoneAfterItsWireTime) {
  bus_.OpenUdp(0, 1600);
  bus_.Write(Bus::Sn(0, kSnDipr), 127);
  bus_.Write(Bus::Sn(0, kSnDipr) + 3, 1);
  bus_.Write16(Bus::Sn(0, kSnDport), kPeerPort);
  bus_.now = 1'000'000;
  bus_.Send(0, kTxMemory, 2048, "OK");
  // A 2-byte datagram is a minimum frame: 8 + 64 + 12 bytes at 100 ns a bit.
  const uint64_t wire_ns = (8 + 64 + 12) * 8 * 100;
  ASSERT_EQ(W5100::WireTimeNs(2), wire_ns);
  bus_.now += wire_ns - 100;
  EXPECT_EQ(bus_.Read(Bus::Sn(0, kSnIr)) & kIrSendOk, 0);
  EXPECT_EQ(bus_.Read16(Bus::Sn(0, kSnTxFsr)), 2046);
  EXPECT_TRUE(chip_.TakeSent().empty());
  bus_.now += 100;
  EXPECT_EQ(bus_.Read(Bus::Sn(0, kSnIr)) & kIrSendOk, kIrSendOk);
  EXPECT_EQ(bus_.Read16(Bus::Sn(0, kSnTxFsr)), 2048);
  EXPECT_EQ(bus_.Read16(Bus::Sn(0, kSnTxRd)), 2);
  const std::vector<SentDatagram> sent = chip_.TakeSent();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].payload, "OK");
  EXPECT_EQ(sent[0].destination_address, (Ipv4{127, 0, 0, 1}));
  EXPECT_EQ(sent[0].destination_port, kPeerPort);
  EXPECT_EQ(sent[0].source_port, 1600);
  EXPECT_EQ(sent[0].command_ns, 1'000'000u);
}

TEST_F(W5100Test, LargerDatagramsTakeLongerOnTheWire) {
  // 1000 bytes + 46 of headers and checksum: no padding.
  EXPECT_EQ(W5100::WireTimeNs(1000), (8 + 1046 + 12) * 8 * 100u);
  EXPECT_GT(W5100::WireTimeNs(1472), W5100::WireTimeNs(1000));
  EXPECT_EQ(W5100::WireTimeNs(0), W5100::WireTimeNs(18)) << "both are padded to 64 bytes";
}

TEST_F(W5100Test, TxMemoryFullSendsWhatTheMemoryHolds) {
  bus_.OpenUdp(0, 1600);
  bus_.Write16(Bus::Sn(0, kSnDport), kPeerPort);
  std::string full(2048, '\0');
  for (size_t i = 0; i < full.size(); ++i) full[i] = static_cast<char>('A' + i % 26);
  const uint16_t size = 2048;
  for (size_t i = 0; i < full.size(); ++i) bus_.Write(kTxMemory + i, full[i]);
  bus_.Write16(Bus::Sn(0, kSnTxWr), size);
  EXPECT_EQ(bus_.Read16(Bus::Sn(0, kSnTxFsr)), 0);
  // Past the free size the pointer runs on, but there is no more room.
  bus_.Write16(Bus::Sn(0, kSnTxWr), size + 10);
  EXPECT_EQ(bus_.Read16(Bus::Sn(0, kSnTxFsr)), 0);
  bus_.Command(0, kSend);
  bus_.now += W5100::WireTimeNs(size);
  EXPECT_EQ(bus_.Read(Bus::Sn(0, kSnIr)) & kIrSendOk, kIrSendOk);
  const std::vector<SentDatagram> sent = chip_.TakeSent();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].payload, full);
  EXPECT_EQ(bus_.Read16(Bus::Sn(0, kSnTxFsr)), 2048);
}

TEST_F(W5100Test, SendOnAClosedSocketGoesNowhere) {
  bus_.Write16(Bus::Sn(0, kSnTxWr), 4);
  bus_.Command(0, kSend);
  bus_.now += 1'000'000;
  EXPECT_EQ(bus_.Read(Bus::Sn(0, kSnIr)), 0);
  EXPECT_TRUE(chip_.TakeSent().empty());
}

// Memory sizes from RMSR and TMSR: each socket's share, where it starts, and
// how its pointers wrap round it.
struct MemoryLayout {
  uint8_t sizes;                  // RMSR and TMSR
  std::array<uint16_t, 4> share;  // bytes per socket
  int socket;                     // the one exercised
};

class W5100MemoryTest : public W5100Test, public ::testing::WithParamInterface<MemoryLayout> {
 protected:
  void SetUp() override {
    bus_.Write(kRmsr, GetParam().sizes);
    bus_.Write(kTmsr, GetParam().sizes);
    // Lower sockets are opened in TCP so that the exercised one is the
    // first in UDP mode.
    for (int s = 0; s < GetParam().socket; ++s) {
      bus_.Write(Bus::Sn(s, kSnMr), kModeTcp);
      bus_.Command(s, kOpen);
    }
    bus_.OpenUdp(GetParam().socket, 1600);
    bus_.Write16(Bus::Sn(GetParam().socket, kSnDport), kPeerPort);
  }
  uint16_t Base(uint16_t memory) const {
    uint16_t base = memory;
    for (int s = 0; s < GetParam().socket; ++s) base += GetParam().share[s];
    return base;
  }
  uint16_t Size() const { return GetParam().share[GetParam().socket]; }
};

TEST_P(W5100MemoryTest, EachSocketGetsItsShare) {
  for (int s = 0; s < kSockets; ++s) {
    if (GetParam().share[s] == 0) continue;
    EXPECT_EQ(bus_.Read16(Bus::Sn(s, kSnTxFsr)), GetParam().share[s]) << "socket " << s;
  }
}

TEST_P(W5100MemoryTest, ReceivedDatagramsWrapRoundTheSocketsRxMemory) {
  const int s = GetParam().socket;
  // Datagrams of an odd size, so that one straddles the end on every lap.
  const size_t payload = 300;
  const int count = 3 * Size() / (kUdpHeaderSize + payload) + 2;
  for (int i = 0; i < count; ++i) {
    const std::string data(payload, static_cast<char>('a' + i % 26));
    ASSERT_TRUE(chip_.Deliver(kPeer, kPeerPort, data, 0)) << "datagram " << i;
    ASSERT_EQ(bus_.Read16(Bus::Sn(s, kSnRxRsr)), kUdpHeaderSize + payload);
    const std::string header = bus_.Receive(s, Base(kRxMemory), Size(), kUdpHeaderSize);
    EXPECT_EQ(header, std::string("\x7F\x00\x00\x01\xD4\x31\x01\x2C", 8)) << "datagram " << i;
    EXPECT_EQ(bus_.Receive(s, Base(kRxMemory), Size(), payload), data) << "datagram " << i;
  }
  EXPECT_GT(bus_.Read16(Bus::Sn(s, kSnRxRd)), 3 * Size()) << "never wrapped";
}

TEST_P(W5100MemoryTest, SentDatagramsWrapRoundTheSocketsTxMemory) {
  const int s = GetParam().socket;
  const size_t payload = 300;
  const int count = 3 * Size() / payload + 2;
  for (int i = 0; i < count; ++i) {
    std::string data(payload, '\0');
    for (size_t j = 0; j < payload; ++j) data[j] = static_cast<char>(i + j);
    bus_.Send(s, Base(kTxMemory), Size(), data);
    bus_.now += W5100::WireTimeNs(payload);
    chip_.Advance(bus_.now);
    const std::vector<SentDatagram> sent = chip_.TakeSent();
    ASSERT_EQ(sent.size(), 1u) << "datagram " << i;
    EXPECT_EQ(sent[0].payload, data) << "datagram " << i;
    bus_.Write(Bus::Sn(s, kSnIr), kIrSendOk);
  }
  EXPECT_EQ(bus_.Read16(Bus::Sn(s, kSnTxFsr)), Size());
}

INSTANTIATE_TEST_SUITE_P(Sizes, W5100MemoryTest,
                         ::testing::Values(MemoryLayout{0x55, {2048, 2048, 2048, 2048}, 0},
                                           MemoryLayout{0x55, {2048, 2048, 2048, 2048}, 3},
                                           MemoryLayout{0x03, {8192, 0, 0, 0}, 0},
                                           MemoryLayout{0x0A, {4096, 4096, 0, 0}, 1},
                                           MemoryLayout{0x06, {4096, 2048, 1024, 1024}, 2}));

}  // namespace
}  // namespace avrboard
