// A UART at the wrong speed, as boardsim --baud plays it: frames worked out
// by hand, and for every pair of the dialog's speeds, that nothing the block
// sends reaches the board as a command and nothing the board answers reaches
// the block as a number, however the bytes are cut into writes.
#include "speed_mismatch.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "board_protocol.h"
#include "serial_framer.h"
#include "sim_board.h"

namespace boardsim {
namespace {

constexpr int32_t kDialogSpeeds[] = {9600, 19200, 38400, 115200};

std::string Pin(int pin) {
  char text[3];
  std::snprintf(text, sizeof text, "%02d", pin);
  return text;
}

// Every command the block can send: modes, levels and reads of every pin,
// the PWM pin's selection and every PWM value.
std::vector<std::string> EveryCommand() {
  std::vector<std::string> commands;
  for (int pin = 2; pin <= 19; ++pin) {
    for (const char* tail : {"mi", "mo", "s0", "s1"}) commands.push_back("!" + Pin(pin) + tail);
    commands.push_back("?" + Pin(pin) + "s?");
    if (pin <= 13) commands.push_back("pwm" + Pin(pin));
  }
  for (int value = 0; value <= 1023; ++value) {
    char text[6];
    std::snprintf(text, sizeof text, "w%04d", value);
    commands.push_back(text);
  }
  return commands;
}

// Every reply the firmware sends, line end included.
std::vector<std::string> EveryReply() {
  std::vector<std::string> replies = {"OK", "LOW", "HIGH", "ERR bad pin", "ERR unknown command"};
  for (int value = 0; value <= 1023; ++value) replies.push_back(std::to_string(value));
  for (std::string& reply : replies) reply += "\r\n";
  return replies;
}

// What the block's serial link keeps of a reply: bytes 0 to 13 dropped, up
// to the line feed.
std::string AsTheBlockKeepsIt(const std::string& bytes) {
  std::string kept;
  for (const unsigned char byte : bytes) {
    if (byte == '\n') break;
    if (byte > 13) kept += static_cast<char>(byte);
  }
  return kept;
}

TEST(SpeedMismatchTest, AtTheSameSpeedEveryByteArrivesAsSent) {
  std::string every_byte;
  for (int byte = 0; byte < 256; ++byte) every_byte += static_cast<char>(byte);
  for (const int32_t speed : kDialogSpeeds) {
    EXPECT_EQ(ReadAtOtherSpeed(every_byte, speed, speed), every_byte);
  }
}

TEST(SpeedMismatchTest, FramesWorkedOutBitByBit) {
  // Nine low bits at 9600 are eighteen at 19200: the stop bit is sampled
  // inside them, a framing error, and the line never falls again.
  EXPECT_EQ(ReadAtOtherSpeed(std::string(1, '\0'), 9600, 19200), std::string(1, '\0'));
  // A start bit twelve times too short is over long before the receiver's
  // middle of it: a glitch, no frame at all.
  EXPECT_EQ(ReadAtOtherSpeed("\xFF", 115200, 9600), "");
  // 0x55 alternates every bit.  Read twice as fast, the first frame takes
  // each bit twice (0x66) and misses its stop bit; the next falling edge, at
  // bit 6, starts a frame that ends in the idle line and is read cleanly.
  EXPECT_EQ(ReadAtOtherSpeed("\x55", 19200, 38400), std::string("\x00\xE6", 2));
}

TEST(SpeedMismatchTest, TheFasterEndReadsMoreBytesAndTheSlowerFewer) {
  const std::string command = "!14mi";
  EXPECT_GT(ReadAtOtherSpeed(command, 9600, 115200).size(), command.size());
  EXPECT_LT(ReadAtOtherSpeed(command, 115200, 9600).size(), command.size());
}

TEST(SpeedMismatchTest, AtEveryWrongSpeedTheBoardSeesNoCommandAndTheBlockNoNumber) {
  const std::vector<std::string> commands = EveryCommand();
  const std::vector<std::string> replies = EveryReply();
  std::string whole_run;
  for (const std::string& command : commands) whole_run += command;

  for (const int32_t block_speed : kDialogSpeeds) {
    for (const int32_t board_speed : kDialogSpeeds) {
      if (block_speed == board_speed) continue;
      SCOPED_TRACE("block at " + std::to_string(block_speed) + ", board at " +
                   std::to_string(board_speed));
      // The block's bytes as one write, a write per command and a write per
      // byte: each write starts and ends on an idle line.
      std::vector<std::vector<std::string>> cuts(3);
      cuts[0] = {whole_run};
      cuts[1] = commands;
      for (const char byte : whole_run) cuts[2].push_back(std::string(1, byte));
      for (const auto& writes : cuts) {
        SimBoard pins;
        board::BoardProtocol protocol(pins);
        board::SerialFramer framer;
        int handled = 0;
        for (const std::string& write : writes) {
          for (const char byte : ReadAtOtherSpeed(write, block_speed, board_speed)) {
            if (!framer.Feed(byte, 0)) continue;
            board::Reply reply;
            protocol.Handle(framer.command(), framer.length(), &reply);
            const std::string text(reply.text, reply.length);
            EXPECT_EQ(text.rfind("ERR", 0), 0u)
                << "the board took \"" << framer.command() << "\" and answered " << text;
            ++handled;
          }
        }
        EXPECT_EQ(handled, 0) << "bytes that framed as commands, in writes of " << writes[0].size();
      }

      for (const std::string& reply : replies) {
        const std::string kept =
            AsTheBlockKeepsIt(ReadAtOtherSpeed(reply, board_speed, block_speed));
        EXPECT_EQ(kept.find_first_of("0123456789"), std::string::npos)
            << "\"" << reply.substr(0, reply.size() - 2) << "\" read as \"" << kept << "\"";
      }
    }
  }
}

}  // namespace
}  // namespace boardsim
