// `blockhost check`: is the board there, and does it speak our language?
// One run that reads A0, through the exports only, exactly as a host would
// make it; nothing else on the board is driven or reconfigured.  Where the
// board answers, the run's steps time the round trip, and the step of the
// project's own pins follows from it.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "block_instance.h"
#include "block_library.h"
#include "block_settings.h"
#include "check_outcome.h"
#include "check_timing.h"
#include "commands.h"
#include "errors.h"
#include "held_port.h"
#include "library_call.h"
#include "link_text.h"
#include "local_address.h"
#include "project_file.h"
#include "tool_api/link_waits.h"
#include "tool_api/local_port.h"
#include "tool_api/port_holders.h"
#include "tool_api/port_list.h"
#include "tool_api/port_names.h"
#include "tool_api/setting_rules.h"
#include "tool_command_line.h"
#include "value_array.h"

namespace blockhost {
namespace {

using Clock = std::chrono::steady_clock;
using hostmodel::ValueArray;

constexpr size_t kAnalogOutputA0 = kDigitalPins;
// The read of A0, whose reply is the one the check examines.
constexpr std::string_view kReadA0Command = "?14s?";
// The pause after opening the port that every run of a serial link makes,
// so that a board's reset ends.
constexpr int kOpenPauseSeconds = arduino::kSerialOpenPauseMs / 1000;
// The block's own UDP port, which it binds on every address of this
// machine for the replies.
constexpr int32_t kBlockUdpPort = arduino::kLocalPort;

// The timed reads of a check: a few dozen, or as many as two seconds take
// with a slow link, and at least one.
constexpr int kTimedReads = 40;
constexpr double kTimedReadsMs = 2000.0;

// What one run made of A0.
struct A0Reading {
  std::optional<double> value;  // the number the board answered
  std::string reply;            // otherwise what came instead; empty for nothing
  std::vector<double> took_ms;  // each timed step's round trip, for a number
};

void PrintUnopenedHints(const BlockSettings& s) {
  if (std::optional<std::string> held = HeldPortText(s.com_port)) {
    printf("%s\n", held->c_str());
    return;
  }
  printf(
      "COM%d cannot be opened: no such port, or another program holds it\n"
      "  - `blockhost ports` lists the ports by COM number\n"
      "  - close the Arduino IDE's serial monitor and other programs using the port\n",
      s.com_port);
}

void PrintNoAnswerHints(const BlockSettings& s) {
  if (s.interface_kind == arduino::kInterfaceEthernet) {
    printf(
        "no answer from the board within the block's wait (100 ms over UDP)\n"
        "  - is %s the board's address? `blockhost board-address --comport N` shows it\n"
        "    over USB; the board and this computer must be on the same network\n"
        "  - is the UDP port %d? The Ethernet image answers on 1600\n"
        "  - a firewall on this computer may drop the replies; they come to UDP port 1600\n",
        AddressText(s).c_str(), s.udp_port);
    return;
  }
  printf(
      "no answer from the board within the block's wait (1000 ms over serial)\n"
      "  - is COM%d the board? `blockhost ports` lists the ports and marks likely boards\n"
      "  - does the board run the Arduino block firmware? A new board holds only its\n"
      "    bootloader: `blockhost flash --comport %d --baud %d` writes the image and checks\n"
      "    the board again (--board uno, mega2560, nano or nano-old where the port\n"
      "    does not tell)\n"
      "  - does the speed match? The board must run the image for %d baud,\n"
      "    firmware/<board>/arduino_block-%d.hex (kSerialBaud %d in a sketch built by hand)\n",
      s.com_port, s.com_port, s.baud_rate, s.baud_rate, s.baud_rate, s.baud_rate);
}

void PrintBadAnswerHints(const BlockSettings& s, const std::string& reply) {
  printf("the board answered %s, which is no number\n", EscapedReply(reply).c_str());
  if (s.interface_kind == arduino::kInterfaceEthernet) {
    printf(
        "  - another program or firmware answers at %s, UDP port %d; upload\n"
        "    firmware/arduino_block to the board\n",
        AddressText(s).c_str(), s.udp_port);
    return;
  }
  printf(
      "  - the speed may not match: the board must run the image for %d baud,\n"
      "    firmware/<board>/arduino_block-%d.hex (kSerialBaud %d in a sketch built by\n"
      "    hand); a wrong speed garbles every byte\n"
      "  - or the board runs another firmware; upload firmware/arduino_block\n",
      s.baud_rate, s.baud_rate, s.baud_rate);
}

// Whether `reply` to the read is that very command, sent to this machine's
// UDP port 1600: the block has that port itself, so no board and no other
// program can listen there, and the datagram came back to the block.
bool IsOwnEcho(const BlockSettings& s, const std::string& reply) {
  // The empty address is this computer too, by its own host name.
  return s.interface_kind == arduino::kInterfaceEthernet && s.udp_port == kBlockUdpPort &&
         reply == kReadA0Command && (s.address.empty() || IsAddressOfThisMachine(s.address));
}

void PrintOwnEchoHints(const BlockSettings& s) {
  printf(
      "nothing but the block itself listens at %s, UDP port %d: its own command %s came back\n"
      "  - the block takes UDP port %d on this computer for the board's replies, so no board\n"
      "    or other program can answer there; give the board's own address, or the port an\n"
      "    emulated board listens on (--udpport)\n",
      AddressText(s).c_str(), s.udp_port, EscapedReply(kReadA0Command).c_str(), kBlockUdpPort);
}

// One run with the settings the block has, as a host makes it, with up to
// `reads` timed steps.  Errors other than a reply that is no number leave as
// LibraryError.
A0Reading ReadA0(const BlockExports& e, BlockInstance* block, int reads = 1) {
  ValueArray inputs = ValueArray::Inputs();
  ValueArray outputs = ValueArray::Outputs();
  A0Reading reading;
  std::optional<std::string> failure;
  try {
    // InitSimulationDLL already reads A0 once (after A0's mode command);
    // the timed step is the second read, which costs one round trip.
    // Each timed step after it costs one round trip.
    CallLibrary([&] { e.InitSimulationDLL(block->record(), inputs.data(), outputs.data()); });
    const Clock::time_point first = Clock::now();
    for (int read = 0; read < reads; ++read) {
      const Clock::time_point start = Clock::now();
      CallLibrary([&] { e.SimulateDLL(Lead12{}, block->record(), inputs.data(), outputs.data()); });
      const Clock::time_point end = Clock::now();
      reading.took_ms.push_back(std::chrono::duration<double, std::milli>(end - start).count());
      if (std::chrono::duration<double, std::milli>(end - first).count() > kTimedReadsMs) break;
    }
  } catch (const LibraryError& error) {
    failure = error.what();
  }
  try {
    CallLibrary([&] { e.EndSimulationDLL2(block->record()); });
  } catch (const LibraryError& end_error) {
    fprintf(stderr, "blockhost: library error while ending the run: %s\n", end_error.what());
  }
  if (!failure) {
    reading.value = static_cast<double>(outputs[kAnalogOutputA0]);
    return reading;
  }
  std::optional<std::string> reply = ReplyOfConversionError(*failure);
  if (!reply) throw LibraryError(*failure);  // an address the link cannot use, say
  reading.reply = std::move(*reply);
  return reading;
}

// A serial board that gave no number at the block's speed may run at another
// of the dialog's: the speed at which it answers A0 with a reading, trying
// each in turn with a run of its own, pause after opening included.
std::optional<int32_t> FindBoardSpeed(const BlockExports& e, BlockInstance* block,
                                      BlockSettings settings) {
  printf("no number at %d baud; trying the dialog's other speeds, each after the %d s pause\n",
         settings.baud_rate, kOpenPauseSeconds);
  for (const int32_t baud : OtherDialogSpeeds(settings.baud_rate)) {
    printf("trying %d baud ... ", baud);
    fflush(stdout);
    settings.baud_rate = baud;
    ApplySettings(settings, block);
    const A0Reading reading = ReadA0(e, block);
    if (reading.value) {
      printf("answered %.10g%s\n", *reading.value,
             IsAnalogReading(*reading.value) ? "" : ", which no analog input reads");
      if (IsAnalogReading(*reading.value)) return baud;
    } else if (reading.reply.empty()) {
      printf("no answer\n");
    } else {
      printf("answered %s\n", EscapedReply(reading.reply).c_str());
    }
  }
  return std::nullopt;
}

// The USB IDs of the checked COM port, where it is a USB device.
std::optional<std::pair<uint16_t, uint16_t>> UsbIdsOf(int32_t com_port) {
  for (const arduino::SerialPortInfo& port : arduino::ListSerialPorts()) {
    if (port.com_port == com_port && port.usb) {
      return std::make_pair(port.vendor_id, port.product_id);
    }
  }
  return std::nullopt;
}

// The round trips, the step of the project's pins (or of a new block's, for
// a check without a project) that follows, and over USB what the board's
// bridge adds.
void PrintStepRate(const CommandLine& line, const BlockSettings& pins, const BlockSettings& link,
                   const RoundTrips& trips) {
  printf("%s\n", RoundTripText(trips).c_str());
  printf("%s: %s\n", line.project.empty() ? "a new block's pins" : "this project",
         StepRateText(pins, trips).c_str());
  if (!link.OverSerial()) return;
  if (std::optional<std::pair<uint16_t, uint16_t>> ids = UsbIdsOf(link.com_port)) {
    for (const std::string& note : BridgeNotes(ids->first, ids->second)) {
      printf("%s\n", note.c_str());
    }
  }
}

// What makes the block use the board's speed: for a project, the command
// that sets it, as the user would type it.
std::string SpeedMend(const CommandLine& line, int32_t speed) {
  const std::string baud = "baud=" + std::to_string(speed);
  if (line.project.empty()) {
    return "set the dialog's speed to " + std::to_string(speed) +
           ", or `blockhost set --project F " + baud + "` for a project file";
  }
  return "`" + CommandWithProject("set", line) + " " + baud + "` (or the dialog's speed " +
         std::to_string(speed) + ")";
}

}  // namespace

int CheckCommand(const CommandLine& line) {
  BlockLibrary library(LibraryPath(line));
  const BlockExports& e = library.exports();
  BlockInstance block(library);
  if (!line.project.empty()) LoadProject(line.project, library.Name(), &block);
  BlockSettings settings = ReadSettings(&block);
  if (line.com_port) {
    settings.interface_kind = arduino::kInterfaceUsb;
    settings.com_port = *line.com_port;
    settings.baud_rate = line.baud_rate;
  } else if (!line.address.empty()) {
    settings.interface_kind = arduino::kInterfaceEthernet;
    settings.address = line.address;
    settings.udp_port = line.udp_port;
  }
  // The project's link is held to what `set` and the dialog take.
  if (std::optional<std::string> why = LinkRefusal(settings)) {
    throw InputError("the project's link cannot be checked: " + *why);
  }
  // A0 alone, so that the check drives no pin of whatever is wired to the
  // board and changes no pin's mode but A0's, which is an input anyway.
  const BlockSettings project_settings = settings;
  settings.pin_mode.fill(arduino::pmUnused);
  settings.analog_used = {1, 0, 0, 0, 0, 0};
  ApplySettings(settings, &block);
  printf("link: %s\n", CheckedLinkText(settings).c_str());
  fflush(stdout);

  if (CallLibraryFor([&] { return e.CanSimulateDLL(block.record()); }) == 0) {
    PrintUnopenedHints(settings);
    return kExitPortUnusable;
  }

  const A0Reading reading = ReadA0(e, &block, kTimedReads);
  if (reading.value) {
    // Over loopback a round trip takes tens of microseconds.
    const double first_ms = reading.took_ms.front();
    printf(first_ms < 1 ? "board answered %.10g in %.2f ms\n" : "board answered %.10g in %.1f ms\n",
           *reading.value, first_ms);
    PrintStepRate(line, project_settings, settings, SummariseRoundTrips(reading.took_ms));
    return kExitOk;
  }
  if (IsOwnEcho(settings, reading.reply)) {
    PrintOwnEchoHints(settings);
    return kExitNoAnswer;
  }
  if (settings.OverSerial()) {
    if (std::optional<int32_t> found = FindBoardSpeed(e, &block, settings)) {
      printf("the board answers at %d baud, but the block is set to %d: %s\n", *found,
             settings.baud_rate, SpeedMend(line, *found).c_str());
      return kExitWrongSpeed;
    }
  }
  if (reading.reply.empty()) {
    PrintNoAnswerHints(settings);
    return kExitNoAnswer;
  }
  PrintBadAnswerHints(settings, reading.reply);
  return kExitBadAnswer;
}

namespace {

// A value `check` takes for its link: one the dialog could set up.
int32_t ParseLinkNumber(const std::string& option, const std::string& text,
                        std::optional<std::string> (*refusal)(int32_t)) {
  const int32_t value = ParseNumberOption(option, text, INT32_MIN, INT32_MAX);
  if (auto why = refusal(value)) tool_cli::Refuse(option, *why);
  return value;
}

// --comport [--baud] or --address [--udpport], each as the dialog takes it.
void AddLinkOptions(CLI::App* command, CommandLine* line) {
  tool_cli::AddValueOption(command, "--comport", "N", "the board's COM port, 1..100 (3 or COM3)",
                           [line](const std::string& text) {
                             line->com_port = ParseComPortOption("--comport", text, true);
                           });
  tool_cli::AddValueOption(command, "--baud", "B",
                           "the speed of the COM port: 9600 (default),\n"
                           "19200, 38400 or 115200",
                           [line](const std::string& text) {
                             line->baud_rate =
                                 ParseLinkNumber("--baud", text, arduino::BaudRateRefusal);
                           });
  tool_cli::AddValueOption(command, "--address", "A", "the board's address",
                           [line](const std::string& text) {
                             if (text.empty())
                               tool_cli::Refuse("--address", "give the board's address");
                             line->address = text;
                           });
  tool_cli::AddValueOption(command, "--udpport", "P", "the board's UDP port (default 1600)",
                           [line](const std::string& text) {
                             line->udp_port =
                                 ParseLinkNumber("--udpport", text, arduino::UdpPortRefusal);
                           });
}

void AddCheckOptions(CLI::App* command, CommandLine* line) {
  AddLibraryOption(command, line);
  AddProjectOption(command, line);
  AddLinkOptions(command, line);
  command->footer(
      "exit status: 0 the board answered, 1 bad arguments or files, 2 library error,\n"
      "  3 no answer, 4 an answer that is no number, 5 the port cannot be opened,\n"
      "  8 the board answers at another speed");
  // `check` tests one link: the one a project holds, a COM port or an address.
  const CLI::Option* baud = command->get_option("--baud");
  const CLI::Option* udp_port = command->get_option("--udpport");
  command->callback([line, baud, udp_port] {
    const int choices =
        !line->project.empty() + line->com_port.has_value() + !line->address.empty();
    if (choices != 1) tool_cli::Refuse("give exactly one of --project, --comport or --address");
    if (baud->count() > 0 && !line->com_port) tool_cli::Refuse("--baud goes with --comport");
    if (udp_port->count() > 0 && line->address.empty()) {
      tool_cli::Refuse("--udpport goes with --address");
    }
  });
}

}  // namespace

const Command kCheckCommand = {
    "check",
    "usage: blockhost check [--lib PATH] (--project F | --comport N [--baud B]\n"
    "                       | --address A [--udpport P])\n",
    "read A0 as a run would, say whether\n"
    "the board answers, and time its round\n"
    "trip (default speed 9600, default UDP\n"
    "port 1600)",
    AddCheckOptions, CheckCommand};

}  // namespace blockhost
