// blockhost's own logic, without a library: signals, settings edits, the
// step-time summary, what the settings let a run expect of its steps, and
// the scratch file handed to the library.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "address_text.h"
#include "block_settings.h"
#include "call_watch.h"
#include "check_outcome.h"
#include "default_settings.h"
#include "errors.h"
#include "input_signal.h"
#include "local_address.h"
#include "native_file.h"
#include "run_messages.h"
#include "run_results.h"
#include "simulated_board.h"
#include "step_timing.h"

namespace blockhost {
namespace {

TEST(InputSignalTest, ShapesGiveTheirValuesThroughThePeriod) {
  const struct {
    const char* text;
    double time_ms;
    double value;
  } kCases[] = {
      {"3.7", 12345.0, 3.7},          {"-4", 0.0, -4.0},
      {"square:0:5:100", 0.0, 0.0},   {"square:0:5:100", 49.0, 0.0},
      {"square:0:5:100", 50.0, 5.0},  {"square:0:5:100", 99.0, 5.0},
      {"sine:2:1:400", 100.0, 3.0},   {"sine:2:1:400", 300.0, -1.0},
      {"ramp:10:20:100", 25.0, 12.5}, {"ramp:10:20:100", 100.0, 10.0},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(c.text) + " at " + std::to_string(c.time_ms));
    EXPECT_NEAR(InputSignal::Parse(c.text).ValueAt(c.time_ms), c.value, 1e-9);
  }
}

TEST(InputSignalTest, MalformedSignalsAndPinsAreRefused) {
  for (const char* text : {"6=", "6=abc", "6=sine:1:2", "6=ramp:0:1:-5", "6=square:a:1:10", "1=3",
                           "10=3", "x=3", "6", "6=nan", "6=3.7x"}) {
    SCOPED_TRACE(text);
    EXPECT_THROW(ParseInputAssignment(text), UsageError);
  }
  EXPECT_EQ(ParseInputAssignment("pin9=1").pin, 9);
}

TEST(BlockSettingsTest, AssignmentsTakeWordsAndIntegers) {
  const struct {
    const char* assignment;
    int32_t BlockSettings::*field;
    int32_t value;
  } kCases[] = {{"interface=usb", &BlockSettings::interface_kind, 1},
                {"interface=ethernet", &BlockSettings::interface_kind, 0},
                {"interface=7", &BlockSettings::interface_kind, 7},
                {"comport=12", &BlockSettings::com_port, 12},
                {"baud=-3", &BlockSettings::baud_rate, -3},
                {"udpport=1600", &BlockSettings::udp_port, 1600}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.assignment);
    BlockSettings settings;
    ApplySetting(c.assignment, &settings);
    EXPECT_EQ(settings.*c.field, c.value);
  }
  BlockSettings settings;
  ApplySetting("pin2=pwm", &settings);
  ApplySetting("pin9=input", &settings);
  ApplySetting("a5=used", &settings);
  ApplySetting("a0=9", &settings);
  EXPECT_EQ(settings.pin_mode[0], 3);
  EXPECT_EQ(settings.pin_mode[7], 1);
  EXPECT_EQ(settings.analog_used[5], 1);
  EXPECT_EQ(settings.analog_used[0], 9);
  for (const char* bad : {"pin10=input", "pin1=input", "a6=used", "pin3=on", "baud=", "baud=9k",
                          "colour=red", "=3", "address", "address=1.2\r\n3"}) {
    SCOPED_TRACE(bad);
    EXPECT_THROW(ApplySetting(bad, &settings), UsageError);
  }
}

