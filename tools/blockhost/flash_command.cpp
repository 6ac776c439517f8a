// `blockhost flash`: writes the firmware image a block needs to the board on
// a COM port with avrdude, then checks that the board answers as the block
// will talk to it.  What to run is settled in flash_plan.h; this file says
// what happens, in order, and what a user reads when a step fails.
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "address_text.h"
#include "block_instance.h"
#include "block_library.h"
#include "commands.h"
#include "errors.h"
#include "flash_plan.h"
#include "held_port.h"
#include "process_environment.h"
#include "program_run.h"
#include "project_file.h"
#include "tool_api/port_list.h"
#include "tool_api/port_names.h"
#include "tool_command_line.h"

namespace blockhost {
namespace {

// What `flash` takes beyond the CommandLine that `check` and
// `board-address` share with it.  One command runs per process, so one set
// of these is enough; the options are bound to it when the table adds them.
struct FlashOptions {
  std::optional<std::string> board;  // --board, as typed
  bool ethernet = false;             // --ethernet
  bool baud_given = false;           // --baud
  std::optional<std::string> avrdude;
  std::string firmware_dir;
};
FlashOptions g_options;

// The setup console of the Ethernet image runs at this speed whatever the
// image's UDP link; `board-address` opens the port at it by default.
constexpr int32_t kConsoleBaud = 9600;
// How long the Ethernet image may take to start after its port opens: a
// restart through the bootloader and the shield's set-up.  Twice what
// `board-address` waits by default, since a wait cut short here loses a
// run of avrdude; it ends as soon as the start line comes.
constexpr int32_t kConsoleStartWaitMs = 8000;

// The image the block needs: its link and speed.
struct Wanted {
  bool ethernet = false;
  int32_t baud = 9600;
  std::string address;  // Ethernet: what the board is to answer at; empty to leave it
  std::optional<int32_t> project_com_port;  // a serial project's own port
};

Wanted WantedOfProject(const CommandLine& line) {
  BlockLibrary library(LibraryPath(line));
  BlockInstance block(library);
  LoadProject(line.project, library.Name(), &block);
  const BlockSettings settings = ReadSettings(&block);
  Wanted wanted;
  wanted.ethernet = !settings.OverSerial();
  wanted.baud = settings.baud_rate;
  wanted.address = settings.address;
  if (settings.OverSerial()) wanted.project_com_port = settings.com_port;
  return wanted;
}

// The board on COM n: what its USB identity says, held against --board.
FlashBoard ChooseBoard(int32_t com_port) {
  std::string usb_name;
  for (const arduino::SerialPortInfo& port : arduino::ListSerialPorts()) {
    if (port.com_port == com_port) usb_name = port.likely_board;
  }
  const std::optional<FlashBoard> by_usb = BoardFromUsbName(usb_name);
  std::optional<FlashBoard> named;
  if (g_options.board) named = BoardFromOption(*g_options.board);
  if (by_usb && named && *by_usb != *named) {
    throw UsageError("COM" + std::to_string(com_port) + " is an " + FactsOf(*by_usb).name +
                     " by its USB identity, but --board says " + *g_options.board);
  }
  if (by_usb) return *by_usb;
  if (named) return *named;
  // A bridge chip sits on more than one board (a Nano's FTDI or CH340 on a
  // clone of any), and nothing on the port tells a Nano's bootloader from
  // the old one: a wrong guess is found out only after the port was reset.
  const std::string what =
      usb_name.empty() ? "its USB identity is not a board's" : "it is an " + usb_name;
  throw UsageError("cannot tell which board is on COM" + std::to_string(com_port) + " (" + what +
                   "): name it with --board " + BoardOptions() +
                   " (nano-old: a Nano with the old bootloader, as most clones have)");
}

std::vector<std::string> FirmwareFolders() {
  if (!g_options.firmware_dir.empty()) return {g_options.firmware_dir};
  // The release archives put firmware/ beside blockhost; in the build tree
  // blockhost sits in build/native and the images in build/firmware.
  const std::filesystem::path here = ExecutableDirectory();
  return {(here / "firmware").generic_string(), (here.parent_path() / "firmware").generic_string()};
}

// The images of BOARD that the folders hold, by their file names.
std::vector<std::string> ImagesThere(const std::vector<std::string>& folders, FlashBoard board,
                                     const FileView& files) {
  std::vector<std::string> images;
  for (const std::string& folder : folders) {
    for (const std::string& name : files.names_in(folder + "/" + FactsOf(board).folder)) {
      if (name.size() > 4 && name.compare(name.size() - 4, 4, ".hex") == 0) images.push_back(name);
    }
  }
  return images;
}

int ReportNoImage(const Search& search, const std::vector<std::string>& folders, FlashBoard board,
                  const std::string& file, const FileView& files) {
  fprintf(stderr, "blockhost: no image %s for the %s; looked at\n", file.c_str(),
          FactsOf(board).name);
  for (const std::string& place : search.looked) fprintf(stderr, "  %s\n", place.c_str());
  const std::vector<std::string> images = ImagesThere(folders, board, files);
  if (images.empty()) {
    fprintf(stderr, "  there is no image for this board there at all\n");
  } else {
    fprintf(stderr, "  images there for this board:");
    for (const std::string& name : images) fprintf(stderr, " %s", name.c_str());
    fprintf(stderr, "\n");
  }
  fprintf(stderr,
          "  - the release archive's firmware/ folder holds every image; --firmware-dir names it\n"
          "  - or build them from the source tree: firmware/build.sh\n");
  return kExitNoImage;
}

int ReportNoAvrdude(const AvrdudeSearch& search, bool named) {
  fprintf(stderr, "blockhost: %s; looked at\n",
          named ? "no avrdude at the path --avrdude gives" : "avrdude not found");
  for (const std::string& place : search.looked) fprintf(stderr, "  %s\n", place.c_str());
  fprintf(stderr,
          "  - Debian and Ubuntu: sudo apt install avrdude\n"
          "  - Windows: install the Arduino IDE, whose own avrdude is found, or pass --avrdude\n"
          "  - or name the program with --avrdude PATH\n");
  return kExitNoAvrdude;
}

// The line of avrdude's output that says what failed, for a failure the
// classification does not know better.
void ReportAvrdudeFailure(const ProgramRun& run, int32_t com_port, FlashBoard board) {
  const std::string where = PortWithDevice(com_port);
  switch (ClassifyAvrdudeOutput(run.output)) {
    case AvrdudeFailure::kPortUnusable:
      fprintf(stderr, "blockhost: avrdude could not open %s\n  %s\n", where.c_str(),
              UnopenedPortText(com_port).c_str());
      return;
    case AvrdudeFailure::kWrongChip:
      fprintf(stderr,
              "blockhost: the chip on %s is not the %s's (%s): avrdude read another signature\n"
              "  - is the board on this port the one named? --board %s\n",
              where.c_str(), FactsOf(board).name, FactsOf(board).part, BoardOptions().c_str());
      return;
    case AvrdudeFailure::kNoBootloader: {
      // The Uno's and the Mega's bootloaders speak different protocols, and
      // the Nano's two the same one at different speeds, so a board of the
      // other kind never gets as far as the signature check: it just does
      // not answer.
      const FlashBoardFacts& other = FactsOf(LikelyMixUp(board));
      const std::string why = other.programmer == std::string(FactsOf(board).programmer)
                                  ? "listens at " + std::to_string(other.bootloader_baud) + " baud"
                                  : "speaks another protocol";
      fprintf(stderr,
              "blockhost: the %s's bootloader did not answer on %s: %s\n"
              "  - is it the board? `blockhost ports` lists the ports and marks likely boards\n"
              "  - is it an %s? Its bootloader %s: --board %s\n"
              "  - a board without a bootloader, or with a cut reset line, cannot be flashed "
              "over USB\n",
              FactsOf(board).name, where.c_str(), LastErrorLine(run.output).c_str(), other.name,
              why.c_str(), other.option);
      return;
    }
    case AvrdudeFailure::kVerifyFailed:
      fprintf(stderr,
              "blockhost: what avrdude read back differs from the image: %s\n"
              "  - flash again; a board that fails twice may have worn flash\n",
              LastErrorLine(run.output).c_str());
      return;
    case AvrdudeFailure::kOther:
      fprintf(stderr, "blockhost: avrdude failed (exit %d): %s\n", run.exit_code,
              LastErrorLine(run.output).c_str());
      return;
  }
}

int ExitOfAvrdudeFailure(const ProgramRun& run) {
  switch (ClassifyAvrdudeOutput(run.output)) {
    case AvrdudeFailure::kPortUnusable:
      return kExitPortUnusable;
    case AvrdudeFailure::kWrongChip:
      return kExitWrongChip;
    default:
      return kExitAvrdudeFailed;
  }
}

// The address the Ethernet image is to take, as the board's console takes
// it: a dotted address.  A host name in the project is the computer's
// business, not the board's, and is left alone.
std::optional<std::string> AddressToSet(const Wanted& wanted) {
  if (wanted.address.empty()) return std::nullopt;
  if (!ReadDottedAddress(wanted.address)) {
    printf("note: %s is no dotted address; the board keeps the one it has\n",
           wanted.address.c_str());
    return std::nullopt;
  }
  return wanted.address;
}

// After a good flash: the board's address set where there is one to set,
// then the check, whose exit status is passed on.
int SetUpAndCheck(const CommandLine& line, const Wanted& wanted) {
  CommandLine check = line;
  check.command = "check";
  check.baud_rate = wanted.baud;
  if (wanted.ethernet) {
    const std::optional<std::string> address = AddressToSet(wanted);
    CommandLine setting = line;
    setting.command = "board-address";
    setting.baud_rate = kConsoleBaud;
    setting.restart_wait_ms = kConsoleStartWaitMs;
    setting.board_address = address.value_or("");
    if (const int status = BoardAddressCommand(setting)) {
      fprintf(stderr, "blockhost: the board was flashed, but its address could not be %s\n",
              address ? "set" : "read");
      return status;
    }
    // Over UDP: at the project's address and port, or at the one given.
    check.com_port.reset();
    if (line.project.empty()) {
      if (!address) {
        printf("no --address given: the check over UDP is left out\n");
        return kExitOk;
      }
      check.address = *address;
    }
  }
  printf("checking the board\n");
  fflush(stdout);
  const int status = CheckCommand(check);
  if (status != kExitOk) {
    fprintf(stderr, "blockhost: the board was flashed, but does not answer as the block needs\n");
  }
  return status;
}

int FlashCommand(const CommandLine& line) {
  const int32_t com_port = *line.com_port;
  Wanted wanted;
  if (!line.project.empty()) {
    wanted = WantedOfProject(line);
    // The board flashed is the one asked for; the project goes on naming its
    // own, which the next check or run then opens.
    if (wanted.project_com_port && *wanted.project_com_port != com_port) {
      printf(
          "note: the project's link is COM%d; this flashes and checks COM%d as asked (`%s "
          "comport=%d` makes the project use it)\n",
          *wanted.project_com_port, com_port, CommandWithProject("set", line).c_str(), com_port);
    }
  } else {
    wanted.ethernet = g_options.ethernet;
    wanted.baud = line.baud_rate;
    wanted.address = line.address;
  }
  const FlashBoard board = ChooseBoard(com_port);
  const FileView files = RealFiles();

  const std::string file = ImageFileName(wanted.ethernet, wanted.baud);
  const std::vector<std::string> folders = FirmwareFolders();
  const Search image = FindImage(folders, board, file, files);
  if (!image.found) return ReportNoImage(image, folders, board, file, files);

  const std::string device = DeviceOrSayNone(com_port);
  if (device.empty()) return kExitPortUnusable;
  // avrdude would fight a program that holds the port for the bootloader's
  // replies, and lose some of them.
  if (std::optional<std::string> held = HeldPortText(com_port)) {
    fprintf(stderr, "blockhost: %s\n", held->c_str());
    return kExitPortUnusable;
  }

  const AvrdudeSearch found = FindAvrdude(PlacesOfThisMachine(g_options.avrdude), files);
  if (!found.tool) return ReportNoAvrdude(found, g_options.avrdude.has_value());
  const AvrdudeTool& tool = *found.tool;

  printf("flashing %s to the %s on %s with %s%s\n", image.found->c_str(), FactsOf(board).name,
         PortWithDevice(com_port).c_str(), tool.program.c_str(),
         tool.config.empty() ? "" : (" (" + tool.config + ")").c_str());
  fflush(stdout);
  const ProgramRun run =
      RunProgramEchoing(tool.program, AvrdudeArguments(tool, board, device, *image.found));
  if (!run.started) {
    fprintf(stderr, "blockhost: cannot start %s: %s\n", tool.program.c_str(), run.why_not.c_str());
    return kExitNoAvrdude;
  }
  if (run.exit_code != 0) {
    ReportAvrdudeFailure(run, com_port, board);
    return ExitOfAvrdudeFailure(run);
  }
  printf("flashed %s\n", file.c_str());
  fflush(stdout);
  return SetUpAndCheck(line, wanted);
}

void AddFlashOptions(CLI::App* command, CommandLine* line) {
  // Each parse starts afresh, as the CommandLine it fills does.
  g_options = FlashOptions();
  AddLibraryOption(command, line);
  AddProjectOption(command, line);
  AddBoardPortOption(command, line);
  tool_cli::AddValueOption(command, "--baud", "B",
                           "without a project: the image for this speed,\n"
                           "9600 (default), 19200, 38400 or 115200",
                           [line](const std::string& text) {
                             line->baud_rate = ParseNumberOption("--baud", text, 1, INT32_MAX);
                             if (line->baud_rate != 9600 && line->baud_rate != 19200 &&
                                 line->baud_rate != 38400 && line->baud_rate != 115200) {
                               tool_cli::Refuse("--baud",
                                                "the images run at 9600, 19200, "
                                                "38400 or 115200");
                             }
                             g_options.baud_given = true;
                           });
  command->add_flag("--ethernet", g_options.ethernet,
                    "without a project: the image for the Ethernet\nshield");
  tool_cli::AddValueOption(
      command, "--address", "A",
      "with --ethernet: the address the board is to\ntake, and where it is checked",
      [line](const std::string& text) {
        if (!ReadDottedAddress(text)) tool_cli::Refuse("--address", "'" + text + "' is no A.B.C.D");
        line->address = text;
      });
  tool_cli::AddValueOption(command, "--board", "BOARD",
                           "uno, mega2560, nano or nano-old (a Nano with\n"
                           "the old bootloader, at 57600 baud), where the\n"
                           "port's USB identity does not tell",
                           [](const std::string& text) {
                             if (!BoardFromOption(text)) {
                               tool_cli::Refuse("--board", "'" + text + "': " + BoardOptions());
                             }
                             g_options.board = text;
                           });
  tool_cli::AddValueOption(command, "--avrdude", "PATH", "the avrdude program to run",
                           [](const std::string& text) { g_options.avrdude = text; });
  tool_cli::AddValueOption(command, "--firmware-dir", "DIR",
                           "the folder of the images (default: firmware/\nbeside blockhost)",
                           [](const std::string& text) { g_options.firmware_dir = text; });
  command->footer(
      "exit status: 0 flashed and the board answers, 1 bad arguments or files, 2 library\n"
      "  error, 3 no answer after flashing, 4 an answer that is no number, 5 the port cannot\n"
      "  be opened, 6 the board refused the address, 8 the board answers at another speed,\n"
      "  12 no image, 13 no avrdude, 14 the chip is not the board named, 15 avrdude failed");
  command->callback([line] {
    if (!line->project.empty() && (g_options.ethernet || g_options.baud_given)) {
      tool_cli::Refuse("--project picks the image; --baud and --ethernet go without it");
    }
    if (g_options.ethernet && g_options.baud_given) {
      tool_cli::Refuse("--baud goes with a USB image, not with --ethernet");
    }
    if (!line->address.empty() && (!g_options.ethernet || !line->project.empty())) {
      tool_cli::Refuse("--address goes with --ethernet, without a project");
    }
  });
}

}  // namespace

const Command kFlashCommand = {
    "flash",
    "usage: blockhost flash --comport N [--board BOARD] [--lib PATH]\n"
    "                       [--project F | --baud B | --ethernet [--address A]]\n"
    "                       [--avrdude PATH] [--firmware-dir DIR]\n",
    "write the block's firmware image to the\n"
    "board with avrdude, then check the board",
    AddFlashOptions, FlashCommand};

}  // namespace blockhost
