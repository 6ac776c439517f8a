// `blockhost show`, `set` and `configure`: the block settings inside a
// project.
#include <cstdio>

#include "address_text.h"
#include "block_instance.h"
#include "block_library.h"
#include "commands.h"
#include "errors.h"
#include "library_call.h"
#include "native_file.h"
#include "process_environment.h"
#include "project_file.h"
#include "tool_command_line.h"

namespace blockhost {
namespace {

int ShowCommand(const CommandLine& line) {
  BlockLibrary library(LibraryPath(line));
  const std::string name = library.Name();
  BlockInstance block(library);
  LoadProject(line.project, name, &block);
  printf("%s", DescribeSettings(ReadSettings(&block)).c_str());
  return kExitOk;
}

int SetCommand(const CommandLine& line) {
  BlockLibrary library(LibraryPath(line));
  const std::string name = library.Name();
  BlockInstance block(library);
  // A new project starts from the settings of a newly placed block.
  if (NativeFile::Exists(line.project)) {
    LoadProject(line.project, name, &block, line.fix_line_ends);
  } else if (line.fix_line_ends) {
    throw InputError("cannot open '" + line.project +
                     "' to fix its line ends: there is no such "
                     "file");
  }
  BlockSettings settings = ReadSettings(&block);
  // All or nothing: the first refused assignment ends the command before
  // anything is written.
  for (const std::string& assignment : line.assignments) {
    if (line.force) {
      ApplySetting(assignment, &settings);
    } else {
      ApplyDialogSetting(assignment, &settings);
    }
  }
  // An address that will not do what it seems to is stored all the same,
  // as the dialog stores it, but not without a word.
  for (const std::string& assignment : line.assignments) {
    if (assignment.rfind("address=", 0) != 0) continue;
    if (std::optional<std::string> note = AddressNote(settings.address)) {
      fprintf(stderr, "blockhost: note: address: %s\n", note->c_str());
    }
    break;
  }
  ApplySettings(settings, &block);
  SaveProject(line.project, name, &block);
  printf("%s", DescribeSettings(ReadSettings(&block)).c_str());
  return kExitOk;
}

// The options of show and configure: the library, and the project they
// work on.
void AddProjectOptions(CLI::App* command, CommandLine* line) {
  AddLibraryOption(command, line);
  AddProjectOption(command, line)->required();
}

void AddSetOptions(CLI::App* command, CommandLine* line) {
  AddProjectOptions(command, line);
  command
      ->add_flag("--force", line->force,
                 "write any integer, also one the dialog does\n"
                 "not offer (the file holds any)")
      ->disable_flag_override();
  command
      ->add_flag("--fix-line-ends", line->fix_line_ends,
                 "give F back the line ends that a program (an\n"
                 "editor, dos2unix, unix2dos, a transfer) changed")
      ->disable_flag_override();
  command->add_option("assignments", line->assignments, "the settings to change")
      ->type_name("KEY=VALUE...");
  command->callback([line] {
    if (line->assignments.empty() && !line->fix_line_ends) {
      tool_cli::Refuse("give at least one KEY=VALUE");
    }
  });
  command->footer(kSettingKeysHelp);
}

void AddConfigureOptions(CLI::App* command, CommandLine* line) {
  AddProjectOptions(command, line);
  command->footer(
      "exit status: 0 saved, 1 bad arguments or files, 2 library error, 10 nothing\n"
      "  changed (cancelled, closed, or OK without a change), 11 no display; only 0\n"
      "  writes F");
}

}  // namespace

const Command kShowCommand = {"show", "usage: blockhost show [--lib PATH] --project F\n",
                              "the block settings stored in F", AddProjectOptions, ShowCommand};

const Command kSetCommand = {
    "set",
    "usage: blockhost set [--lib PATH] --project F [--force] KEY=VALUE...\n"
    "       blockhost set [--lib PATH] --project F --fix-line-ends [KEY=VALUE...]\n",
    "change settings; creates F if missing", AddSetOptions, SetCommand};

const Command kConfigureCommand = {"configure",
                                   "usage: blockhost configure [--lib PATH] --project F\n",
                                   "edit the settings in the block's own\n"
                                   "dialog; OK saves F if they changed\n"
                                   "(creates it if missing)",
                                   AddConfigureOptions, ConfigureCommand};

int ConfigureCommand(const CommandLine& line) {
  BlockLibrary library(LibraryPath(line));
  const BlockExports& exports = library.exports();
  if (exports.CallParameterDialogDLL == nullptr) {
    throw LibraryError(library.path() + " has no settings dialog (CallParameterDialogDLL)");
  }
  const std::string name = library.Name();
  BlockInstance block(library);
  if (NativeFile::Exists(line.project)) LoadProject(line.project, name, &block);
  // The dialog is modal: the call returns when the user closes it, with the
  // settings stored only if they pressed OK.  The export tells a host
  // nothing more; Cancel never changes the settings, so settings that differ
  // afterwards were confirmed, and an OK that changed nothing needs no save.
  const std::string before = SettingsBytes(&block);
  CallLibrary([&] { exports.CallParameterDialogDLL(block.record(), 0); });
  if (SettingsBytes(&block) == before) {
    if (!HasDisplay()) {
      fprintf(stderr, "blockhost: no display for the settings dialog; '%s' not written\n",
              line.project.c_str());
      return kExitNoDisplay;
    }
    printf("nothing changed (cancelled, closed, or OK without a change); '%s' not written\n",
           line.project.c_str());
    return kExitCancelled;
  }
  SaveProject(line.project, name, &block);
  printf("%s", DescribeSettings(ReadSettings(&block)).c_str());
  return kExitOk;
}

}  // namespace blockhost