// `set` without --force: a refused value leaves the settings as they were;
// a taken one is stored as the plain parser stores it.
TEST(BlockSettingsTest, DialogSettingsRefuseWhatTheDialogCannotStore) {
  for (const char* bad : {"udpport=70000", "comport=COM101", "baud=57600", "interface=2",
                          "pin4=pwm", "pin9=4", "a3=-1"}) {
    SCOPED_TRACE(bad);
    BlockSettings settings;
    BlockSettings forced;
    EXPECT_THROW(ApplyDialogSetting(bad, &settings), UsageError);
    EXPECT_EQ(FormatSettingsLines(settings), FormatSettingsLines(BlockSettings{}));
    ApplySetting(bad, &forced);
    EXPECT_NE(FormatSettingsLines(forced), FormatSettingsLines(BlockSettings{}));
  }
  for (const char* good : {"udpport=65535", "comport=COM100", "baud=115200", "interface=usb",
                           "pin5=pwm", "pin4=output", "a3=used", "address=anything"}) {
    SCOPED_TRACE(good);
    BlockSettings judged, plain;
    ApplyDialogSetting(good, &judged);
    ApplySetting(good, &plain);
    EXPECT_EQ(FormatSettingsLines(judged), FormatSettingsLines(plain));
  }
}

// check judges only the link the project names: a USB link does not care
// about the UDP port, nor an Ethernet link about the COM port or speed.
TEST(BlockSettingsTest, LinkRefusalJudgesTheLinkInUse) {
  BlockSettings usb;
  usb.interface_kind = 1, usb.com_port = 5, usb.baud_rate = 9600, usb.udp_port = 0;
  EXPECT_EQ(LinkRefusal(usb), std::nullopt);
  usb.baud_rate = 12345;
  EXPECT_NE(LinkRefusal(usb), std::nullopt);
  usb.baud_rate = 9600, usb.com_port = 0;
  EXPECT_NE(LinkRefusal(usb), std::nullopt);

  BlockSettings udp;
  udp.interface_kind = 0, udp.udp_port = 1600, udp.com_port = -3, udp.baud_rate = 0;
  EXPECT_EQ(LinkRefusal(udp), std::nullopt);
  udp.udp_port = 65536;
  EXPECT_NE(LinkRefusal(udp), std::nullopt);

  udp.udp_port = 1600, udp.interface_kind = 7;
  EXPECT_NE(LinkRefusal(udp), std::nullopt);
}

TEST(BlockSettingsTest, LinesOfTheWrongShapeAreRefused) {
  BlockSettings settings;
  settings.address = "10.0.0.1";
  const std::string lines = FormatSettingsLines(settings);
  EXPECT_EQ(ParseSettingsLines(lines).address, "10.0.0.1");
  EXPECT_THROW(ParseSettingsLines(lines.substr(0, lines.size() - 3)), InputError);
  EXPECT_THROW(ParseSettingsLines(lines + "0\r\n"), InputError);
  EXPECT_THROW(ParseSettingsLines("x" + lines), InputError);
}

TEST(StepTimingTest, MedianOfOddAndEvenCounts) {
  TimingSummary odd = Summarise({5.0, 1.0, 3.0});
  EXPECT_EQ(odd.count, 3u);
  EXPECT_EQ(odd.min_ms, 1.0);
  EXPECT_EQ(odd.median_ms, 3.0);
  EXPECT_EQ(odd.max_ms, 5.0);
  EXPECT_EQ(Summarise({4.0, 1.0, 2.0, 8.0}).median_ms, 3.0);
  EXPECT_EQ(Summarise({}).count, 0u);
}

// A new block's settings with its default pins (2..5 inputs, 6..9 outputs,
// all six analog inputs), on `interface_kind` at `baud`.
BlockSettings DefaultPins(int32_t interface_kind, int32_t baud) {
  BlockSettings s = arduino::testing::DefaultFields();
  s.interface_kind = interface_kind;
  s.baud_rate = baud;
  return s;
}

