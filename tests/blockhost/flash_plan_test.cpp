// What `flash` settles before it runs avrdude: where avrdude is found on a
// machine laid out as Windows lays out the IDE's copies, which image and
// which avrdude line a board gets, and what avrdude's own words mean.
#include "flash_plan.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <set>

#include "program_run.h"
#include "tool_api/port_names.h"

namespace blockhost {
namespace {

// A file system of a few named files.
struct FakeFiles {
  std::set<std::string> files;
  FileView View() const {
    return {[this](const std::string& path) { return files.count(path) > 0; },
            [this](const std::string& folder) {
              std::set<std::string> names;
              for (const std::string& path : files) {
                if (path.rfind(folder + "\\", 0) != 0) continue;
                const std::string rest = path.substr(folder.size() + 1);
                names.insert(rest.substr(0, rest.find('\\')));
              }
              return std::vector<std::string>(names.begin(), names.end());
            }};
  }
};

constexpr char kIde86[] = R"(C:\Program Files (x86)\Arduino\hardware\tools\avr)";
constexpr char kPackages[] = R"(C:\Users\u\AppData\Local\Arduino15\packages\arduino\tools\avrdude)";

AvrdudePlaces WindowsPlaces() {
  AvrdudePlaces places;
  places.windows = true;
  places.path_variable = R"(C:\Windows\system32;;C:\Tools\)";
  places.program_files = {R"(C:\Program Files (x86))", R"(C:\Program Files)"};
  places.local_app_data = R"(C:\Users\u\AppData\Local)";
  return places;
}

TEST(FlashPlanTest, WindowsLooksInPathThenTheIdesOwnCopiesNewestFirst) {
  const std::string ide86 = std::string(kIde86) + R"(\bin\avrdude.exe)";
  const std::string ide86_conf = std::string(kIde86) + R"(\etc\avrdude.conf)";
  const std::string v6_9 = std::string(kPackages) + R"(\6.3.0-arduino9)";
  const std::string v6_17 = std::string(kPackages) + R"(\6.3.0-arduino17)";
  const struct {
    const char* what;
    std::set<std::string> files;
    std::string program;
    std::string config;
  } kCases[] = {
      {"PATH first, with avrdude's own configuration",
       {R"(C:\Tools\avrdude.exe)", ide86, ide86_conf},
       R"(C:\Tools\avrdude.exe)",
       ""},
      {"the IDE 1.x with its configuration", {ide86, ide86_conf}, ide86, ide86_conf},
      {"an IDE copy without its configuration", {ide86}, ide86, ""},
      {"the newest package, by number rather than by text",
       {v6_9 + R"(\bin\avrdude.exe)", v6_9 + R"(\etc\avrdude.conf)", v6_17 + R"(\bin\avrdude.exe)",
        v6_17 + R"(\etc\avrdude.conf)"},
       v6_17 + R"(\bin\avrdude.exe)",
       v6_17 + R"(\etc\avrdude.conf)"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    FakeFiles files{c.files};
    const AvrdudeSearch search = FindAvrdude(WindowsPlaces(), files.View());
    ASSERT_TRUE(search.tool.has_value());
    EXPECT_EQ(search.tool->program, c.program);
    EXPECT_EQ(search.tool->config, c.config);
  }
}

TEST(FlashPlanTest, AFailedSearchNamesEveryPlaceInOrderAndANamedProgramIsTheOnlyOne) {
  FakeFiles none;
  const AvrdudeSearch search = FindAvrdude(WindowsPlaces(), none.View());
  EXPECT_FALSE(search.tool.has_value());
  EXPECT_EQ(search.looked, (std::vector<std::string>{
                               R"(C:\Windows\system32\avrdude.exe)",
                               R"(C:\Tools\avrdude.exe)",
                               std::string(kIde86) + R"(\bin\avrdude.exe)",
                               R"(C:\Program Files\Arduino\hardware\tools\avr\bin\avrdude.exe)",
                               std::string(kPackages) + R"(\<version>\bin\avrdude.exe)",
                           }));

  // A program named on the command line that is not there is not quietly
  // replaced by another one on PATH.
  AvrdudePlaces named = WindowsPlaces();
  named.named = R"(D:\avr\avrdude.exe)";
  FakeFiles on_path{{R"(C:\Tools\avrdude.exe)"}};
  const AvrdudeSearch missing = FindAvrdude(named, on_path.View());
  EXPECT_FALSE(missing.tool.has_value());
  EXPECT_EQ(missing.looked, std::vector<std::string>{R"(D:\avr\avrdude.exe)"});

  AvrdudePlaces linux_places;
  linux_places.path_variable = "/usr/local/bin:/usr/bin";
  FakeFiles debian{
      {"/usr/bin/avrdude", R"(C:\Program Files\Arduino\hardware\tools\avr\bin\avrdude.exe)"}};
  const AvrdudeSearch found = FindAvrdude(linux_places, debian.View());
  ASSERT_TRUE(found.tool.has_value());
  EXPECT_EQ(found.tool->program, "/usr/bin/avrdude");
  EXPECT_EQ(found.looked.size(), 2u);
}

TEST(FlashPlanTest, TheBoardsUsbNamesAreTheOnesThePortListGives) {
  const struct {
    uint16_t vendor;
    uint16_t product;
    std::optional<FlashBoard> board;
  } kIds[] = {
      {0x2341, 0x0043, FlashBoard::kUno},
      {0x2A03, 0x0042, FlashBoard::kMega2560},
      // A Nano's bridge chip, or a clone's, says nothing about the chip
      // behind it, nor which bootloader a Nano has.
      {0x1A86, 0x7523, std::nullopt},
      {0x0403, 0x6001, std::nullopt},
  };
  for (const auto& id : kIds) {
    EXPECT_EQ(BoardFromUsbName(arduino::LikelyBoard(id.vendor, id.product)), id.board)
        << arduino::LikelyBoard(id.vendor, id.product);
  }
}

TEST(FlashPlanTest, EveryBoardOptionNamesItsBoardAndItsBootloadersSpeed) {
  const struct {
    const char* option;
    std::optional<FlashBoard> board;
    int32_t baud;
  } kOptions[] = {
      {"uno", FlashBoard::kUno, 115200},
      {"mega2560", FlashBoard::kMega2560, 115200},
      {"mega", FlashBoard::kMega2560, 115200},
      {"nano", FlashBoard::kNano, 115200},
      {"nano-old", FlashBoard::kNanoOld, 57600},
      {"leonardo", std::nullopt, 0},
      {"Nano", std::nullopt, 0},
  };
  for (const auto& option : kOptions) {
    SCOPED_TRACE(option.option);
    EXPECT_EQ(BoardFromOption(option.option), option.board);
    if (option.board) {
      EXPECT_EQ(FactsOf(*option.board).bootloader_baud, option.baud);
    }
  }
}

TEST(FlashPlanTest, EachBoardGetsItsImageAndItsBootloadersLine) {
  FakeFiles tree{{"/x/firmware/mega2560/arduino_block-ethernet.hex",
                  "/y/firmware/mega2560/arduino_block-9600.hex"}};
  const Search image = FindImage({"/x/firmware", "/y/firmware"}, FlashBoard::kMega2560,
                                 ImageFileName(false, 9600), tree.View());
  EXPECT_EQ(image.found, "/y/firmware/mega2560/arduino_block-9600.hex");
  EXPECT_EQ(image.looked.size(), 2u);
  EXPECT_FALSE(FindImage({"/x/firmware"}, FlashBoard::kUno, ImageFileName(true, 0), tree.View())
                   .found.has_value());

  EXPECT_EQ(AvrdudeArguments({"avrdude", ""}, FlashBoard::kUno, "/dev/ttyACM0", "u.hex"),
            (std::vector<std::string>{"-p", "atmega328p", "-c", "arduino", "-P", "/dev/ttyACM0",
                                      "-b", "115200", "-U", "flash:w:u.hex:i"}));
  EXPECT_EQ(AvrdudeArguments({"avrdude.exe", "a.conf"}, FlashBoard::kMega2560, "COM12", "m.hex"),
            (std::vector<std::string>{"-C", "a.conf", "-p", "atmega2560", "-c", "wiring", "-P",
                                      "COM12", "-b", "115200", "-D", "-U", "flash:w:m.hex:i"}));
  // The old Nano bootloader listens at 57600.
  EXPECT_EQ(AvrdudeArguments({"avrdude", ""}, FlashBoard::kNanoOld, "/dev/ttyUSB0", "n.hex"),
            (std::vector<std::string>{"-p", "atmega328p", "-c", "arduino", "-P", "/dev/ttyUSB0",
                                      "-b", "57600", "-U", "flash:w:n.hex:i"}));
}

TEST(FlashPlanTest, AvrdudesOwnWordsTellTheFailure) {
  // As avrdude 7.1 and the 6.3 of the IDE's copies word them.
  const std::map<std::string, AvrdudeFailure> kOutputs = {
      {"avrdude OS error: cannot open port /dev/ttyNOPE: No such file or directory\n"
       "avrdude error: unable to open programmer arduino on port /dev/ttyNOPE\n",
       AvrdudeFailure::kPortUnusable},
      {"avrdude: ser_open(): can't open device \"\\\\.\\COM7\": Access is denied.\n",
       AvrdudeFailure::kPortUnusable},
      {"avrdude: Device signature = 0x1e950f (probably m328p)\n"
       "avrdude error: expected signature for ATmega2560 is 1E 98 01\n",
       AvrdudeFailure::kWrongChip},
      {"avrdude: Yikes!  Invalid device signature.\n", AvrdudeFailure::kWrongChip},
      {"avrdude error: programmer is not responding\n"
       "avrdude warning: attempt 10 of 10: not in sync: resp=0x00\n",
       AvrdudeFailure::kNoBootloader},
      {"avrdude error: timeout communicating with programmer\n"
       "avrdude error: unable to open programmer wiring on port /dev/pts/1\n",
       AvrdudeFailure::kNoBootloader},
      {"avrdude: stk500v2_ReceiveMessage(): timeout\n", AvrdudeFailure::kNoBootloader},
      {"avrdude: verification error, first mismatch at byte 0x0000\n",
       AvrdudeFailure::kVerifyFailed},
      {"avrdude error: unknown part id atmega9\n", AvrdudeFailure::kOther},
  };
  for (const auto& [output, failure] : kOutputs) {
    EXPECT_EQ(ClassifyAvrdudeOutput(output), failure) << output;
  }
}

TEST(FlashPlanTest, TheQuotedLineIsAvrdudesLastErrorNotItsFarewell) {
  const std::pair<std::string, std::string> kOutputs[] = {
      // "avrdude done" comes after the error and says nothing of it.
      {"avrdude error: timeout communicating with programmer\n"
       "avrdude error: unable to open programmer wiring on port /dev/pts/1\n\n"
       "avrdude done.  Thank you.\n\n",
       "avrdude error: unable to open programmer wiring on port /dev/pts/1"},
      // The 6.3 of the IDE's copies: CR LF, no "error" in its words.
      {"avrdude: stk500_recv(): programmer is not responding\r\n"
       "avrdude: stk500_getsync() attempt 10 of 10: not in sync: resp=0x00\r\n"
       "\r\navrdude done.  Thank you.\r\n",
       "avrdude: stk500_getsync() attempt 10 of 10: not in sync: resp=0x00"},
      // The progress bar redraws itself with CR alone and ends in spaces.
      {"Writing | ####      | 40% 0.50s\rWriting | ######## | 100% 1.00s   \n",
       "Writing | ######## | 100% 1.00s"},
      {"", "no output"},
      {"\r\n  \n", "no output"},
  };
  for (const auto& [output, line] : kOutputs) EXPECT_EQ(LastErrorLine(output), line) << output;
}

TEST(ProgramRunTest, ArgumentsReachTheProgramWholeAndItsOutputAndExitComeBack) {
  // Windows parses a command line back into arguments by its own rules;
  // these are the cases its quoting must survive.
  const std::map<std::string, std::string> kQuoted = {
      {"flash:w:a.hex:i", "flash:w:a.hex:i"},
      {R"(C:\Program Files (x86)\Arduino\avrdude.conf)",
       R"("C:\Program Files (x86)\Arduino\avrdude.conf")"},
      {"", R"("")"},
      {R"(a "b")", R"("a \"b\"")"},
      {R"(C:\dir with space\)", R"("C:\dir with space\\")"},
  };
  for (const auto& [argument, quoted] : kQuoted) EXPECT_EQ(QuotedForWindows(argument), quoted);

  const ProgramRun run =
      RunProgramEchoing("/bin/sh", {"-c", "printf 'out '; printf 'err' >&2; exit 3"});
  EXPECT_TRUE(run.started);
  EXPECT_EQ(run.exit_code, 3);
  EXPECT_EQ(run.output, "out err");
  const ProgramRun missing = RunProgramEchoing("/nonexistent/avrdude", {});
  EXPECT_FALSE(missing.started);
  EXPECT_NE(missing.why_not.find("No such file"), std::string::npos) << missing.why_not;
}

}  // namespace
}  // namespace blockhost
