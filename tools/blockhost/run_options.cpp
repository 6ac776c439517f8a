#include "run_options.h"

#include <optional>
#include <string>

#include "number_text.h"
#include "tool_command_line.h"

namespace blockhost {
namespace {

long ParseSteps(const std::string& text) {
  const std::optional<long> value = tool_cli::ParseNumber<long>(text);
  if (!value || *value < 1 || *value > 10'000'000) {
    tool_cli::Refuse("--steps", "'" + text + "' is not a step count 1..10000000");
  }
  return *value;
}

double ParsePeriod(const std::string& text) {
  const std::optional<double> value = tool_cli::ParseNumber<double>(text);
  if (!value || !(*value >= 0.0) || *value > 3'600'000.0) {
    tool_cli::Refuse("--period-ms", "'" + text + "' is not a period 0..3600000 ms");
  }
  return *value;
}

// --csv, --plot and --plot-note: where the trace goes.
void AddTraceOptions(CLI::App* command, CommandLine* line) {
  command->add_option("--csv", line->csv_path, "write the trace as CSV")->type_name("F.csv");
  command->add_option("--plot", line->plot_path, "write the trace as an SVG plot")
      ->type_name("F.svg");
  command
      ->add_option("--plot-note", line->plot_notes,
                   "a line under the plot's title, such as how the\n"
                   "board is wired; repeat for more lines")
      ->type_name("TEXT")
      ->allow_extra_args(false)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
}

}  // namespace

void AddRunOptions(CLI::App* command, CommandLine* line) {
  AddLibraryOption(command, line);
  AddProjectOption(command, line)->required();
  tool_cli::AddValueOption(command, "--steps", "N",
                           "the number of steps, 1..10000000 (default 100)",
                           [line](const std::string& text) { line->steps = ParseSteps(text); });
  tool_cli::AddValueOption(command, "--period-ms", "P",
                           "the step period in ms, 0..3600000 (default 50, or\n"
                           "what the link can keep when that is longer)",
                           [line](const std::string& text) {
                             line->period_ms = ParsePeriod(text);
                             line->period_given = true;
                           });
  command
      ->add_option("--input", line->inputs,
                   "drive input PIN with SIGNAL; repeat for more pins.\n"
                   "An output pin goes high above 2.5 (volts); a PWM\n"
                   "pin takes 0..1023 for 0..100 % duty, clamped (9=5\n"
                   "is 5 of 1023, 0.5 %; the board's 8-bit timer gets\n"
                   "1 of 255)")
      ->type_name("PIN=SIGNAL")
      ->allow_extra_args(false)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  AddTraceOptions(command, line);
  command->footer(std::string(kInputSignalsHelp) +
                  "\n\n"
                  "exit status: 0 done, 1 bad arguments or files, 2 library error, 5 the port\n"
                  "  cannot be opened, 9 the board did not answer in some steps, 130 stopped by\n"
                  "  Ctrl-C (SIGINT), 143 stopped by SIGTERM; the steps done are kept either way");
}

}  // namespace blockhost
