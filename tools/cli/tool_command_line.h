// The command-line conventions blockhost, boardsim and avrboard share, on top
// of CLI11: --help starts with the usage, --version prints "<program>
// <version>", and a usage error names the option, says what is wrong with it
// and repeats the usage of the command it belongs to.
#pragma once

#include <CLI.hpp>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tool_cli {

// Gives *app the shared help layout, with `usage` (one or more lines, each
// ending in '\n') first, and -h/--help; call it before adding options, whose
// help then lists them under `options`.
// "a", "a or b", "a, b or c": the values an option takes, as its refusal
// lists them.
std::string Alternatives(const std::vector<std::string>& values);

void SetUsage(CLI::App* app, const std::string& usage);

// Adds -h/--help again, after the options added so far and in the group
// they are now added to: the help lists options in the order of their groups.
CLI::Option* AddHelpFlag(CLI::App* app);

// Adds --version, which prints "<program> <version>" and exits 0.
CLI::Option* AddVersionFlag(CLI::App* app, const std::string& version);

// The sub-command the arguments chose, or *app itself.
const CLI::App& ChosenCommand(const CLI::App& app);

// Adds an option whose value `take` reads, shown in the help as `value_name`
// (N, PATH, ...); `take` refuses a value that will not do with Refuse.
CLI::Option* AddValueOption(CLI::App* app, const std::string& name, const std::string& value_name,
                            const std::string& help, std::function<void(const std::string&)> take);

// The same for an option that may be given any number of times, each time
// with one value; `take` reads the values in the order they were given.
CLI::Option* AddRepeatedOption(CLI::App* app, const std::string& name,
                               const std::string& value_name, const std::string& help,
                               std::function<void(const std::string&)> take);

// Parses argv into what the options of *app are bound to.  Returns nothing
// when the program should go on; otherwise the exit status, after printing
// the help or the version (0) or the usage error (usage_status).
std::optional<int> Parse(CLI::App* app, int argc, char** argv, int usage_status);

// Prints "<program>: [<command>: ]<message>" on stderr, then the usage of
// `command` (the program or one of its sub-commands) and how to ask for its
// help.
void ReportUsageError(const CLI::App& command, const std::string& message);

// For the checks in option callbacks and in the callback after parsing:
// throws the usage error "<option>: <why>", or just `message`.
[[noreturn]] void Refuse(const std::string& option, const std::string& why);
[[noreturn]] void Refuse(const std::string& message);

}  // namespace tool_cli
