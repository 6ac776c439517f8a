// `blockhost board-address`: shows or sets the address of a board that runs
// the Ethernet image, over the board's USB port.  It talks to the image's
// setup console (firmware/arduino_block/src/setup_console.h), whose answers
// it passes on as the board said them.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "board_port.h"
#include "check_outcome.h"
#include "commands.h"
#include "errors.h"
#include "held_port.h"
#include "simulated_board.h"
#include "tool_api/port_names.h"
#include "tool_command_line.h"

namespace blockhost {
namespace {

// What the Ethernet image prints at start and answers to "show".
constexpr char kStartLinePrefix[] = "arduino-block ethernet ";
// The console answers at once; a line of 90 characters takes 0.1 s at 9600
// baud.
constexpr milliseconds kAnswerWait{1000};
// A serial-protocol read of A0, which changes nothing on the board: the
// serial image answers it with a number, the Ethernet console with an
// error.
constexpr char kSerialImageProbe[] = "?14s?";

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

using Clock = std::chrono::steady_clock;

milliseconds Left(Clock::time_point deadline) {
  return std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
}

// The board's answer to one console command, start lines of a board that
// restarted in between skipped.  *restarted tells that one came.  A board
// that restarts over and over gets no more than the one wait.
std::optional<std::string> Answer(BoardPort& port, bool* restarted) {
  const Clock::time_point deadline = Clock::now() + kAnswerWait;
  while (std::optional<std::string> line = port.ReadLine(Left(deadline))) {
    if (!StartsWith(*line, kStartLinePrefix)) return line;
    *restarted = true;
  }
  return std::nullopt;
}

// What the serial image answers to the probe: a level, a count or an
// "ERR ..." of its protocol.
bool IsSerialReply(const std::string& reply) {
  if (reply == "LOW" || reply == "HIGH" || StartsWith(reply, "ERR ")) return true;
  return !reply.empty() && reply.find_first_not_of("0123456789") == std::string::npos;
}

// An answer that is neither the expected one nor the console's "error: ".
int ReportForeignAnswer(const std::string& where, const std::string& answer) {
  fprintf(stderr,
          "blockhost: the board on %s answered '%s', which the Ethernet image's setup\n"
          "  console never says: it runs other firmware; flash the Ethernet image\n",
          where.c_str(), answer.c_str());
  return kExitNotEthernetImage;
}

class Session {
 public:
  Session(BoardPort& port, const CommandLine& line, std::string where)
      : port_(port), line_(line), where_(std::move(where)) {}

  // Sends `command` and returns the board's answer or the exit status of a
  // failure, after saying what went wrong.
  std::optional<std::string> Ask(const std::string& command, int* status) {
    // The empty line first ends whatever a person left half typed; the
    // console ignores empty lines.
    for (int attempt = 0; attempt < 2; ++attempt) {
      if (!port_.WriteLine("") || !port_.WriteLine(command)) {
        fprintf(stderr, "blockhost: cannot write to %s\n", where_.c_str());
        *status = kExitNoAnswer;
        return std::nullopt;
      }
      bool restarted = false;
      std::optional<std::string> answer = Answer(port_, &restarted);
      if (answer) return answer;
      // A board that restarted late, after the command went out, lost it;
      // it is sent once more.
      if (!restarted) break;
      seen_start_ = true;
    }
    *status = seen_start_ ? ReportSilentConsole() : ReportSilence();
    return std::nullopt;
  }

  // The board printed its start line: it runs the Ethernet image.
  void NoteStarted() { seen_start_ = true; }

 private:
  int ReportSilentConsole() {
    fprintf(stderr,
            "blockhost: the board on %s started the Ethernet image but did not answer;\n"
            "  try again, or type the command in a terminal at %d baud\n",
            where_.c_str(), line_.baud_rate);
    return kExitNoAnswer;
  }

