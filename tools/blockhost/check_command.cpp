// `blockhost check`: is the board there, and does it speak our language?
// One run of one step that reads A0, through the exports only, exactly as a
// host would make it; nothing else on the board is driven or reconfigured.
#include <chrono>
#include <cstdio>

#include "block_instance.h"
#include "block_library.h"
#include "block_settings.h"
#include "check_outcome.h"
#include "commands.h"
#include "errors.h"
#include "library_call.h"
#include "link/port_holders.h"
#include "link/port_names.h"
#include "project_file.h"
#include "value_array.h"

namespace blockhost {
namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kAnalogOutputA0 = kPinCount;

// "COM5 (/dev/ttyACM4)", "COM5 (no device)", or "COM5" where that is the device.
std::string PortText(const BlockSettings& s) {
  const std::string name = "COM" + std::to_string(s.com_port);
  std::string device = arduino::ComPortDevice(s.com_port);
  if (device.empty()) device = "no device";
  return device == name ? name : name + " (" + device + ")";
}

std::string LinkText(const BlockSettings& s) {
  if (s.interface_kind == 0) {
    return s.address + ", UDP port " + std::to_string(s.udp_port);
  }
  return PortText(s) + " at " + std::to_string(s.baud_rate) + " baud";
}

void PrintUnopenedHints(const BlockSettings& s) {
  const std::string device = arduino::ComPortDevice(s.com_port);
  std::optional<arduino::PortHolder> holder;
  if (!device.empty()) holder = arduino::FindPortHolder(device);
  if (holder) {
    printf(
        "%s is held by %s\n"
        "  - close it (a serial monitor, screen, minicom or cat) and check again\n",
        PortText(s).c_str(), arduino::DescribePortHolder(*holder).c_str());
    return;
  }
  printf(
      "COM%d cannot be opened: no such port, or another program holds it\n"
      "  - `blockhost ports` lists the ports by COM number\n"
      "  - close the Arduino IDE's serial monitor and other programs using the port\n",
      s.com_port);
}

void PrintNoAnswerHints(const BlockSettings& s) {
  if (s.interface_kind == 0) {
    printf(
        "no answer from the board within the block's wait (100 ms over UDP)\n"
        "  - is %s the board's address? `blockhost board-address --comport N` shows it\n"
        "    over USB; the board and this computer must be on the same network\n"
        "  - is the UDP port %d? The Ethernet image answers on 1600\n"
        "  - a firewall on this computer may drop the replies; they come to UDP port 1600\n",
        s.address.c_str(), s.udp_port);
    return;
  }
  printf(
      "no answer from the board within the block's wait (1000 ms over serial)\n"
      "  - is COM%d the board? `blockhost ports` lists the ports and marks likely boards\n"
      "  - does the board run the Arduino block firmware? Upload firmware/arduino_block\n"
      "  - does the speed match? The firmware's kSerialBaud must be %d as well\n",
      s.com_port, s.baud_rate);
}

void PrintBadAnswerHints(const BlockSettings& s, const std::string& reply) {
  printf("the board answered %s, which is no number\n", EscapedReply(reply).c_str());
  if (s.interface_kind == 0) {
    printf(
        "  - another program or firmware answers at %s, UDP port %d; upload\n"
        "    firmware/arduino_block to the board\n",
        s.address.c_str(), s.udp_port);
    return;
  }
  printf(
      "  - the speed may not match: the firmware's kSerialBaud must be %d as well;\n"
      "    a wrong speed garbles every byte\n"
      "  - or the board runs another firmware; upload firmware/arduino_block\n",
      s.baud_rate);
}

}  // namespace

int CheckCommand(const CommandLine& line) {
  BlockLibrary library(LibraryPath(line));
  const BlockExports& e = library.exports();
  BlockInstance block(library);
  if (!line.project.empty()) LoadProject(line.project, library.Name(), &block);
  BlockSettings settings = ReadSettings(&block);
  if (line.com_port) {
    settings.interface_kind = 1;
    settings.com_port = *line.com_port;
    settings.baud_rate = line.baud_rate;
  } else if (!line.address.empty()) {
    settings.interface_kind = 0;
    settings.address = line.address;
    settings.udp_port = line.udp_port;
  }
  // The project's link is held to what `set` and the dialog take.
  if (std::optional<std::string> why = LinkRefusal(settings)) {
    throw InputError("the project's link cannot be checked: " + *why);
  }
  // A0 alone, so that the check drives no pin of whatever is wired to the
  // board and changes no pin's mode but A0's, which is an input anyway.
  settings.pin_mode.fill(0);
  settings.analog_used = {1, 0, 0, 0, 0, 0};
  ApplySettings(settings, &block);
  printf("link: %s\n", LinkText(settings).c_str());
  fflush(stdout);

  if (CallLibraryFor([&] { return e.CanSimulateDLL(block.record()); }) == 0) {
    PrintUnopenedHints(settings);
    return kExitNoAnswer;
  }

  ValueArray inputs(kPinCount);
  ValueArray outputs(kPinCount + kAnalogCount);
  double took_ms = 0;
  std::optional<std::string> failure;
  try {
    // InitSimulationDLL already reads A0 once (after A0's mode command);
    // the timed step is the second read, which costs one round trip.
    CallLibrary([&] { e.InitSimulationDLL(block.record(), inputs.data(), outputs.data()); });
    const Clock::time_point start = Clock::now();
    CallLibrary([&] { e.SimulateDLL(Lead12{}, block.record(), inputs.data(), outputs.data()); });
    took_ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  } catch (const LibraryError& error) {
    failure = error.what();
  }
  try {
    CallLibrary([&] { e.EndSimulationDLL2(block.record()); });
  } catch (const LibraryError& end_error) {
    fprintf(stderr, "blockhost: library error while ending the run: %s\n", end_error.what());
  }

  if (!failure) {
    // Over loopback a round trip takes tens of microseconds.
    printf(took_ms < 1 ? "board answered %.10g in %.2f ms\n" : "board answered %.10g in %.1f ms\n",
           static_cast<double>(outputs.Get(kAnalogOutputA0)), took_ms);
    return kExitOk;
  }
  std::optional<std::string> reply = ReplyOfConversionError(*failure);
  if (!reply) throw LibraryError(*failure);  // an address the link cannot use, say
  if (reply->empty()) {
    PrintNoAnswerHints(settings);
    return kExitNoAnswer;
  }
  PrintBadAnswerHints(settings, *reply);
  return kExitBadAnswer;
}

}  // namespace blockhost
