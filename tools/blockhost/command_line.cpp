#include "command_line.h"

#include <charconv>
#include <climits>
#include <cmath>
#include <set>

#include "errors.h"

namespace blockhost {
namespace {

// Which options each command takes.
const std::set<std::string>& OptionsOf(const std::string& command) {
  static const std::set<std::string> kInfo = {"--lib"};
  static const std::set<std::string> kProject = {"--lib", "--project"};
  static const std::set<std::string> kRun = {"--lib",   "--project", "--steps", "--period-ms",
                                             "--input", "--csv",     "--plot"};
  static const std::set<std::string> kCheck = {"--lib",  "--project", "--comport",
                                               "--baud", "--address", "--udpport"};
  static const std::set<std::string> kPorts = {};
  if (command == "info") return kInfo;
  if (command == "run") return kRun;
  if (command == "check") return kCheck;
  if (command == "ports") return kPorts;
  return kProject;
}

long ParseSteps(const std::string& text) {
  long value = 0;
  auto [ptr, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || ptr != text.data() + text.size() || value < 1 || value > 10'000'000) {
    throw UsageError("--steps: '" + text + "' is not a step count 1..10000000");
  }
  return value;
}

double ParsePeriod(const std::string& text) {
  double value = 0.0;
  auto [ptr, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || ptr != text.data() + text.size() || !(value >= 0.0) ||
      value > 3'600'000.0) {
    throw UsageError("--period-ms: '" + text + "' is not a period 0..3600000 ms");
  }
  return value;
}

int32_t ParseNumber(const std::string& name, const std::string& text, int32_t low, int32_t high) {
  int32_t value = 0;
  auto [ptr, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || ptr != text.data() + text.size() || value < low || value > high) {
    throw UsageError(name + ": '" + text + "' is not a number " + std::to_string(low) + ".." +
                     std::to_string(high));
  }
  return value;
}

// `check` tests one link: the one a project holds, a COM port or an address.
void CheckLinkChoice(const CommandLine& line, bool baud_given, bool udp_port_given) {
  const int choices = !line.project.empty() + line.com_port.has_value() + !line.address.empty();
  if (choices != 1) {
    throw UsageError("check: give exactly one of --project, --comport or --address");
  }
  if (baud_given && !line.com_port) throw UsageError("check: --baud goes with --comport");
  if (udp_port_given && line.address.empty()) {
    throw UsageError("check: --udpport goes with --address");
  }
}

}  // namespace

const char* UsageText() {
  return "usage: blockhost <command> [options]\n"
         "\n"
         "Loads a block library and drives it through its exported functions, the way a\n"
         "simulation host does.\n"
         "\n"
         "commands:\n"
         "  --version                              blockhost's version\n"
         "  info [--lib PATH]                      name, inputs, outputs and records\n"
         "  show [--lib PATH] --project F          the block settings stored in F\n"
         "  set  [--lib PATH] --project F KEY=VALUE...\n"
         "                                         change settings; creates F if missing\n"
         "  configure [--lib PATH] --project F     edit the settings in the block's own\n"
         "                                         dialog, then save F (creates it if missing)\n"
         "  run  [--lib PATH] --project F [--steps N] [--period-ms P]\n"
         "       [--input PIN=SIGNAL]... [--csv F.csv] [--plot F.svg]\n"
         "                                         run N steps (default 100) every P ms\n"
         "                                         (default 50)\n"
         "  check [--lib PATH] (--project F | --comport N [--baud B]\n"
         "        | --address A [--udpport P])\n"
         "                                         read A0 once, as a run would, and say\n"
         "                                         whether the board answers (default\n"
         "                                         speed 9600, default UDP port 1600)\n"
         "  ports [--json]                         the serial ports by COM number, with\n"
         "                                         their USB details\n"
         "\n"
         "--lib defaults to the library beside blockhost (arduino_block.so on Linux,\n"
         "ArduinoBlock.dll on Windows).\n"
         "KEYs: interface=usb|ethernet|N comport=N baud=N address=TEXT udpport=N\n"
         "      pin2..pin9=unused|input|output|pwm|N a0..a5=used|unused|N\n"
         "SIGNALs (PIN is 2..9, times in ms): 3.7  square:LOW:HIGH:PERIOD\n"
         "      sine:AMPL:OFFSET:PERIOD  ramp:FROM:TO:PERIOD\n"
         "\n"
         "exit status: 0 success, 1 bad arguments or files, 2 library error;\n"
         "  check: 3 no answer from the board, 4 an answer that is no number\n";
}

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
  CommandLine line;
  if (args.empty()) throw UsageError("no command given");
  line.command = args[0];
  if (line.command == "help" || line.command == "--help" || line.command == "-h") {
    line.command = "help";
    return line;
  }
  if (line.command == "--version") {
    if (args.size() > 1) throw UsageError("--version takes no arguments");
    line.command = "version";
    return line;
  }
  if (line.command != "info" && line.command != "show" && line.command != "set" &&
      line.command != "configure" && line.command != "run" && line.command != "check" &&
      line.command != "ports") {
    throw UsageError("unknown command '" + line.command + "'");
  }
  const std::set<std::string>& allowed = OptionsOf(line.command);
  bool baud_given = false;
  bool udp_port_given = false;
  for (size_t i = 1; i < args.size(); ++i) {
    std::string name = args[i];
    if (line.command == "ports" && name == "--json") {
      line.json = true;
      continue;
    }
    if (!name.starts_with("--")) {
      if (line.command != "set") throw UsageError("unexpected argument '" + name + "'");
      line.assignments.push_back(name);
      continue;
    }
    std::string value;
    if (size_t equals = name.find('='); equals != name.npos) {
      value = name.substr(equals + 1);
      name.resize(equals);
    } else if (allowed.count(name)) {
      if (i + 1 >= args.size()) throw UsageError(name + ": missing value");
      value = args[++i];
    }
    if (!allowed.count(name)) {
      throw UsageError(line.command + ": unknown option '" + name + "'");
    }
    if (name == "--lib") {
      line.library = value;
    } else if (name == "--project") {
      line.project = value;
    } else if (name == "--steps") {
      line.steps = ParseSteps(value);
    } else if (name == "--period-ms") {
      line.period_ms = ParsePeriod(value);
    } else if (name == "--input") {
      line.inputs.push_back(value);
    } else if (name == "--csv") {
      line.csv_path = value;
    } else if (name == "--plot") {
      line.plot_path = value;
    } else if (name == "--comport") {
      line.com_port = ParseNumber(name, value, INT32_MIN, INT32_MAX);
    } else if (name == "--baud") {
      line.baud_rate = ParseNumber(name, value, 1, INT32_MAX);
      baud_given = true;
    } else if (name == "--address") {
      if (value.empty()) throw UsageError("--address: give the board's address");
      line.address = value;
    } else if (name == "--udpport") {
      line.udp_port = ParseNumber(name, value, 1, 65535);
      udp_port_given = true;
    }
  }
  if (line.command == "check") {
    CheckLinkChoice(line, baud_given, udp_port_given);
    return line;
  }
  if (line.command != "info" && line.command != "ports" && line.project.empty()) {
    throw UsageError(line.command + ": --project is required");
  }
  if (line.command == "set" && line.assignments.empty()) {
    throw UsageError("set: give at least one KEY=VALUE");
  }
  return line;
}

}  // namespace blockhost