TEST(StepTimingTest, ExchangesAndBytesFollowThePinsInUse) {
  const LinkLoad all = LoadOf(DefaultPins(1, 9600));
  EXPECT_EQ(all.step_exchanges, 14);
  EXPECT_EQ(all.mode_exchanges, 14);
  // Commands of 5 bytes; HIGH, OK and four digits, each with CR LF.
  EXPECT_EQ(all.step_bytes, 14 * 5 + 4 * 6 + 4 * 4 + 6 * 6);
  EXPECT_NEAR(all.answered_step_ms, 152.0, 3.0);
  EXPECT_EQ(all.reply_wait_ms, 1000.0);
  EXPECT_EQ(all.open_pause_ms, 2000.0);
  EXPECT_NEAR(LoadOf(DefaultPins(1, 115200)).answered_step_ms, all.answered_step_ms / 12, 2.0);

  // A PWM pin is selected, then written: two exchanges a step, one mode.
  BlockSettings pwm;
  pwm.pin_mode = {0, 0, 0, 0, 0, 0, 0, 3};
  const LinkLoad one_pwm = LoadOf(pwm);
  EXPECT_EQ(one_pwm.step_exchanges, 2);
  EXPECT_EQ(one_pwm.mode_exchanges, 1);
  EXPECT_EQ(one_pwm.reply_wait_ms, 100.0);
  EXPECT_EQ(one_pwm.open_pause_ms, 0.0);
  EXPECT_EQ(one_pwm.silent_step_ms(), 200.0);

  // Unused pins and inputs cost nothing.
  BlockSettings none;
  none.analog_used = {0, 0, 0, 0, 0, 0};
  EXPECT_EQ(LoadOf(none).step_exchanges, 0);
  EXPECT_EQ(LoadOf(none).answered_step_ms, 0.0);
}

TEST(StepTimingTest, StepsAsLongAsEveryWaitLookSilent) {
  const LinkLoad udp = LoadOf(DefaultPins(0, 9600));  // 14 exchanges of 100 ms
  EXPECT_TRUE(StepLooksSilent(udp, 1402.0));
  EXPECT_FALSE(StepLooksSilent(udp, 700.0));
  // The first step: its modes and its step, all waiting.
  EXPECT_TRUE(FirstStepLooksSilent(udp, 2810.0));
  EXPECT_FALSE(FirstStepLooksSilent(udp, 1400.0));

  // Over serial the first step pauses after opening the port, which is no
  // wait for a reply.
  BlockSettings one_input;
  one_input.interface_kind = 1;
  one_input.baud_rate = 9600;
  one_input.pin_mode = {1, 0, 0, 0, 0, 0, 0, 0};
  const LinkLoad serial = LoadOf(one_input);
  EXPECT_TRUE(FirstStepLooksSilent(serial, 4010.0));
  EXPECT_FALSE(FirstStepLooksSilent(serial, 2030.0));
  EXPECT_TRUE(StepLooksSilent(serial, 1002.0));
  EXPECT_FALSE(StepLooksSilent(serial, 15.0));

  // With nothing to exchange, nothing waits.
  BlockSettings none;
  EXPECT_FALSE(StepLooksSilent(LoadOf(none), 5000.0));
  EXPECT_FALSE(FirstStepLooksSilent(LoadOf(none), 5000.0));
}

