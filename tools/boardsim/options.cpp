#include "options.h"

#include <string_view>

#include "text_util.h"

namespace boardsim {
namespace {

constexpr int kMaxDelayMs = 600'000;
constexpr size_t kCommandLength = 5;

bool IsFlag(std::string_view name) {
  return name == "--garbage" || name == "--no-line-end" || name == "--oversized" ||
         name == "--help" || name == "-h" || name == "--version";
}

bool TakesValue(std::string_view name) {
  for (const char* known :
       {"--udp", "--pty", "--wire", "--analog", "--reply", "--delay-ms", "--late-ms", "--drop-rate",
        "--seed", "--reply-port", "--hangup-after", "--log"}) {
    if (name == known) return true;
  }
  return false;
}

// Reads the option at argv[*i] into `name` and its value, if it takes one,
// into `value`; *i moves past a value given as the next argument.  Returns
// what is wrong with the argument, or an empty text.
std::string ReadArgument(int argc, char** argv, int* i, std::string_view* name,
                         std::string_view* value) {
  *name = argv[*i];
  bool has_value = false;
  // Both "--opt VALUE" and "--opt=VALUE" work.
  if (const size_t equals = name->find('='); name->starts_with("--") && equals != name->npos) {
    *value = name->substr(equals + 1);
    *name = name->substr(0, equals);
    has_value = true;
  }
  const std::string option(*name);
  if (!name->starts_with("-")) return "unexpected argument '" + option + "'";
  if (IsFlag(*name)) {
    if (has_value) return option + ": takes no value";
  } else if (!TakesValue(*name)) {
    return option + ": unknown option (see --help)";
  } else if (!has_value) {
    if (*i + 1 >= argc) return option + ": missing value";
    *value = argv[++*i];
  }
  return "";
}

// The parsers of the options whose values have parts.  Each stores what it
// read and returns an empty text, or says what is wrong with the value.
std::string SetUdp(std::string_view value, Options* options) {
  const size_t colon = value.rfind(':');
  if (colon == value.npos || colon == 0) {
    return "expected ADDR:PORT, got '" + std::string(value) + "'";
  }
  const auto port = ParseInteger(value.substr(colon + 1), 0, 65535);
  if (!port) return "bad port '" + std::string(value.substr(colon + 1)) + "'";
  options->udp_host = std::string(value.substr(0, colon));
  options->udp_port = static_cast<uint16_t>(*port);
  return "";
}

std::string AddWire(std::string_view value, Options* options) {
  const size_t equals = value.find('=');
  if (equals == value.npos) return "expected OUT=IN, e.g. 6=2";
  const auto from = ParsePinName(value.substr(0, equals));
  const auto to = ParsePinName(value.substr(equals + 1));
  if (!from || !to) return "bad pin in '" + std::string(value) + "' (2..9, A0..A5)";
  if (*from == *to) return "a pin cannot be wired to itself";
  options->wires.emplace_back(*from, *to);
  return "";
}

std::string SetAnalog(std::string_view value, Options* options) {
  const size_t equals = value.find('=');
  if (equals == value.npos) return "expected AN=SOURCE, e.g. A0=const:512";
  const auto pin = ParsePinName(value.substr(0, equals));
  if (!pin || *pin < 14) return "'" + std::string(value.substr(0, equals)) + "' is not A0..A5";
  std::string why;
  const auto source = ParseAnalogSource(value.substr(equals + 1), &why);
  if (!source) return why;
  options->analog[*pin] = *source;
  return "";
}

std::string SetReply(std::string_view value, Options* options) {
  // The command may not contain '=' but the reply text may, so split at
  // the first one.
  const size_t equals = value.find('=');
  if (equals == value.npos) return "expected CMD=TEXT, e.g. '?14s?=1,5'";
  const std::string_view command = value.substr(0, equals);
  if (command.size() != kCommandLength) {
    return "command '" + std::string(command) + "' is not 5 characters";
  }
  const auto text = UnescapeText(value.substr(equals + 1));
  if (!text) return "bad escape in '" + std::string(value.substr(equals + 1)) + "'";
  options->replies[std::string(command)] = *text;
  return "";
}

// Sets the transport from the options seen and refuses fault options the
// chosen transport cannot show, rather than let a test believe it exercised
// something it did not.
ParseOutcome CheckTransport(bool have_udp, bool have_pty, Options* options, std::string* error) {
  if (have_udp == have_pty) {
    *error = have_udp ? "give only one of --udp and --pty" : "one of --udp or --pty is required";
    return ParseOutcome::kError;
  }
  options->transport = have_udp ? Transport::kUdp : Transport::kPty;
  if (have_udp && options->no_line_end) {
    *error = "--no-line-end: UDP replies never carry a line end; use it with --pty";
    return ParseOutcome::kError;
  }
  if (have_pty && (options->oversized || options->reply_port)) {
    *error = std::string(options->oversized ? "--oversized" : "--reply-port") +
             ": applies to --udp only";
    return ParseOutcome::kError;
  }
  return ParseOutcome::kRun;
}

}  // namespace

const char* UsageText() {
  return "usage: boardsim (--udp ADDR:PORT | --pty PATH) [options]\n"
         "\n"
         "Emulates one board speaking the block's command set.\n"
         "\n"
         "transport (exactly one):\n"
         "  --udp ADDR:PORT       listen for command datagrams; port 0 picks a free one\n"
         "  --pty PATH            create a pseudo-terminal, symlinked at PATH\n"
         "board:\n"
         "  --wire OUT=IN         reading pin IN gives the level of pin OUT (e.g. 6=2)\n"
         "  --analog AN=SOURCE    AN is A0..A5; SOURCE is const:V, sine:AMPL:OFFSET:PERIOD_MS,\n"
         "                        ramp:PERIOD_MS (0..1023 sawtooth) or pwm:PIN\n"
         "  --reply CMD=TEXT      answer exactly CMD with TEXT (escapes \\r \\n \\t \\\\ \\xHH)\n"
         "faults:\n"
         "  --delay-ms N          delay every reply by N ms\n"
         "  --late-ms N           delay every reply by N more ms, meant to exceed the block's "
         "wait\n"
         "  --drop-rate P         drop each reply with probability P (0..1)\n"
         "  --seed N              seed for --drop-rate and --garbage (default 1)\n"
         "  --garbage             prefix every reply with a few noise bytes\n"
         "  --no-line-end         serial replies without CR LF\n"
         "  --oversized           pad UDP reply datagrams to 3000 bytes\n"
         "  --reply-port N        send UDP replies to port N of the sender's address\n"
         "  --hangup-after N      after N commands, stop answering, close and exit\n"
         "other:\n"
         "  --log FILE            append every received command to FILE, one per line\n"
         "  --help                show this text\n"
         "  --version             show boardsim's version\n"
         "\n"
         "Prints one line on stderr once ready, then serves until SIGINT or SIGTERM.\n";
}

ParseOutcome ParseOptions(int argc, char** argv, Options* options, std::string* error) {
  bool have_udp = false;
  bool have_pty = false;

  for (int i = 1; i < argc; ++i) {
    std::string_view name;
    std::string_view value;
    if (std::string why = ReadArgument(argc, argv, &i, &name, &value); !why.empty()) {
      *error = why;
      return ParseOutcome::kError;
    }
    const std::string option(name);
    auto fail = [&](const std::string& why) {
      *error = option + ": " + why;
      return ParseOutcome::kError;
    };
    auto integer = [&](long long min, long long max) { return ParseInteger(value, min, max); };

    if (name == "--help" || name == "-h") {
      return ParseOutcome::kHelp;
    } else if (name == "--version") {
      return ParseOutcome::kVersion;
    } else if (name == "--udp") {
      if (std::string why = SetUdp(value, options); !why.empty()) return fail(why);
      have_udp = true;
    } else if (name == "--pty") {
      if (value.empty()) return fail("empty path");
      options->pty_path = std::string(value);
      have_pty = true;
    } else if (name == "--wire") {
      if (std::string why = AddWire(value, options); !why.empty()) return fail(why);
    } else if (name == "--analog") {
      if (std::string why = SetAnalog(value, options); !why.empty()) return fail(why);
    } else if (name == "--reply") {
      if (std::string why = SetReply(value, options); !why.empty()) return fail(why);
    } else if (name == "--delay-ms" || name == "--late-ms") {
      const auto ms = integer(0, kMaxDelayMs);
      if (!ms) return fail("expected milliseconds 0.." + std::to_string(kMaxDelayMs));
      (name == "--delay-ms" ? options->delay_ms : options->late_ms) = static_cast<int>(*ms);
    } else if (name == "--drop-rate") {
      const auto rate = ParseNumber(value);
      if (!rate || *rate < 0 || *rate > 1) return fail("expected a probability 0..1");
      options->drop_rate = *rate;
    } else if (name == "--seed") {
      const auto seed = integer(0, UINT32_MAX);
      if (!seed) return fail("expected 0.." + std::to_string(UINT32_MAX));
      options->seed = static_cast<uint32_t>(*seed);
    } else if (name == "--reply-port") {
      const auto port = integer(1, 65535);
      if (!port) return fail("expected a port 1..65535");
      options->reply_port = static_cast<uint16_t>(*port);
    } else if (name == "--hangup-after") {
      const auto count = integer(1, INT64_MAX);
      if (!count) return fail("expected a command count of at least 1");
      options->hangup_after = *count;
    } else if (name == "--log") {
      if (value.empty()) return fail("empty path");
      options->log_path = std::string(value);
    } else if (name == "--garbage") {
      options->garbage = true;
    } else if (name == "--no-line-end") {
      options->no_line_end = true;
    } else if (name == "--oversized") {
      options->oversized = true;
    }
  }

  return CheckTransport(have_udp, have_pty, options, error);
}

}  // namespace boardsim