  // No start line and no answer: a board with the serial image answers a
  // command of its own protocol, a board with no firmware of ours nothing.
  int ReportSilence() {
    bool restarted = false;
    std::optional<std::string> reply;
    if (port_.WriteLine(kSerialImageProbe)) reply = Answer(port_, &restarted);
    if (reply && !IsSerialReply(*reply)) {
      // The console woke up after all ("error: unknown command"), or other
      // firmware talks: neither is the serial image.
      if (StartsWith(*reply, "error: ")) return ReportSilentConsole();
      return ReportForeignAnswer(where_, *reply);
    }
    if (reply) {
      fprintf(stderr,
              "blockhost: the board on %s runs the serial image of the firmware, not the\n"
              "  Ethernet one (it answered '%s' to a serial command); flash\n"
              "  uno/arduino_block-ethernet.hex or mega2560/arduino_block-ethernet.hex\n",
              where_.c_str(), reply->c_str());
      return kExitNotEthernetImage;
    }
    fprintf(stderr,
            "blockhost: no answer from the board on %s within %d ms\n"
            "  - is it the board? `blockhost ports` lists the ports and marks likely boards\n"
            "  - does it run the Ethernet image of the firmware? docs/firmware.md says how to\n"
            "    flash it\n"
            "  - the setup console runs at 9600 baud; --baud must match it\n",
            where_.c_str(), line_.restart_wait_ms + static_cast<int>(kAnswerWait.count()));
    return kExitNoAnswer;
  }

