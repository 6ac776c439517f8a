// blockhost run's plot against boardsim, over each link: a serial run marks
// the wait while the port opened, a UDP run has no such wait to mark, and
// the notes of the command line head the plot.
#include <gtest/gtest.h>

#include <optional>
#include <regex>

#include "e2e_harness.h"

namespace e2e {
namespace {

const std::regex kPauseMark(
    "<rect class=\"open-pause\" x=\"[0-9.]+\" y=\"[0-9.]+\" width=\"([0-9.]+)\"");

// Runs a few steps against `board` with the link `link_settings` and returns
// the plot.
std::string PlotOfRun(const TempDir& dir, const std::vector<std::string>& link_settings,
                      const std::vector<std::string>& environment) {
  const std::string project = dir.File("p.project");
  std::vector<std::string> set = {"set", "--project", project, "pin9=pwm"};
  set.insert(set.end(), link_settings.begin(), link_settings.end());
  EXPECT_EQ(Blockhost(set, environment).exit_code, 0);
  RunResult run =
      Blockhost({"run", "--project", project, "--steps", "4", "--period-ms", "20", "--input", "6=5",
                 "--plot-note", "pins 6 & 7 wired back", "--plot", dir.File("t.svg")},
                environment);
  EXPECT_EQ(run.exit_code, 0) << run.err;
  return ReadFile(dir.File("t.svg"));
}

TEST(BlockhostPlotTest, SerialRunMarksTheOpenPause) {
  TempDir dir;
  const std::string link = dir.File("tty");
  std::string error;
  std::optional<ChildProcess> board =
      harness::TryStartBoardsim(BOARDSIM_PATH, {"--pty", link, "--wire", "6=2"}, &error);
  ASSERT_TRUE(board) << error;
  const std::string svg =
      PlotOfRun(dir, {"interface=usb", "comport=9", "baud=115200"}, {"ARDUINO_BLOCK_COM9=" + link});
  std::smatch mark;
  ASSERT_TRUE(std::regex_search(svg, mark, kPauseMark)) << "no mark in a serial run's plot";
  // The block waits 2 s after opening the port: a wide stretch, not a sliver.
  EXPECT_GT(std::stod(mark[1]), 100.0);
  EXPECT_NE(svg.find(">pins 6 &amp; 7 wired back<"), std::string::npos);
}

TEST(BlockhostPlotTest, UdpRunHasNoOpenPause) {
  TempDir dir;
  std::string error;
  std::optional<ChildProcess> board =
      harness::TryStartBoardsim(BOARDSIM_PATH, {"--udp", "127.0.0.1:0", "--wire", "6=2"}, &error);
  ASSERT_TRUE(board) << error;
  const std::string svg = PlotOfRun(
      dir,
      {"interface=ethernet", "address=127.0.0.1", "udpport=" + std::to_string(board->udp_port())},
      {});
  ASSERT_NE(svg.find("data-channel=\"out Pin2\""), std::string::npos) << "the run drew nothing";
  EXPECT_FALSE(std::regex_search(svg, kPauseMark)) << "a UDP run's plot marks a pause";
}

}  // namespace
}  // namespace e2e