// Every stretch of silent steps counts, wherever in the run it lies: a board
// lost in the last steps leaves the typical step looking fine.
TEST(StepTimingTest, EveryStretchOfSilentStepsIsKeptWithWhereItBegan) {
  const LinkLoad udp = LoadOf(DefaultPins(0, 9600));  // silent steps take 1400 ms
  const double kFirst = 30.0, kOk = 15.0, kSilent = 1402.0, kSilentFirst = 2810.0;
  const struct {
    const char* name;
    std::vector<double> steps_ms;
    std::vector<std::pair<long, long>> stretches;
  } kCases[] = {
      {"all answered", {kFirst, kOk, kOk, kOk}, {}},
      {"lost in the last steps",
       {kFirst, kOk, kOk, kOk, kOk, kOk, kOk, kSilent, kSilent},
       {{8, 9}}},
      {"one silent step", {kFirst, kOk, kSilent, kOk}, {{3, 3}}},
      {"silent from the start", {kSilentFirst, kSilent}, {{1, 2}}},
      {"lost twice", {kFirst, kSilent, kOk, kSilent, kSilent, kOk}, {{2, 2}, {4, 5}}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    SilenceLog log(udp);
    int began = 0, ended = 0;
    for (double ms : c.steps_ms) {
      const SilenceLog::Change change = log.Record(ms);
      began += change == SilenceLog::Change::kBegan;
      ended += change == SilenceLog::Change::kEnded;
    }
    std::vector<std::pair<long, long>> found;
    for (const SilentStretch& s : log.stretches()) found.emplace_back(s.first_step, s.last_step);
    EXPECT_EQ(found, c.stretches);
    EXPECT_EQ(began, static_cast<int>(c.stretches.size()));
    EXPECT_EQ(ended, static_cast<int>(c.stretches.size()) -
                         (!c.stretches.empty() &&
                                  c.stretches.back().second == static_cast<long>(c.steps_ms.size())
                              ? 1
                              : 0));
  }
}

// What the watch says while a library call lasts, and that it is silent
// once the call has returned.
TEST(CallWatchTest, TellsALateCallOnceAndBeatsWhileItLasts) {
  using namespace std::chrono_literals;
  std::atomic<int> late{0}, beats{0};
  CallWatch watch(
      40ms, [&] { ++late; }, [&](CallWatch::Clock::duration) { ++beats; });

  watch.Begin(10ms);
  std::this_thread::sleep_for(200ms);
  watch.End();
  EXPECT_EQ(late, 1);
  EXPECT_GE(beats, 1);
  const int beats_in_call = beats;
  std::this_thread::sleep_for(150ms);
  EXPECT_EQ(beats, beats_in_call) << "a heartbeat after the call had returned";

  // A call that returns in time, and one whose wait was told beforehand.
  watch.Begin(5s);
  std::this_thread::sleep_for(100ms);
  watch.End();
  EXPECT_EQ(late, 1);
  EXPECT_GT(beats, beats_in_call);
  const int beats_before_quiet = beats;
  watch.Begin(std::nullopt, 5s);
  std::this_thread::sleep_for(100ms);
  watch.End();
  EXPECT_EQ(beats, beats_before_quiet) << "a heartbeat during the quiet time";
}

TEST(StepTimingTest, TheDefaultPeriodIsOneTheLinkCanKeep) {
  EXPECT_EQ(DefaultPeriodMs(LoadOf(DefaultPins(1, 9600))), 200.0) << "some 150 ms a step";
  EXPECT_EQ(DefaultPeriodMs(LoadOf(DefaultPins(1, 38400))), 100.0)
      << "38 ms on the line and 14 through the USB bridge";
  EXPECT_EQ(DefaultPeriodMs(LoadOf(DefaultPins(1, 115200))), 50.0);
  EXPECT_EQ(DefaultPeriodMs(LoadOf(DefaultPins(0, 9600))), 50.0) << "UDP: about 1 ms an exchange";
  BlockSettings one_input;
  one_input.interface_kind = 1;
  one_input.baud_rate = 9600;
  one_input.pin_mode = {1, 0, 0, 0, 0, 0, 0, 0};
  one_input.analog_used = {0, 0, 0, 0, 0, 0};
  EXPECT_EQ(DefaultPeriodMs(LoadOf(one_input)), 50.0);
}

TEST(StepTimingTest, TheRateSaysWhatHeldItBack) {
  const struct {
    size_t steps;
    double span_ms, median_ms, period_ms;
    const char* text;
  } kCases[] = {
      {99, 4950.0, 13.2, 50.0,
       "20.0 steps a second, held to the period; the board's steps (median 13.20 ms) would allow "
       "about 76 a second with --period-ms 0"},
      {99, 1386.0, 14.0, 0.0, "71.4 steps a second, as fast as the link goes"},
      {10, 2000.0, 200.0, 50.0, "5.0 steps a second, held back by the board"},
      {0, 0.0, 0.0, 50.0, ""},
      {1, 0.0, 3.0, 50.0, ""},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(RateText(c.steps, c.span_ms, c.median_ms, c.period_ms), c.text) << c.steps;
  }
}

TEST(RunMessagesTest, AStepsFirstBeatSaysHowLongItCanWaitAndWhatToRun) {
  CommandLine line;
  line.project = "slow.prj";
  const BlockSettings settings = DefaultPins(1, 9600);
  const LinkLoad load = LoadOf(settings);
  RunMessages messages(line, settings, load, false, RunMessages::Clock::now());
  testing::internal::CaptureStderr();
  messages.TellStillWaiting(1, std::chrono::seconds(4));
  messages.TellStillWaiting(1, std::chrono::seconds(6));
  messages.TellStillWaiting(2, std::chrono::seconds(2));
  const std::string told = testing::internal::GetCapturedStderr();
  // 14 modes and 14 exchanges of up to 1 s each after the 2 s pause.
  EXPECT_EQ(told,
            "blockhost: step 1 has waited 4 s for the board so far; a board that answers none of "
            "its 28 exchanges keeps it up to 30 s, and `blockhost check --project slow.prj` finds "
            "out why\n"
            "blockhost: step 1 has waited 6 s for the board so far\n"
            "blockhost: step 2 has waited 2 s for the board so far; a board that answers none of "
            "its 14 exchanges keeps it up to 14 s, and `blockhost check --project slow.prj` finds "
            "out why\n");
}

IoDescription BlockIo() {
  IoDescription io;
  for (int pin = kFirstPin; pin < kFirstPin + kDigitalPins; ++pin) {
    io.inputs.push_back("Pin" + std::to_string(pin));
    io.outputs.push_back("Pin" + std::to_string(pin));
  }
  for (int k = 0; k < kAnalogInputs; ++k) io.outputs.push_back("A" + std::to_string(k));
  return io;
}

TEST(RunResultsTest, OnlyADigitalOutputIsDrawnAsTheLevelSent) {
  BlockSettings settings = DefaultPins(1, 115200);
  settings.pin_mode = {1, 2, 3, 0, 2, 0, 0, 0};
  const Trace trace = TraceFor(CommandLine{}, "Arduino", settings, BlockIo(), {});
  for (size_t c = 0; c < trace.channels.size(); ++c) {
    const bool output_pin = c == 1 || c == 4;  // in Pin3 and in Pin6
    EXPECT_EQ(trace.channels[c].high_above, output_pin ? std::optional<double>(2.5) : std::nullopt)
        << trace.channels[c].name;
  }
}

TEST(RunResultsTest, ASummaryWithoutAFinishedStepSaysSo) {
  CommandLine line;
  line.steps = 5;
  line.period_ms = 200;
  const BlockSettings settings = DefaultPins(1, 9600);
  Trace trace = TraceFor(line, "Arduino", settings, BlockIo(), {});
  testing::internal::CaptureStdout();
  PrintSummary(line, trace, settings, 0.0, {}, 0, Written{});
  const std::string none = testing::internal::GetCapturedStdout();
  EXPECT_NE(none.find("outputs at the end: none, as no step finished\n"), std::string::npos)
      << none;
  EXPECT_EQ(none.find("rate"), std::string::npos) << none;

  // Three steps: the first (2 s with the open pause), then two of 10 ms
  // 200 ms apart.
  trace.time_ms = {0.0, 2000.0, 2200.0};
  for (TraceChannel& channel : trace.channels) channel.values = {1.0, 1.0, 1.0};
  testing::internal::CaptureStdout();
  PrintSummary(line, trace, settings, 2000.0, {10.0, 10.0}, 0, Written{});
  const std::string three = testing::internal::GetCapturedStdout();
  EXPECT_NE(three.find("rate            9.5 steps a second, held to the period"), std::string::npos)
      << three;
  EXPECT_NE(three.find("outputs at the end:\n  out Pin2"), std::string::npos) << three;
}

TEST(SimulatedBoardTest, TheTerminalIndexAndTheLoopbackPortAreReadFromProc) {
  EXPECT_EQ(TerminalIndexOf("pos:\t0\nflags:\t02104002\nmnt_id:\t24\nino:\t90\ntty-index:\t3\n"),
            3);
  EXPECT_EQ(TerminalIndexOf("pos:\t0\nflags:\t02\n"), std::nullopt) << "no master";
  EXPECT_EQ(TerminalIndexOf("xtty-index:\t3\n"), std::nullopt) << "only a key of its own";
  const std::string udp =
      "   sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  "
      "timeout inode ref pointer drops\n"
      "  807: 0100007F:BFBA 00000000:0000 07 00000000:00000000 00:00000000 00000000     0      "
      "  0 1725659 2 0000000014fafeda 0\n"
      "  808: 00000000:0640 00000000:0000 07 00000000:00000000 00:00000000 00000000     0      "
      "  0 1725660 2 0000000014fafedb 0\n";
  EXPECT_EQ(LoopbackUdpPortOf(udp, {1725659}), 0xBFBA);
  EXPECT_EQ(LoopbackUdpPortOf(udp, {1725660}), std::nullopt) << "bound to any address";
  EXPECT_EQ(LoopbackUdpPortOf(udp, {42}), std::nullopt) << "another program's socket";
}

TEST(StepTimingTest, TheSlowestFasterSpeedThatFitsThePeriod) {
  EXPECT_EQ(SpeedThatFits(DefaultPins(1, 9600), 50.0), 38400);
  EXPECT_EQ(SpeedThatFits(DefaultPins(1, 9600), 100.0), 19200);
  EXPECT_EQ(SpeedThatFits(DefaultPins(1, 9600), 20.0), 115200);
  EXPECT_EQ(SpeedThatFits(DefaultPins(1, 9600), 5.0), std::nullopt);
  EXPECT_EQ(SpeedThatFits(DefaultPins(1, 115200), 5.0), std::nullopt) << "nothing faster";
  EXPECT_EQ(SpeedThatFits(DefaultPins(0, 9600), 5.0), std::nullopt) << "UDP has no speed";
}

TEST(CheckOutcomeTest, TheReplyIsTakenFromEitherPlatformsConversionMessage) {
  const struct {
    std::string message;
    std::optional<std::string> reply;
  } kCases[] = {
      {"'' ist kein g\xC3\xBCltiger Gleitkommawert", ""},  // UTF-8, a silent board
      {"'' ist kein g\xFCltiger Gleitkommawert", ""},      // CP-1252
      {"'OK' ist kein g\xC3\xBCltiger Gleitkommawert", "OK"},
      {"'a' ist kein g' ist kein g\xFCltiger Gleitkommawert", "a' ist kein g"},
      {"''' ist kein g\xFCltiger Gleitkommawert", "'"},
      {"'5' ist kein g\xC3\xBCltiger Integerwert", std::nullopt},  // a settings line
      {"Null Remote Address", std::nullopt},
      {"' ist kein g\xFCltiger Gleitkommawert", std::nullopt},
      {"'x' ist kein gltiger Gleitkommawert", std::nullopt},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.message);
    EXPECT_EQ(ReplyOfConversionError(c.message), c.reply);
  }
}