  BoardPort& port_;
  const CommandLine& line_;
  std::string where_;
  bool seen_start_ = false;
};

// Sends one command and checks its answer starts with `expected`.
int Run(Session& session, const std::string& where, const std::string& command,
        const std::string& expected, std::string* answer_out) {
  int status = kExitOk;
  std::optional<std::string> answer = session.Ask(command, &status);
  if (!answer) return status;
  if (StartsWith(*answer, "error: ")) {
    printf("board: %s\n", answer->c_str());
    fprintf(stderr, "blockhost: the board refused '%s'; its settings are unchanged\n",
            command.c_str());
    return kExitBoardRefused;
  }
  if (!StartsWith(*answer, expected)) return ReportForeignAnswer(where, *answer);
  printf("board: %s\n", answer->c_str());
  *answer_out = *answer;
  return kExitOk;
}

// The board's port, open; nothing, after saying why, when it cannot be
// used (kExitPortUnusable).
std::optional<BoardPort> OpenBoardPort(const CommandLine& line, const std::string& device,
                                       const std::string& where) {
  // A speed the console does not run at garbles every line, which would
  // read as a board with other firmware.
  if (line.baud_rate != 9600) {
    printf("note: the Ethernet image's setup console runs at 9600 baud, not %d\n", line.baud_rate);
  }
  // A program that holds the port without locking it would share the line
  // and take some of the board's answers.
  if (std::optional<std::string> held = HeldPortText(*line.com_port)) {
    fprintf(stderr, "blockhost: %s\n", held->c_str());
    return std::nullopt;
  }
  std::string error;
  std::optional<BoardPort> port = BoardPort::Open(device, line.baud_rate, &error);
  if (!port) {
    fprintf(stderr,
            "blockhost: cannot open %s: %s\n"
            "  (is a running block, the Arduino IDE's serial monitor or another terminal using "
            "it?)\n",
            where.c_str(), error.c_str());
  }
  return port;
}

// The start line names the image; a board that does not restart on open (a
// Mega with the reset jumper cut, a board opened twice) sends none, and is
// asked all the same.  Other lines before it (what the sketch said before
// the restart, a bootloader's noise) are dropped; a board that never stops
// talking gets no more than the one wait.
void AwaitStartLine(BoardPort& port, const CommandLine& line, Session* session) {
  const Clock::time_point deadline = Clock::now() + milliseconds(line.restart_wait_ms);
  while (std::optional<std::string> started = port.ReadLine(Left(deadline))) {
    if (StartsWith(*started, kStartLinePrefix)) {
      printf("board: %s\n", started->c_str());
      session->NoteStarted();
      return;
    }
  }
}

// avrboard's Ethernet board answers on the loopback bridge at a port of
// avrboard's, whatever its address: that is what the block must be given.
void TellSimulatedBoard(const SimulatedBoard& board, const std::string& address, bool setting) {
  printf(
      "the board %s %s, but it is avrboard's simulated board (pid %d), which answers at "
      "127.0.0.1",
      setting ? "now holds" : "holds", address.c_str(), board.pid);
  if (board.udp_port) {
    printf(
        " UDP port %d whatever its address; to make the block meet it: blockhost set --project "
        "F address=127.0.0.1 udpport=%d\n",
        *board.udp_port, *board.udp_port);
  } else {
    printf(
        ", and only when avrboard runs with --ethernet 127.0.0.1:PORT, which this one does "
        "not\n");
  }
}

// Asks for the address, setting it first if the command line gives one, and
// sets the MAC address if it gives that.
int ExchangeAddress(const CommandLine& line, const std::string& device, const std::string& where,
                    Session& session) {
  std::string answer;
  const bool setting = !line.board_address.empty();
  const std::string command = setting ? "address " + line.board_address : "address";
  if (int status = Run(session, where, command, "address ", &answer)) return status;
  // The address as the board now holds it ("address A.B.C.D[ saved]"),
  // which is how the block must name it.
  constexpr char kSaved[] = " saved";
  std::string address = answer.substr(8);
  const bool saved = address.size() > 6 && address.compare(address.size() - 6, 6, kSaved) == 0;
  if (saved) address.erase(address.size() - 6);
  if (setting != saved) return ReportForeignAnswer(where, answer);
  if (!line.board_mac.empty()) {
    if (int status = Run(session, where, "mac " + line.board_mac, "mac ", &answer)) return status;
  }
  if (std::optional<SimulatedBoard> simulated = SimulatedBoardBehind(device)) {
    TellSimulatedBoard(*simulated, address, setting);
  } else if (!setting) {
    printf(
        "the board answers UDP port 1600 at %s; to make a block send there: blockhost set "
        "--project F address=%s\n",
        address.c_str(), address.c_str());
  } else {
    printf(
        "the board now answers UDP port 1600 at %s; to make the block meet it: blockhost set "
        "--project F address=%s\n",
        address.c_str(), address.c_str());
  }
  return kExitOk;
}

}  // namespace

int BoardAddressCommand(const CommandLine& line) {
  const int32_t com_port = *line.com_port;
  const std::string device = DeviceOrSayNone(com_port);
  if (device.empty()) return kExitPortUnusable;
  const std::string where = PortWithDevice(com_port);
  std::optional<BoardPort> port = OpenBoardPort(line, device, where);
  if (!port) return kExitPortUnusable;
  printf("waiting up to %d ms for the board on %s to start (an Uno restarts when its port opens)\n",
         line.restart_wait_ms, where.c_str());
  fflush(stdout);
  Session session(*port, line, where);
  AwaitStartLine(*port, line, &session);
  return ExchangeAddress(line, device, where, session);
}

namespace {

// A value sent to the board as part of one line: the board judges its
// form, but a space or a control character would change the line itself.
std::string BoardValue(const std::string& option, const std::string& text) {
  if (text.empty()) tool_cli::Refuse(option, "give a value");
  for (unsigned char c : text) {
    if (c <= ' ' || c >= 0x7F) {
      tool_cli::Refuse(option, "'" + text + "' has a space or a control character");
    }
  }
  return text;
}

void AddBoardAddressOptions(CLI::App* command, CommandLine* line) {
  AddBoardPortOption(command, line);
  tool_cli::AddValueOption(command, "--baud", "B",
                           "the speed of the port (default 9600, the\nsetup console's)",
                           [line](const std::string& text) {
                             line->baud_rate = ParseNumberOption("--baud", text, 1, INT32_MAX);
                           });
  tool_cli::AddValueOption(
      command, "--wait-ms", "MS",
      "how long to wait for the board to restart\nafter the port opens (default 4000)",
      [line](const std::string& text) {
        line->restart_wait_ms = ParseNumberOption("--wait-ms", text, 0, 60000);
      });
  tool_cli::AddValueOption(
      command, "--mac", "MAC", "also set the board's MAC address",
      [line](const std::string& text) { line->board_mac = BoardValue("--mac", text); });
  tool_cli::AddValueOption(
      command, "address", "ADDRESS",
      "the new address, e.g. 10.0.0.50; without it\nthe address is shown",
      [line](const std::string& text) { line->board_address = BoardValue("ADDRESS", text); });
  command->footer(
      "exit status: 0 done, 1 bad arguments, 3 no answer, 5 the port cannot be opened,\n"
      "  6 the board refused the value, 7 the board does not run the Ethernet image");
}

}  // namespace

const Command kBoardAddressCommand = {
    "board-address",
    "usage: blockhost board-address --comport N [--baud B] [--wait-ms MS] [--mac MAC]\n"
    "                               [ADDRESS]\n",
    "show or set (and save) the address of a\n"
    "board with the Ethernet image, over USB",
    AddBoardAddressOptions, BoardAddressCommand};

}  // namespace blockhost
