// What `blockhost flash` settles before it runs anything: which board, which
// image, which avrdude with which configuration, and avrdude's command line;
// and, after it ran, what its output says went wrong.  No file is opened
// here: the places are looked at through a FileView, so the Windows search
// can be tried on any machine.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace blockhost {

// The Nano has the Uno's chip and pins and takes its images; one with the
// old bootloader (the nano-old) listens at another speed.
enum class FlashBoard { kUno, kMega2560, kNano, kNanoOld };

struct FlashBoardFacts {
  FlashBoard board;
  const char* option;      // what --board takes
  const char* name;        // what ports and messages call it
  const char* folder;      // firmware/<folder>/ holds its images
  const char* part;        // avrdude -p
  const char* programmer;  // avrdude -c: the protocol its bootloader speaks
  int32_t bootloader_baud;
  // The Mega's bootloader erases each page as it writes it and ignores a
  // chip erase; avrdude is told not to ask for one.
  bool no_chip_erase;
};

const FlashBoardFacts& FactsOf(FlashBoard board);
// "uno", "mega2560" (or "mega"), "nano" or "nano-old"; nothing for anything
// else.
std::optional<FlashBoard> BoardFromOption(std::string_view text);
// What --board takes, for messages: "uno, mega2560, nano or nano-old".
std::string BoardOptions();
// The board `ports` names from a port's USB identity; nothing for a bridge
// chip that sits on more than one board (a Nano's, or a clone's).
std::optional<FlashBoard> BoardFromUsbName(std::string_view likely_board);
// The board that a board's bootloader failing to answer most likely means:
// the Uno and the Mega 2560 speak each other's protocol no more than the
// Nano's two bootloaders each other's speed.
FlashBoard LikelyMixUp(FlashBoard board);

// The image a block with these settings needs: "arduino_block-115200.hex"
// for USB at 115200 baud, "arduino_block-ethernet.hex" for Ethernet.
std::string ImageFileName(bool ethernet, int32_t baud);

// How the search sees the file system.
struct FileView {
  std::function<bool(const std::string&)> is_file;
  // The names in a folder; empty for a missing one.
  std::function<std::vector<std::string>(const std::string&)> names_in;
};
FileView RealFiles();

// Where a search looked, in order, and what it found there.
struct Search {
  std::optional<std::string> found;
  std::vector<std::string> looked;
};

// The image FILE for BOARD in the first of the firmware folders that holds
// it (each folder holds one subfolder a board).
Search FindImage(const std::vector<std::string>& firmware_folders, FlashBoard board,
                 const std::string& file, const FileView& files);

struct AvrdudeTool {
  std::string program;
  std::string config;  // empty: the avrdude.conf the program was built with
};

// The places avrdude is looked for, in order: the program named with
// --avrdude, then every folder of PATH, then on Windows the Arduino IDE's own
// copy: the 1.x install folder under each Program Files, and the packages
// folder of IDE 2 and arduino-cli in the user's local application data,
// newest version first.
struct AvrdudePlaces {
  std::optional<std::string> named;
  std::string path_variable;
  bool windows = false;
  std::vector<std::string> program_files;  // both Program Files folders, where set
  std::string local_app_data;
};
AvrdudePlaces PlacesOfThisMachine(std::optional<std::string> named);

struct AvrdudeSearch {
  std::optional<AvrdudeTool> tool;
  std::vector<std::string> looked;
};
AvrdudeSearch FindAvrdude(const AvrdudePlaces& places, const FileView& files);

// avrdude's arguments (without the program) to write IMAGE and read it back.
std::vector<std::string> AvrdudeArguments(const AvrdudeTool& tool, FlashBoard board,
                                          const std::string& port_device, const std::string& image);

enum class AvrdudeFailure {
  kPortUnusable,  // it could not open the port
  kWrongChip,     // the chip's signature is not the board's
  kNoBootloader,  // nothing answered the bootloader's protocol
  kVerifyFailed,  // what was read back differs from the image
  kOther,
};
// What avrdude's output (its messages go to stderr) says went wrong.
AvrdudeFailure ClassifyAvrdudeOutput(std::string_view output);
// The last line of avrdude's output that reports an error, else its last
// line that says anything, for a message to quote; "no output" for none.
std::string LastErrorLine(std::string_view output);

}  // namespace blockhost