TEST(CheckOutcomeTest, RepliesAreShownWithControlAndHighBytesEscaped) {
  EXPECT_EQ(EscapedReply(""), "\"\"");
  EXPECT_EQ(EscapedReply("512"), "\"512\"");
  EXPECT_EQ(EscapedReply(std::string("a\"b\\c\x7F\xF0\x01", 8)), "\"a\\\"b\\\\c\\x7F\\xF0\\x01\"");
}

TEST(CheckOutcomeTest, AnotherSpeedIsLookedForAmongTheDialogsOthersInItsOrder) {
  EXPECT_EQ(OtherDialogSpeeds(9600), (std::vector<int32_t>{19200, 38400, 115200}));
  EXPECT_EQ(OtherDialogSpeeds(38400), (std::vector<int32_t>{9600, 19200, 115200}));
  // A speed the dialog does not offer leaves all four to try.
  EXPECT_EQ(OtherDialogSpeeds(57600), (std::vector<int32_t>{9600, 19200, 38400, 115200}));
}

TEST(CheckOutcomeTest, OnlyWholeNumbersAnAnalogInputCanReadCountAsTheBoard) {
  for (const double value : {0.0, 1.0, 512.0, 1023.0}) EXPECT_TRUE(IsAnalogReading(value)) << value;
  for (const double value : {-1.0, 1024.0, 0.5, 1e300, -0.25}) {
    EXPECT_FALSE(IsAnalogReading(value)) << value;
  }
}

