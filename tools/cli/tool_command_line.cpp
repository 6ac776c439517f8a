#include "tool_command_line.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <sstream>
#include <utility>
#include <vector>

namespace tool_cli {
namespace {

constexpr size_t kOptionColumn = 30;

// CLI11's layout with the usage first, the sub-commands listed by their
// usage, and an option shown only with the name of its value: its defaults
// and constraints are in its description, in words.
class ToolFormatter : public CLI::Formatter {
 public:
  explicit ToolFormatter(std::string usage) : usage_(std::move(usage)) {
    column_width(kOptionColumn);
    label("Positionals", "arguments");
  }

  const std::string& usage() const { return usage_; }

  std::string make_usage(const CLI::App*, std::string) const override { return usage_; }

  std::string make_help(const CLI::App* app, std::string name,
                        CLI::AppFormatMode mode) const override {
    if (mode == CLI::AppFormatMode::Sub) return make_expanded(app);
    // One blank line between the parts, none at the end.
    std::string out = make_usage(app, name);
    for (const std::string& part :
         {app->get_description(), make_positionals(app), OptionGroups(app),
          make_subcommands(app, mode), app->get_footer()}) {
      if (part.empty()) continue;
      out += "\n" + part;
      if (!part.ends_with('\n')) out += "\n";
    }
    return out;
  }

  std::string make_group(std::string group, bool is_positional,
                         std::vector<const CLI::Option*> options) const override {
    std::string out = group + ":\n";
    for (const CLI::Option* option : options) out += make_option(option, is_positional);
    return out;
  }

  // The option groups in the order of their first option, without the
  // second blank line CLI11 puts between them.
  std::string OptionGroups(const CLI::App* app) const {
    std::string out;
    for (const std::string& group : app->get_groups()) {
      const std::vector<const CLI::Option*> options =
          app->get_options([&](const CLI::Option* option) {
            return option->get_group() == group && option->nonpositional();
          });
      if (group.empty() || options.empty()) continue;
      out += (out.empty() ? "" : "\n") + make_group(group, false, options);
    }
    return out;
  }

  std::string make_subcommands(const CLI::App* app, CLI::AppFormatMode) const override {
    std::string out;
    for (const CLI::App* sub : app->get_subcommands({})) {
      if (sub->get_group().empty() || sub->get_name().empty()) continue;
      if (out.empty()) out = sub->get_group() + ":\n";
      out += make_subcommand(sub);
    }
    return out;
  }

  // A sub-command by its usage without "usage: <program> ", then what it does.
  std::string make_subcommand(const CLI::App* sub) const override {
    std::string synopsis = sub->get_name() + "\n";
    if (auto formatter = std::dynamic_pointer_cast<ToolFormatter>(sub->get_formatter())) {
      synopsis = formatter->usage();
    }
    // Continuation lines are indented under the first; they move left with
    // it.  A line of its own that starts with the program is another form
    // of the command, and loses the program's name as the first does.
    const std::string program = sub->get_parent()->get_name() + " ";
    const std::string prefix = "usage: " + program;
    std::string out;
    std::istringstream lines(synopsis);
    for (std::string line; std::getline(lines, line);) {
      if (line.starts_with(prefix)) {
        line.erase(0, prefix.size());
      } else {
        line.erase(0, std::min(prefix.size(), line.find_first_not_of(' ')));
        if (line.starts_with(program)) line.erase(0, program.size());
      }
      out += "  " + line + "\n";
    }
    // The description goes in the column of the options' descriptions,
    // starting beside the last line of the usage where that leaves room.
    const size_t last_line = out.rfind('\n', out.size() - 2) + 1;
    const size_t last_width = out.size() - 1 - last_line;
    bool beside = last_width + 2 <= kOptionColumn;
    std::istringstream description(sub->get_description());
    for (std::string line; std::getline(description, line);) {
      if (beside) {
        out.pop_back();
        out += std::string(kOptionColumn - last_width, ' ') + line + "\n";
        beside = false;
      } else {
        out += std::string(kOptionColumn, ' ') + line + "\n";
      }
    }
    return out;
  }

  // A positional argument goes by the name of its value.
  std::string make_option_name(const CLI::Option* option, bool is_positional) const override {
    return is_positional ? option->get_type_name()
                         : CLI::Formatter::make_option_name(option, false);
  }

  std::string make_option_opts(const CLI::Option* option) const override {
    if (option->get_positional() || option->get_expected_max() == 0 ||
        option->get_type_name().empty())
      return "";
    return " " + option->get_type_name();
  }

