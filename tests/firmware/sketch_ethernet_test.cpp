// The sketch's Ethernet variant on the fake core: one datagram per command,
// one reply datagram back to its sender, no line ends; and the setup
// console on USB, whose settings reach the shield at once and outlive a
// restart.
#include <Arduino.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_board.h"

void setup();
void loop();

namespace {

using Calls = std::vector<std::string>;
using fake_arduino::Board;
using fake_arduino::Datagram;

const IPAddress kFirstPc(10, 0, 0, 2);
const IPAddress kSecondPc(10, 0, 0, 3);

class EthernetSketchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake_arduino::ResetBoard();
    setup();
  }
  void Receive(const std::string& bytes, IPAddress from = kFirstPc, uint16_t port = 5000) {
    Board().udp_input.push_back(Datagram{bytes, from, port});
  }
  // One pass of loop(), and the reply texts it sent.
  std::vector<std::string> Pass() {
    loop();
    std::vector<std::string> texts;
    for (const Datagram& sent : Board().udp_output) texts.push_back(sent.bytes);
    Board().udp_output.clear();
    return texts;
  }
};

// A freshly flashed board answers where a new block sends: the block's
// default address and port.
TEST_F(EthernetSketchTest, ListensWhereANewBlockSends) {
  EXPECT_EQ(Board().udp_port, 1600);
  EXPECT_EQ(Board().mac.size(), 6u);
  EXPECT_TRUE(Board().ip == IPAddress(192, 168, 0, 121)) << "not the block's default address";
  EXPECT_EQ(Board().serial_baud, 9600u) << "the setup console is at a terminal's usual speed";
  EXPECT_EQ(Board().serial_output,
            "arduino-block ethernet 192.168.0.121 port 1600 mac DE:AD:BE:EF:16:00\r\n")
      << "the start line, once";
  EXPECT_EQ(Board().eeprom_writes, 0) << "a blank EEPROM is left blank";
}

TEST_F(EthernetSketchTest, EachReplyGoesBackToItsSender) {
  Board().digital_inputs[7] = HIGH;
  Receive("!03mo", kFirstPc, 5000);
  Receive("?07s?", kSecondPc, 6001);
  loop();
  loop();
  ASSERT_EQ(Board().udp_output.size(), 2u);
  EXPECT_EQ(Board().udp_output[0].bytes, "OK");
  EXPECT_TRUE(Board().udp_output[0].ip == kFirstPc);
  EXPECT_EQ(Board().udp_output[0].port, 5000);
  EXPECT_EQ(Board().udp_output[1].bytes, "HIGH");
  EXPECT_TRUE(Board().udp_output[1].ip == kSecondPc);
  EXPECT_EQ(Board().udp_output[1].port, 6001);
  EXPECT_EQ(Board().calls, (Calls{"pinMode(3,OUTPUT)", "digitalRead(7)"}));
}

TEST_F(EthernetSketchTest, NothingIsSentWithoutADatagram) {
  EXPECT_TRUE(Pass().empty());
  EXPECT_TRUE(Board().calls.empty());
}

TEST_F(EthernetSketchTest, AnalogAndPwmWorkAsOverSerial) {
  Board().analog_inputs[A0 + 3] = 777;
  Receive("?17s?");
  EXPECT_EQ(Pass(), std::vector<std::string>{"777"});
  Receive("pwm09");
  EXPECT_EQ(Pass(), std::vector<std::string>{"OK"});
  Receive("w0800");
  EXPECT_EQ(Pass(), std::vector<std::string>{"OK"});
  EXPECT_EQ(Board().calls, (Calls{"analogRead(17)", "analogWrite(9,200)"}));
}