// Replace leaves exactly the new bytes, however long the old ones were, and
// the file rewound; Position follows reads, and Contents leaves it alone.
TEST(NativeFileTest, ReplaceLeavesJustTheNewBytesRewound) {
  struct Case {
    std::string before;
    std::string after;
  };
  for (const Case& c :
       {Case{"", "abc"}, Case{"a longer text", "short"}, Case{"abc", ""}, Case{"same", "same"}}) {
    NativeFile file = NativeFile::Scratch();
    file.Write(c.before);
    file.Replace(c.after);
    EXPECT_EQ(file.Contents(), c.after) << "after '" << c.before << "'";
    EXPECT_EQ(file.Position(), 0);
    char byte = 0;
    for (size_t k = 0; k < c.after.size(); ++k) {
      ASSERT_TRUE(file.ReadByte(&byte));
      EXPECT_EQ(byte, c.after[k]);
      EXPECT_EQ(file.Position(), static_cast<int64_t>(k + 1));
    }
    EXPECT_FALSE(file.ReadByte(&byte)) << "read past '" << c.after << "'";
    EXPECT_EQ(file.Contents(), c.after);
    EXPECT_EQ(file.Position(), static_cast<int64_t>(c.after.size()));
  }
}

// Addresses read as the socket library reads them, and what `set` says of
// those that will not do what they seem to.  All of it is reading text: a
// host name such as "board.local" is only recognised as one, never looked
// up, so nothing here leaves the machine.
TEST(AddressTextTest, DottedAddressesAreReadAsTheSocketLibraryReadsThem) {
  const struct {
    const char* text;
    std::optional<uint32_t> read;
    const char* note;  // a part of the note, or nullptr for none
  } kCases[] = {
      {"192.168.0.121", 0xC0A80079u, nullptr},
      {"10.0.0.300", std::nullopt, "is no IPv4 address"},
      {"1.2.3.4.5", std::nullopt, "Host Lookup Canceled"},
      {"255.255.255.255", std::nullopt, "255.255.255.255 cannot be sent to"},
      {"010.0.0.1", 0x08000001u, "is read as 8.0.0.1"},
      {"0x7f.1", 0x7F000001u, "is read as 127.0.0.1"},
      {"10.1", 0x0A000001u, "is read as 10.0.0.1"},
      {"10.256", 0x0A000100u, "is read as 10.0.1.0"},
      {"0.0.0.0", 0u, "Null Remote Address"},
      {"", std::nullopt, "an empty address names this computer"},
      {"board.local", std::nullopt, nullptr},
      {"1.2.3.", std::nullopt, "is no IPv4 address"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(ReadDottedAddress(c.text), c.read);
    const std::optional<std::string> note = AddressNote(c.text);
    if (c.note == nullptr) {
      EXPECT_EQ(note, std::nullopt);
    } else {
      ASSERT_TRUE(note);
      EXPECT_NE(note->find(c.note), std::string::npos) << *note;
    }
  }
}

TEST(LocalAddressTest, OnlyAddressesOfThisMachineCountAsItsOwn) {
  EXPECT_TRUE(IsAddressOfThisMachine("127.0.0.1"));
  EXPECT_TRUE(IsAddressOfThisMachine("127.0.0.2")) << "all of 127.0.0.0/8 is loopback";
  EXPECT_TRUE(IsAddressOfThisMachine("localhost"));
  // A documentation address, which no machine has; binding sends nothing.
  EXPECT_FALSE(IsAddressOfThisMachine("192.0.2.1"));
  EXPECT_FALSE(IsAddressOfThisMachine(""));
}

}  // namespace
}  // namespace blockhost