 private:
  std::string usage_;
};

// CLI11 says "garbage was given a disallowed flag override" for --garbage=1;
// this says "--garbage: takes no value".
std::string FlagValueProblem(const CLI::App& app, int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    const size_t equals = argument.find('=');
    if (!argument.starts_with("--") || equals == std::string::npos) continue;
    const std::string name = argument.substr(0, equals);
    for (const CLI::App* command = &ChosenCommand(app); command != nullptr;
         command = command->get_parent()) {
      const CLI::Option* option = command->get_option_no_throw(name);
      if (option != nullptr && option->get_expected_max() == 0) return name + ": takes no value";
    }
  }
  return "";
}

// CLI11 says "--udp: 1 required ADDR:PORT missing" when the value of the
// last option is missing; this says "--udp: missing value".
std::string MissingValueProblem(const CLI::App& app, int argc, char** argv) {
  if (argc < 2) return "";
  const std::string last = argv[argc - 1];
  for (const CLI::App* command = &ChosenCommand(app); command != nullptr;
       command = command->get_parent()) {
    const CLI::Option* option = command->get_option_no_throw(last);
    if (option != nullptr && option->get_expected_max() > 0 && option->nonpositional()) {
      return last + ": missing value";
    }
  }
  return "";
}

std::string ProgramName(const CLI::App& app) {
  const CLI::App* root = &app;
  while (root->get_parent() != nullptr) root = root->get_parent();
  return root->get_name();
}

bool LooksLikeOption(const std::string& argument) {
  return argument.size() > 1 && argument[0] == '-' && !(argument[1] >= '0' && argument[1] <= '9');
}

// The first argument no option took, seen from the chosen command outwards,
// said the way a person would; empty when every argument was taken.  CLI11
// keeps them even when it fails for another reason, and an unknown option
// is usually the cause of a "missing" one.
std::string LeftoverProblem(const CLI::App& app) {
  for (const CLI::App* command = &ChosenCommand(app); command != nullptr;
       command = command->get_parent()) {
    const std::vector<std::string> leftovers = command->remaining();
    if (leftovers.empty()) continue;
    const std::string& first = leftovers.front();
    if (LooksLikeOption(first)) {
      return "unknown option '" + first.substr(0, first.find('=')) + "'";
    }
    const bool names_command =
        command == &app && !app.get_subcommands({}).empty() && app.get_subcommands().empty();
    return (names_command ? "unknown command '" : "unexpected argument '") + first + "'";
  }
  return "";
}

}  // namespace

std::string Alternatives(const std::vector<std::string>& values) {
  std::string text;
  for (size_t i = 0; i < values.size(); ++i) {
    if (i > 0) text += i + 1 == values.size() ? " or " : ", ";
    text += values[i];
  }
  return text;
}

void SetUsage(CLI::App* app, const std::string& usage) {
  app->formatter(std::make_shared<ToolFormatter>(usage));
  app->option_defaults()->group("options");
  // A repeated option keeps its last value, as the tools always did.
  app->option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  AddHelpFlag(app);
}

CLI::Option* AddHelpFlag(CLI::App* app) {
  return app->set_help_flag("-h,--help", "show this text");
}

CLI::Option* AddVersionFlag(CLI::App* app, const std::string& version) {
  return app->set_version_flag("--version", app->get_name() + " " + version,
                               "show " + app->get_name() + "'s version");
}

CLI::Option* AddValueOption(CLI::App* app, const std::string& name, const std::string& value_name,
                            const std::string& help, std::function<void(const std::string&)> take) {
  return app->add_option_function<std::string>(name, std::move(take), help)->type_name(value_name);
}

CLI::Option* AddRepeatedOption(CLI::App* app, const std::string& name,
                               const std::string& value_name, const std::string& help,
                               std::function<void(const std::string&)> take) {
  return app
      ->add_option_function<std::vector<std::string>>(
          name,
          [take = std::move(take)](const std::vector<std::string>& values) {
            for (const std::string& value : values) take(value);
          },
          help)
      ->type_name(value_name)
      ->allow_extra_args(false);
}

const CLI::App& ChosenCommand(const CLI::App& app) {
  const CLI::App* command = &app;
  while (!command->get_subcommands().empty()) command = command->get_subcommands().front();
  return *command;
}

std::optional<int> Parse(CLI::App* app, int argc, char** argv, int usage_status) {
  try {
    app->parse(argc, argv);
    return std::nullopt;
  } catch (const CLI::CallForHelp&) {
    fputs(app->help().c_str(), stdout);
    return 0;
  } catch (const CLI::CallForAllHelp&) {
    fputs(app->help("", CLI::AppFormatMode::All).c_str(), stdout);
    return 0;
  } catch (const CLI::CallForVersion& version) {
    printf("%s\n", version.what());
    return 0;
  } catch (const CLI::ParseError& error) {
    std::string message = LeftoverProblem(*app);
    // Both of these are what CLI11 calls an argument mismatch.
    if (message.empty() && dynamic_cast<const CLI::ArgumentMismatch*>(&error) != nullptr) {
      message = FlagValueProblem(*app, argc, argv);
      if (message.empty()) message = MissingValueProblem(*app, argc, argv);
    }
    if (message.empty()) message = error.what();
    ReportUsageError(ChosenCommand(*app), message);
    return usage_status;
  }
}

void ReportUsageError(const CLI::App& command, const std::string& message) {
  const std::string program = ProgramName(command);
  const bool is_program = command.get_parent() == nullptr;
  const std::string path = is_program ? program : program + " " + command.get_name();
  const std::string prefix = is_program ? "" : command.get_name() + ": ";
  std::string usage;
  if (auto formatter = std::dynamic_pointer_cast<ToolFormatter>(command.get_formatter())) {
    usage = formatter->usage();
  }
  fprintf(stderr, "%s: %s%s\n%sTry '%s --help' for more.\n", program.c_str(), prefix.c_str(),
          message.c_str(), usage.c_str(), path.c_str());
}

void Refuse(const std::string& option, const std::string& why) {
  throw CLI::ValidationError(option, why);
}

void Refuse(const std::string& message) { throw CLI::ValidationError(message); }

}  // namespace tool_cli
