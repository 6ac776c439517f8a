// The sketch's Ethernet variant on the fake core: one datagram per command,
// one reply datagram back to its sender, no line ends.
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
  EXPECT_EQ(Board().serial_baud, 0u) << "the serial port stays free for debugging";
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

}  // namespace
