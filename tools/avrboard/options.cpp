#include "options.h"

#include <string_view>

#include "avr_board.h"
#include "text_util.h"

namespace avrboard {
namespace {

// Splits "NAME=VALUE"; false when there is no '=' or either side is empty.
bool SplitAssignment(std::string_view text, std::string_view* name, std::string_view* value) {
  const size_t equals = text.find('=');
  if (equals == std::string_view::npos || equals == 0 || equals + 1 == text.size()) return false;
  *name = text.substr(0, equals);
  *value = text.substr(equals + 1);
  return true;
}

bool ParseDigitalInput(std::string_view text, Options* options, std::string* error) {
  std::string_view name, level;
  if (!SplitAssignment(text, &name, &level)) {
    *error = "--pin '" + std::string(text) + "': expected PIN=low or PIN=high";
    return false;
  }
  std::optional<uint8_t> pin = boardsim::ParsePinName(name);
  if (!pin || *pin >= 14) {
    *error = "--pin '" + std::string(text) + "': the digital pins are 2..9";
    return false;
  }
  if (level != "low" && level != "high") {
    *error = "--pin '" + std::string(text) + "': the level is low or high";
    return false;
  }
  options->digital_inputs[*pin] = level == "high";
  return true;
}

bool ParseAnalogInput(std::string_view text, Options* options, std::string* error) {
  std::string_view name, source_text;
  if (!SplitAssignment(text, &name, &source_text)) {
    *error = "--adc '" + std::string(text) + "': expected AN=COUNT or AN=SOURCE";
    return false;
  }
  std::optional<uint8_t> pin = boardsim::ParsePinName(name);
  if (!pin || *pin < 14) {
    *error = "--adc '" + std::string(text) + "': the analog inputs are A0..A5";
    return false;
  }
  // A bare count is the common case and reads better than "const:512".
  if (std::optional<long long> count = boardsim::ParseInteger(source_text, 0, 1023)) {
    boardsim::AnalogSource source;
    source.kind = boardsim::AnalogSource::Kind::kConst;
    source.value = static_cast<double>(*count);
    options->analog[*pin] = source;
    return true;
  }
  std::string reason;
  std::optional<boardsim::AnalogSource> source = boardsim::ParseAnalogSource(source_text, &reason);
  if (!source || source->kind == boardsim::AnalogSource::Kind::kPwm) {
    *error = "--adc '" + std::string(text) +
             "': " + (source ? std::string("pwm: sources are boardsim's only") : reason);
    return false;
  }
  options->analog[*pin] = *source;
  return true;
}

}  // namespace

const char* UsageText() {
  return "usage: avrboard --firmware ELF --pty PATH [options]\n"
         "Runs the board firmware on a simulated ATmega328P (Uno) or ATmega2560 (Mega 2560)\n"
         "at 16 MHz, in real time, with its serial port on a pseudo-terminal reached\n"
         "through the symlink PATH.  Pins are the board's Arduino pin numbers.\n"
         "  --mcu atmega328p|atmega2560   the chip, and with it the board (default atmega328p)\n"
         "  --pin N=low|high      drive digital input pin N (2..9) from outside\n"
         "  --adc AN=COUNT        hold analog input AN (A0..A5) at COUNT (0..1023)\n"
         "  --adc AN=SOURCE       or follow sine:AMPL:OFFSET:PERIOD_MS, ramp:PERIOD_MS\n"
         "  --log FILE            write every change of pins 2..9 to FILE, one per line:\n"
         "                        '<simulated ms> pin <n> input|low|high|pwm <0..255>'\n"
         "  --version             show avrboard's version\n"
         "Stops cleanly on SIGINT or SIGTERM.\n";
}

ParseOutcome ParseOptions(int argc, char** argv, Options* options, std::string* error) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view option = argv[i];
    if (option == "-h" || option == "--help") return ParseOutcome::kHelp;
    if (option == "--version") return ParseOutcome::kVersion;
    if (i + 1 >= argc) {
      *error = std::string(option) + ": missing value or unknown option";
      return ParseOutcome::kError;
    }
    const std::string_view value = argv[++i];
    if (option == "--firmware") {
      options->firmware_path = value;
    } else if (option == "--mcu") {
      if (LayoutOfMcu(std::string(value)) == nullptr) {
        *error = "--mcu '" + std::string(value) + "': the chips are atmega328p and atmega2560";
        return ParseOutcome::kError;
      }
      options->mcu = value;
    } else if (option == "--pty") {
      options->pty_path = value;
    } else if (option == "--log") {
      options->log_path = value;
    } else if (option == "--pin") {
      if (!ParseDigitalInput(value, options, error)) return ParseOutcome::kError;
    } else if (option == "--adc") {
      if (!ParseAnalogInput(value, options, error)) return ParseOutcome::kError;
    } else {
      *error = "unknown option " + std::string(option);
      return ParseOutcome::kError;
    }
  }
  if (options->firmware_path.empty() || options->pty_path.empty()) {
    *error = "--firmware and --pty are required";
    return ParseOutcome::kError;
  }
  return ParseOutcome::kRun;
}

}  // namespace avrboard
