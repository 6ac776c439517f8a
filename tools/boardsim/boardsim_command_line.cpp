#include "boardsim_command_line.h"

#include <string_view>
#include <vector>

#include "arduino_block_version.h"
#include "board_pins.h"
#include "byte_escape.h"
#include "option_values.h"
#include "tool_api/serial_speed_posix.h"
#include "tool_command_line.h"

namespace boardsim {
namespace {

constexpr int kMaxDelayMs = 600'000;
constexpr size_t kCommandLength = 5;
constexpr int kUsageStatus = 1;

using tool_cli::Refuse;

// Adds an option whose value `parse` checks and stores; `parse` refuses a
// bad value through Refuse(name, why).
template <typename Parse>
CLI::Option* AddValue(CLI::App* app, const std::string& name, const std::string& value_name,
                      const std::string& description, const std::string& group, Parse parse) {
  return app
      ->add_option_function<std::string>(
          name, [name, parse](const std::string& value) { parse(name, value); }, description)
      ->type_name(value_name)
      ->group(group);
}

long long Integer(const std::string& name, std::string_view value, long long min, long long max,
                  const std::string& expected) {
  const auto number = ParseInteger(value, min, max);
  if (!number) Refuse(name, expected + ", got '" + std::string(value) + "'");
  return *number;
}

void AddTransport(CLI::App* app, Options* options, bool* have_udp, bool* have_pty) {
  const std::string group = "transport (exactly one)";
  AddValue(app, "--udp", "ADDR:PORT", "listen for command datagrams; port 0 picks a free one",
           group, [=](const std::string& name, std::string_view value) {
             const size_t colon = value.rfind(':');
             if (colon == value.npos || colon == 0) {
               Refuse(name, "expected ADDR:PORT, got '" + std::string(value) + "'");
             }
             const auto port = ParseInteger(value.substr(colon + 1), 0, 65535);
             if (!port) Refuse(name, "bad port '" + std::string(value.substr(colon + 1)) + "'");
             options->udp_host = std::string(value.substr(0, colon));
             options->udp_port = static_cast<uint16_t>(*port);
             *have_udp = true;
           });
  AddValue(app, "--pty", "PATH", "create a pseudo-terminal, symlinked at PATH", group,
           [=](const std::string& name, const std::string& value) {
             if (value.empty()) Refuse(name, "empty path");
             options->pty_path = value;
             *have_pty = true;
           });
  AddValue(app, "--baud", "N",
           "with --pty, answer only at N baud: at any other speed the peer sets,\n"
           "bytes are garbled both ways as on a real line (default: any speed)",
           "board", [=](const std::string& name, std::string_view value) {
             const auto baud = ParseInteger(value, 1, INT32_MAX);
             if (!baud || arduino::SpeedConstant(static_cast<int32_t>(*baud)) == B0) {
               Refuse(name, "expected a line speed such as 9600, 19200, 38400 or 115200, got '" +
                                std::string(value) + "'");
             }
             options->baud = static_cast<int32_t>(*baud);
           });
}

void AddBoard(CLI::App* app, Options* options) {
  const std::string group = "board";
  tool_cli::AddRepeatedOption(
      app, "--wire", "OUT=IN", "reading pin IN gives the level of pin OUT (e.g. 6=2)",
      [=](std::string_view value) {
        const size_t equals = value.find('=');
        if (equals == value.npos) Refuse("--wire", "expected OUT=IN, e.g. 6=2");
        const auto from = ParsePinName(value.substr(0, equals));
        const auto to = ParsePinName(value.substr(equals + 1));
        if (!from || !to) {
          Refuse("--wire", "bad pin in '" + std::string(value) + "' (2..9, A0..A5)");
        }
        if (*from == *to) Refuse("--wire", "a pin cannot be wired to itself");
        options->wires.emplace_back(*from, *to);
      })
      ->group(group);
  tool_cli::AddRepeatedOption(
      app, "--analog", "AN=SOURCE",
      "AN is A0..A5; SOURCE is const:V, sine:AMPL:OFFSET:PERIOD_MS,\n"
      "ramp:PERIOD_MS (0..1023 sawtooth) or pwm:PIN",
      [=](std::string_view value) {
        const size_t equals = value.find('=');
        if (equals == value.npos) Refuse("--analog", "expected AN=SOURCE, e.g. A0=const:512");
        const auto pin = ParsePinName(value.substr(0, equals));
        if (!pin || *pin < board::kFirstAnalogPin) {
          Refuse("--analog", "'" + std::string(value.substr(0, equals)) + "' is not A0..A5");
        }
        std::string why;
        const auto source = ParseAnalogSource(value.substr(equals + 1), &why);
        if (!source) Refuse("--analog", why);
        options->analog[*pin] = *source;
      })
      ->group(group);
  tool_cli::AddRepeatedOption(
      app, "--reply", "CMD=TEXT", "answer exactly CMD with TEXT (escapes \\r \\n \\t \\\\ \\xHH)",
      [=](std::string_view value) {
        // The command may not contain '=' but the reply text may, so
        // split at the first one.
        const size_t equals = value.find('=');
        if (equals == value.npos) Refuse("--reply", "expected CMD=TEXT, e.g. '?14s?=1,5'");
        const std::string_view command = value.substr(0, equals);
        if (command.size() != kCommandLength) {
          Refuse("--reply", "command '" + std::string(command) + "' is not 5 characters");
        }
        const auto text = byte_text::UnescapeBytes(value.substr(equals + 1));
        if (!text) {
          Refuse("--reply", "bad escape in '" + std::string(value.substr(equals + 1)) + "'");
        }
        options->replies[std::string(command)] = *text;
      })
      ->group(group);
}

void AddFaults(CLI::App* app, Options* options) {
  const std::string group = "faults";
  const std::string milliseconds = "expected milliseconds 0.." + std::to_string(kMaxDelayMs);
  AddValue(app, "--delay-ms", "N", "delay every reply by N ms", group,
           [=](const std::string& name, const std::string& value) {
             options->delay_ms =
                 static_cast<int>(Integer(name, value, 0, kMaxDelayMs, milliseconds));
           });
  AddValue(
      app, "--late-ms", "N", "delay every reply by N more ms, meant to exceed the block's wait",
      group, [=](const std::string& name, const std::string& value) {
        options->late_ms = static_cast<int>(Integer(name, value, 0, kMaxDelayMs, milliseconds));
      });
  AddValue(app, "--drop-rate", "P", "drop each reply with probability P (0..1)", group,
           [=](const std::string& name, const std::string& value) {
             const auto rate = ParseNumber(value);
             if (!rate || *rate < 0 || *rate > 1) {
               Refuse(name, "expected a probability 0..1, got '" + value + "'");
             }
             options->drop_rate = *rate;
           });
  AddValue(app, "--seed", "N", "seed for --drop-rate and --garbage (default 1)", group,
           [=](const std::string& name, const std::string& value) {
             options->seed = static_cast<uint32_t>(
                 Integer(name, value, 0, UINT32_MAX, "expected 0.." + std::to_string(UINT32_MAX)));
           });
  app->add_flag("--garbage", options->garbage, "prefix every reply with a few noise bytes")
      ->disable_flag_override()
      ->group(group);
  app->add_flag("--no-line-end", options->no_line_end, "serial replies without CR LF")
      ->disable_flag_override()
      ->group(group);
  app->add_flag("--oversized", options->oversized, "pad UDP reply datagrams to 3000 bytes")
      ->disable_flag_override()
      ->group(group);
  AddValue(app, "--reply-port", "N", "send UDP replies to port N of the sender's address", group,
           [=](const std::string& name, const std::string& value) {
             options->reply_port =
                 static_cast<uint16_t>(Integer(name, value, 1, 65535, "expected a port 1..65535"));
           });
  AddValue(app, "--hangup-after", "N", "after N commands, stop answering, close and exit", group,
           [=](const std::string& name, const std::string& value) {
             options->hangup_after =
                 Integer(name, value, 1, INT64_MAX, "expected a command count of at least 1");
           });
}

}  // namespace

std::optional<int> ParseOptions(int argc, char** argv, Options* options) {
  CLI::App app("Emulates one board speaking the block's command set.", "boardsim");
  tool_cli::SetUsage(&app, "usage: boardsim (--udp ADDR:PORT | --pty PATH) [options]\n");
  app.footer("Prints one line on stderr once ready, then serves until SIGINT or SIGTERM.");
  bool have_udp = false;
  bool have_pty = false;
  AddTransport(&app, options, &have_udp, &have_pty);
  AddBoard(&app, options);
  AddFaults(&app, options);
  AddValue(&app, "--log", "FILE", "append every received command to FILE, one per line", "other",
           [=](const std::string& name, const std::string& value) {
             if (value.empty()) Refuse(name, "empty path");
             options->log_path = value;
           });
  app.option_defaults()->group("other");
  tool_cli::AddHelpFlag(&app);
  tool_cli::AddVersionFlag(&app, ARDUINO_BLOCK_VERSION);

  app.callback([&] {
    if (have_udp == have_pty) {
      Refuse(have_udp ? "give only one of --udp and --pty" : "one of --udp or --pty is required");
    }
    options->transport = have_udp ? Transport::kUdp : Transport::kPty;
    // Refuse fault options the chosen transport cannot show, rather than let
    // a test believe it exercised something it did not.
    if (have_udp && options->no_line_end) {
      Refuse("--no-line-end", "UDP replies never carry a line end; use it with --pty");
    }
    if (have_udp && options->baud) Refuse("--baud", "a UDP board has no line speed; use --pty");
    if (have_pty && (options->oversized || options->reply_port)) {
      Refuse(options->oversized ? "--oversized" : "--reply-port", "applies to --udp only");
    }
  });
  return tool_cli::Parse(&app, argc, argv, kUsageStatus);
}

}  // namespace boardsim
