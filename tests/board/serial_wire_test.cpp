// The wire between two UARTs at different speeds: at the same speed (or
// within the tolerance) bytes arrive as sent; at any other pair of the
// dialog's speeds no command of the block's reaches the firmware in a form
// it accepts, and no reply of the firmware's reaches the block as one.
#include "serial_wire.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "board_protocol.h"
#include "serial_framer.h"

namespace boardsim {
namespace {

const double kDialogSpeeds[] = {9600, 19200, 38400, 115200};

// What a 16 MHz AVR running the Arduino core programs for each speed: the
// core takes U2X and UBRR = (F_CPU / 4 / baud - 1) / 2.
double FirmwareRate(double baud) {
  const auto ubrr = static_cast<uint16_t>((16000000 / 4 / static_cast<uint32_t>(baud) - 1) / 2);
  return UartBaud(16000000, ubrr, true);
}

class NoPins : public board::BoardPins {
 public:
  void SetPinMode(uint8_t, board::PinMode) override {}
  void WriteDigital(uint8_t, bool) override {}
  bool ReadDigital(uint8_t) override { return true; }
  int16_t ReadAnalog(uint8_t) override { return 512; }
  void WritePwm(uint8_t, uint16_t) override {}
};

// Every command the block sends: pin modes, levels, reads, PWM selection
// and every PWM value.
std::vector<std::string> BlockCommands() {
  std::vector<std::string> commands;
  char text[8];
  for (int pin = 0; pin < 20; ++pin) {
    for (const char* form : {"!%02dmo", "!%02dmi", "!%02ds1", "!%02ds0", "?%02ds?", "pwm%02d"}) {
      std::snprintf(text, sizeof text, form, pin);
      commands.push_back(text);
    }
  }
  for (int value = 0; value <= 1023; ++value) {
    std::snprintf(text, sizeof text, "w%04d", value);
    commands.push_back(text);
  }
  return commands;
}

TEST(SerialWireTest, RatesWithinTheToleranceAgreeAndOthersDoNot) {
  for (double baud : kDialogSpeeds) {
    EXPECT_TRUE(RatesAgree(baud, FirmwareRate(baud))) << baud;
    EXPECT_TRUE(RatesAgree(FirmwareRate(baud), baud)) << baud;
    for (double other : kDialogSpeeds) {
      if (other == baud) continue;
      EXPECT_FALSE(RatesAgree(other, FirmwareRate(baud))) << other << " " << baud;
    }
  }
  EXPECT_NEAR(FirmwareRate(115200), 117647, 1);
  EXPECT_NEAR(UartBaud(16000000, 103, false), 9615.4, 0.1);
  EXPECT_FALSE(RatesAgree(9600, 9600 * 1.05));
  EXPECT_FALSE(RatesAgree(0, 9600)) << "a line with no speed set carries nothing readable";
}

TEST(SerialWireTest, BytesAtMatchingRatesArriveAsSent) {
  std::string every_byte;
  for (int b = 0; b < 256; ++b) every_byte += static_cast<char>(b);
  for (double baud : kDialogSpeeds) {
    const std::vector<ReceivedByte> got = ReceiveBurst(every_byte, baud, FirmwareRate(baud));
    EXPECT_EQ(AsFirmwareReads(got), every_byte) << baud;
    for (const ReceivedByte& r : got) EXPECT_FALSE(r.framing_error) << baud;
    EXPECT_EQ(AsTerminalReads(ReceiveBurst(every_byte, FirmwareRate(baud), baud)), every_byte);
  }
}

TEST(SerialWireTest, FramesApartInTimeAreReadApart) {
  // Two bytes with a long gap, the second sent later than back to back.
  const std::vector<SentFrame> frames = {{'O', 0.0}, {'K', 0.01}};
  const std::vector<ReceivedByte> got = ReceiveFrames(frames, 9600, 9600);
  EXPECT_EQ(got, (std::vector<ReceivedByte>{{'O', false}, {'K', false}}));
}

TEST(SerialWireTest, AFastSenderIsReadAsFewerWrongBytes) {
  // A byte at 115200 lasts 1.2 bit times at 9600: the receiver at 9600
  // reads one frame for several, and those it reads wrong.
  const std::vector<ReceivedByte> got = ReceiveBurst("?14s?", 115200, 9600);
  EXPECT_LT(got.size(), 5u);
  EXPECT_NE(AsFirmwareReads(got), "?14s?");
}

TEST(SerialWireTest, ASlowSenderCostsFramingErrors) {
  // At 9600 into a receiver at 115200 the start bit alone spans the whole
  // of the receiver's frame: it reads 0x00 with its stop bit low.
  const std::vector<ReceivedByte> got = ReceiveBurst("!", 9600, 115200);
  ASSERT_FALSE(got.empty());
  EXPECT_EQ(got.front(), (ReceivedByte{0x00, true}));
}

// The firmware's framer and protocol, as the sketch runs them, fed what
// arrives of every command of the block at every wrong pair of speeds, in
// one stream 10 ms apart (well within the framer's stale limit, so pieces
// of one command may join another's).  No command may be accepted.
TEST(SerialWireTest, NoCommandSentAtAWrongSpeedReachesTheFirmwareWellFormed) {
  const std::vector<std::string> commands = BlockCommands();
  NoPins pins;
  for (double block : kDialogSpeeds) {
    for (double firmware : kDialogSpeeds) {
      if (block == firmware) continue;
      board::BoardProtocol protocol(pins);
      board::Reply reply;
      // With a PWM pin selected a well-formed "w" would be accepted too.
      protocol.Handle("pwm05", 5, &reply);
      ASSERT_EQ(std::string(reply.text, reply.length), "OK");
      board::SerialFramer framer;
      uint32_t now_ms = 0;
      size_t bytes_seen = 0;
      for (const std::string& command : commands) {
        const std::string got =
            AsFirmwareReads(ReceiveBurst(command, block, FirmwareRate(firmware)));
        bytes_seen += got.size();
        for (char byte : got) {
          if (!framer.Feed(byte, now_ms)) continue;
          protocol.Handle(framer.command(), framer.length(), &reply);
          const std::string text(reply.text, reply.length);
          ASSERT_EQ(text.rfind("ERR", 0), 0u)
              << "block at " << block << ", firmware at " << firmware << ": '" << command
              << "' arrived as '" << framer.command() << "', answered " << text;
        }
        now_ms += 10;
      }
      // Something did arrive: the line was not simply silent.
      EXPECT_GT(bytes_seen, 0u) << block << " " << firmware;
    }
  }
}

bool IsValidReplyLine(const std::string& line) {
  if (line == "OK" || line == "HIGH" || line == "LOW") return true;
  if (line.rfind("ERR", 0) == 0) return true;
  if (line.empty() || line.size() > 4) return false;
  for (char c : line) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// Every reply of the firmware's, sent at the firmware's speed, read by a
// terminal at each other speed: no line of what the block reads is a reply.
TEST(SerialWireTest, NoReplySentAtAWrongSpeedReachesTheBlockAsAReply) {
  std::vector<std::string> replies = {"OK",
                                      "HIGH",
                                      "LOW",
                                      "ERR bad pin",
                                      "ERR bad value",
                                      "ERR bad length",
                                      "ERR no pwm pin",
                                      "ERR unknown command"};
  for (int value = 0; value <= 1023; ++value) replies.push_back(std::to_string(value));
  for (double firmware : kDialogSpeeds) {
    for (double block : kDialogSpeeds) {
      if (block == firmware) continue;
      for (const std::string& reply : replies) {
        const std::string got =
            AsTerminalReads(ReceiveBurst(reply + "\r\n", FirmwareRate(firmware), block));
        // The block takes a reply up to its LF; a line without one it never
        // takes at all.
        size_t from = 0;
        for (size_t lf = got.find('\n'); lf != std::string::npos; lf = got.find('\n', from)) {
          std::string line = got.substr(from, lf - from);
          if (!line.empty() && line.back() == '\r') line.pop_back();
          EXPECT_FALSE(IsValidReplyLine(line))
              << "'" << reply << "' from a firmware at " << firmware << " read at " << block
              << " as '" << line << "'";
          from = lf + 1;
        }
        EXPECT_NE(got, reply + "\r\n");
      }
    }
  }
}

}  // namespace
}  // namespace boardsim
