#include "avrboard_command_line.h"

#include <string_view>

#include "arduino_block_version.h"
#include "avr_board.h"
#include "board_pins.h"
#include "boot_section.h"
#include "loopback_bridge.h"
#include "option_values.h"
#include "tool_command_line.h"

namespace avrboard {
namespace {

using tool_cli::Refuse;

// Splits "NAME=VALUE"; false when there is no '=' or either side is empty.
bool SplitAssignment(std::string_view text, std::string_view* name, std::string_view* value) {
  const size_t equals = text.find('=');
  if (equals == std::string_view::npos || equals == 0 || equals + 1 == text.size()) return false;
  *name = text.substr(0, equals);
  *value = text.substr(equals + 1);
  return true;
}

void ParseDigitalInput(const std::string& text, Options* options) {
  std::string_view name, level;
  if (!SplitAssignment(text, &name, &level)) {
    Refuse("--pin", "'" + text + "': expected PIN=low or PIN=high");
  }
  std::optional<uint8_t> pin = boardsim::ParsePinName(name);
  if (!pin || *pin >= board::kFirstAnalogPin) {
    Refuse("--pin", "'" + text + "': the digital pins are 2..9");
  }
  if (level != "low" && level != "high") {
    Refuse("--pin", "'" + text + "': the level is low or high");
  }
  options->digital_inputs[*pin] = level == "high";
}

void ParseAnalogInput(const std::string& text, Options* options) {
  std::string_view name, source_text;
  if (!SplitAssignment(text, &name, &source_text)) {
    Refuse("--adc", "'" + text + "': expected AN=COUNT or AN=SOURCE");
  }
  std::optional<uint8_t> pin = boardsim::ParsePinName(name);
  if (!pin || *pin < board::kFirstAnalogPin) {
    Refuse("--adc", "'" + text + "': the analog inputs are A0..A5");
  }
  // A bare count is the common case and reads better than "const:512".
  if (std::optional<long long> count = boardsim::ParseInteger(source_text, 0, 1023)) {
    boardsim::AnalogSource source;
    source.kind = boardsim::AnalogSource::Kind::kConst;
    source.value = static_cast<double>(*count);
    options->analog[*pin] = source;
    return;
  }
  std::string reason;
  std::optional<boardsim::AnalogSource> source = boardsim::ParseAnalogSource(source_text, &reason);
  if (!source || source->kind == boardsim::AnalogSource::Kind::kPwm) {
    Refuse("--adc", "'" + text + "': " +
                        (source ? std::string("pwm: sources are boardsim's only") : reason));
  }
  options->analog[*pin] = *source;
}

// The board from --board, else the chip's first; a --mcu given beside
// --board must be that board's chip.
void SettleBoard(bool mcu_given, Options* options) {
  if (options->board.empty()) {
    options->board = BootSectionOf(options->mcu)->board;
    return;
  }
  const BootSection& section = *BootSectionOfBoard(options->board);
  if (mcu_given && options->mcu != section.mcu) {
    Refuse("--board", "the " + options->board + " has the " + section.mcu + ", not the " +
                          options->mcu + " --mcu names: drop --mcu, or name another board");
  }
  options->mcu = section.mcu;
}

// The usage line a bad command line prints, and what --help ends with.
void AddUsageAndFooter(CLI::App* app) {
  tool_cli::SetUsage(app,
                     "usage: avrboard --firmware ELF|HEX --pty PATH [options]\n"
                     "       avrboard --bootloader [--firmware ELF|HEX] [--flash FILE] "
                     "--pty PATH [options]\n"
                     "       avrboard --firmware ELF|HEX --ethernet 127.0.0.1:PORT [--pty PATH] "
                     "[options]\n");
  app->footer(
      "Exits 1 when the image cannot be read or is damaged, 2 on a bad command\n"
      "line or an image for the other chip (the message names the --mcu to use).\n"
      "Stops cleanly on SIGINT or SIGTERM; says on SIGUSR1 how far the chip has\n"
      "fallen behind the wall clock.  With --ethernet, datagrams sent to\n"
      "127.0.0.1:PORT reach the firmware's UDP socket, and what the firmware sends\n"
      "goes to 127.0.0.1 at the port it names, whatever address it names: the\n"
      "simulated board never reaches a network beyond this machine.");
}

// What the flash holds at the start: an image, the board's bootloader, a
// flash file kept from the last run.  Returns --bootloader, which takes its
// value optionally and so is told given by its count.
CLI::Option* AddProgramOptions(CLI::App* app, Options* options) {
  app->add_option("--firmware", options->firmware_path,
                  "the firmware image to run, ELF or Intel HEX; one built for\n"
                  "the other chip, or larger than this one's flash, is refused")
      ->type_name("ELF|HEX");
  CLI::Option* bootloader =
      app->add_option("--bootloader", options->bootloader_path,
                      "start every reset in the board's bootloader, as a board\n"
                      "leaves the factory (optiboot on the Uno and the Nano,\n"
                      "ATmegaBOOT on the nano-old, stk500v2 on the Mega, from\n"
                      "bootloaders/ beside avrboard, or HEX in the --board's boot\n"
                      "section), which avrdude can upload through; the program\n"
                      "runs after it")
          ->type_name("[HEX]")
          ->expected(0, 1);
  app->add_option("--flash", options->flash_path,
                  "keep the chip's flash in FILE between runs: load it from FILE\n"
                  "when it exists (then without --firmware) and save it back when\n"
                  "a bootloader changes it and at exit")
      ->type_name("FILE");
  return bootloader;
}

// The chip and the board; returns --mcu, which the board settles against.
CLI::Option* AddBoardOptions(CLI::App* app, Options* options) {
  CLI::Option* mcu =
      app->add_option_function<std::string>(
             "--mcu",
             [options](const std::string& text) {
               if (LayoutOfMcu(text) == nullptr) {
                 Refuse("--mcu", "'" + text + "': the chips are atmega328p and atmega2560");
               }
               options->mcu = text;
             },
             "the chip, and with it the board (default atmega328p)")
          ->type_name("atmega328p|atmega2560");
  app->add_option_function<std::string>(
         "--board",
         [options](const std::string& text) {
           if (BootSectionOfBoard(text) == nullptr) {
             Refuse("--board", "'" + text + "': the boards are " + BoardNames());
           }
           options->board = text;
         },
         "the board, and with it the chip and the bootloader\n"
         "--bootloader starts: nano is the Uno's chip and optiboot,\n"
         "nano-old a Nano with the old bootloader (ATmegaBOOT at\n"
         "57600 baud in a 2 KB boot section); default: the --mcu\n"
         "chip's board, uno or mega2560")
      ->type_name("uno|nano|nano-old|mega2560");
  return mcu;
}

// What drives the pins from outside.
void AddInputOptions(CLI::App* app, Options* options) {
  tool_cli::AddRepeatedOption(
      app, "--pin", "N=low|high", "drive digital input pin N (2..9) from outside",
      [options](const std::string& text) { ParseDigitalInput(text, options); });
  tool_cli::AddRepeatedOption(
      app, "--adc", "AN=COUNT|SOURCE",
      "hold analog input AN (A0..A5) at COUNT (0..1023), or follow\n"
      "SOURCE: sine:AMPL:OFFSET:PERIOD_MS or ramp:PERIOD_MS",
      [options](const std::string& text) { ParseAnalogInput(text, options); });
}

// The board's links beside the serial port: the Ethernet wire, and the USB
// bridge in front of the serial port.
void AddLinkOptions(CLI::App* app, Options* options) {
  app->add_option_function<std::string>(
         "--ethernet",
         [options](const std::string& text) {
           options->ethernet_port = ParseLoopbackEndpoint(text);
           if (!options->ethernet_port) {
             Refuse("--ethernet", "'" + text +
                                      "': expected 127.0.0.1:PORT (PORT 0 for any free one); "
                                      "the W5100 is bridged to the loopback interface only");
           }
         },
         "put a W5100 on the SPI bus, its wire a UDP socket bound to\n"
         "127.0.0.1:PORT (0: any free port)")
      ->type_name("127.0.0.1:PORT");
  app->add_option_function<std::string>(
         "--bridge",
         [options](const std::string& text) {
           std::string error;
           std::optional<BridgeChoice> choice = ParseBridge(text, &error);
           if (!choice) Refuse("--bridge", error);
           options->bridge = *choice;
         },
         "hold the firmware's replies as a board's USB bridge does, a model\n"
         "of its published behaviour, not a measurement of a chip: 16u2 (a\n"
         "genuine Uno's or Mega's, a 4.096 ms tick), ftdi[:MS] (its latency\n"
         "timer, 16 ms unless given), ch340 (1 ms), none (default).  The\n"
         "serial line only: the Ethernet link passes no USB bridge")
      ->type_name("none|16u2|ftdi[:MS]|ch340");
}

// The files avrboard keeps: the pin log, the EEPROM, the exchange log.
void AddFileOptions(CLI::App* app, Options* options) {
  app->add_option("--log", options->log_path,
                  "write every change of pins 2..9 to FILE, one per line:\n"
                  "'<simulated ms> pin <n> input|low|high|pwm <0..255>'")
      ->type_name("FILE");
  app->add_option("--eeprom", options->eeprom_path,
                  "load the chip's EEPROM from FILE (missing: blank) and save it\n"
                  "back there when the firmware changes it and at exit")
      ->type_name("FILE");
  app->add_option("--exchanges", options->exchanges_path,
                  "write each exchange to FILE, one per line:\n"
                  "'udp|serial <turnaround us> <command> -> <reply>', the time\n"
                  "simulated, from the command's arrival in the chip to the reply\n"
                  "leaving it")
      ->type_name("FILE");
}

}  // namespace

std::optional<int> ParseOptions(int argc, char** argv, Options* options) {
  CLI::App app(
      "Runs the board firmware on a simulated ATmega328P (Uno, Nano) or ATmega2560 (Mega 2560)\n"
      "at 16 MHz, in real time, with its serial port on a pseudo-terminal reached\n"
      "through the symlink PATH.  Pins are the board's Arduino pin numbers.\n"
      "With --ethernet a W5100 sits on the SPI bus (chip select on pin 10) and\n"
      "its wire is a UDP socket on 127.0.0.1; the serial port is then optional.",
      "avrboard");
  AddUsageAndFooter(&app);
  CLI::Option* bootloader = AddProgramOptions(&app, options);
  app.add_option("--pty", options->pty_path, "the symlink to the pseudo-terminal")
      ->type_name("PATH");
  CLI::Option* mcu = AddBoardOptions(&app, options);
  app.callback([options, bootloader, mcu] {
    if (options->pty_path.empty() && !options->ethernet_port) {
      Refuse("--pty", "required unless --ethernet is given");
    }
    SettleBoard(mcu->count() > 0, options);
    options->bootloader = bootloader->count() > 0;
    if (options->firmware_path.empty() && !options->bootloader && options->flash_path.empty()) {
      Refuse("--firmware", "required unless --bootloader or --flash is given");
    }
  });
  AddInputOptions(&app, options);
  AddLinkOptions(&app, options);
  AddFileOptions(&app, options);
  app.add_flag("--verbose", options->verbose,
               "show simavr's own messages (what it loaded, its warnings)");
  tool_cli::AddHelpFlag(&app);
  tool_cli::AddVersionFlag(&app, ARDUINO_BLOCK_VERSION);
  return tool_cli::Parse(&app, argc, argv, kUsageStatus);
}

}  // namespace avrboard