TEST_F(EthernetSketchTest, DatagramsOfTheWrongSizeAreRefusedWhole) {
  Receive("!03s1\r\n");
  EXPECT_EQ(Pass(), std::vector<std::string>{"OK"}) << "a line end from netcat is forgiven";
  Receive("!03s0!03s1");
  EXPECT_EQ(Pass(), std::vector<std::string>{"ERR bad length"});
  Receive(std::string(600, 'w'));
  EXPECT_EQ(Pass(), std::vector<std::string>{"ERR bad length"});
  // parsePacket reports an empty datagram as size 0, the same as none at
  // all, so it goes unanswered; the block times out on it like on a loss.
  Receive("");
  EXPECT_TRUE(Pass().empty());
  Receive("!03");
  EXPECT_EQ(Pass(), std::vector<std::string>{"ERR bad length"});
  // Nothing of the refused datagrams leaks into the next one.
  Receive("?05s?");
  EXPECT_EQ(Pass(), std::vector<std::string>{"LOW"});
  EXPECT_EQ(Board().calls, (Calls{"digitalWrite(3,HIGH)", "digitalRead(5)"}));
}

class EthernetSetupTest : public EthernetSketchTest {
 protected:
  // Types `line` on USB, runs loop() and returns what the board wrote back.
  std::string Type(const std::string& line) {
    Board().serial_output.clear();
    for (char byte : line) Board().serial_input.push_back(static_cast<uint8_t>(byte));
    loop();
    return Board().serial_output;
  }
  void Restart() {
    fake_arduino::RestartBoard();
    setup();
  }
};

TEST_F(EthernetSetupTest, ANewAddressTakesEffectAtOnceAndAfterARestart) {
  EXPECT_EQ(Type("address 10.0.0.50\r\n"), "address 10.0.0.50 saved\r\n");
  EXPECT_TRUE(Board().ip == IPAddress(10, 0, 0, 50));
  EXPECT_TRUE(Board().gateway == IPAddress(10, 0, 0, 1));
  EXPECT_EQ(Board().ethernet_begins, 1) << "a second begin would reset the chip";
  // The open UDP socket answers on at once.
  Receive("?05s?");
  EXPECT_EQ(Pass(), std::vector<std::string>{"LOW"});

  Restart();
  EXPECT_TRUE(Board().ip == IPAddress(10, 0, 0, 50)) << "the address was not kept in EEPROM";
  EXPECT_EQ(Board().serial_output,
            "arduino-block ethernet 10.0.0.50 port 1600 mac DE:AD:BE:EF:16:00\r\n");
}

TEST_F(EthernetSetupTest, ANewMacReachesTheShield) {
  EXPECT_EQ(Type("mac DE:AD:BE:EF:16:01\n"), "mac DE:AD:BE:EF:16:01 saved\r\n");
  EXPECT_EQ(Board().mac, (std::vector<uint8_t>{0xDE, 0xAD, 0xBE, 0xEF, 0x16, 0x01}));
  Restart();
  EXPECT_EQ(Board().mac, (std::vector<uint8_t>{0xDE, 0xAD, 0xBE, 0xEF, 0x16, 0x01}));
}

TEST_F(EthernetSetupTest, ARefusedAddressChangesNothing) {
  const std::string answer = Type("address 300.1.2.3\r\n");
  EXPECT_EQ(answer.rfind("error: ", 0), 0u) << answer;
  EXPECT_EQ(answer.find("\r\n"), answer.size() - 2) << "one line: " << answer;
  EXPECT_TRUE(Board().ip == IPAddress(192, 168, 0, 121));
  EXPECT_EQ(Board().eeprom_writes, 0);
}

TEST_F(EthernetSetupTest, ResetGoesBackToTheDefaults) {
  Type("address 10.0.0.50\n");
  Type("reset\n");
  EXPECT_TRUE(Board().ip == IPAddress(192, 168, 0, 121));
  Restart();
  EXPECT_TRUE(Board().ip == IPAddress(192, 168, 0, 121));
}

TEST_F(EthernetSetupTest, ADamagedRecordBringsUpTheDefaults) {
  Type("address 10.0.0.50\n");
  Board().eeprom[4] ^= 0x40;
  Restart();
  EXPECT_TRUE(Board().ip == IPAddress(192, 168, 0, 121));
}

// Setup traffic and the block's datagrams share one loop() and do not get
// in each other's way.
TEST_F(EthernetSetupTest, DatagramsAreAnsweredWhileAPersonTypes) {
  Board().serial_input.push_back('a');
  Board().serial_input.push_back('d');
  Receive("!03s1");
  EXPECT_EQ(Pass(), std::vector<std::string>{"OK"});
  EXPECT_EQ(Type("dress\n"), "address 192.168.0.121\r\n");
}

}  // namespace
