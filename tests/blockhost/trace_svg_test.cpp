// The SVG plot read back as geometry: each digital channel in a lane of its
// own, PWM values and analog readings on an axis of 0..1023, and the wait
// for a serial port to open marked over exactly that stretch.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "trace.h"

namespace blockhost {
namespace {

struct Point {
  double x, y;
};

// The points of every channel's line, by the channel's name.
std::map<std::string, std::vector<Point>> Lines(const std::string& svg) {
  std::map<std::string, std::vector<Point>> lines;
  const std::regex polyline("<polyline data-channel=\"([^\"]*)\"[^>]* points=\"([^\"]*)\"");
  const std::regex point("(-?[0-9.]+),(-?[0-9.]+)");
  for (auto it = std::sregex_iterator(svg.begin(), svg.end(), polyline);
       it != std::sregex_iterator(); ++it) {
    const std::string points = (*it)[2];
    std::vector<Point>& line = lines[(*it)[1]];
    for (auto p = std::sregex_iterator(points.begin(), points.end(), point);
         p != std::sregex_iterator(); ++p) {
      line.push_back({std::stod((*p)[1]), std::stod((*p)[2])});
    }
  }
  return lines;
}

double MinY(const std::vector<Point>& line) {
  return std::min_element(line.begin(), line.end(), [](Point a, Point b) { return a.y < b.y; })->y;
}
double MaxY(const std::vector<Point>& line) {
  return std::max_element(line.begin(), line.end(), [](Point a, Point b) { return a.y < b.y; })->y;
}

// A trace of `steps` steps 50 ms apart with the given channels, each
// holding values(step).
Trace MakeTrace(int steps, const std::vector<TraceChannel>& shapes,
                const std::vector<double (*)(int)>& values) {
  Trace trace;
  trace.title = "test";
  trace.channels = shapes;
  for (int step = 0; step < steps; ++step) {
    trace.time_ms.push_back(step * 50.0);
    for (size_t c = 0; c < shapes.size(); ++c) trace.channels[c].values.push_back(values[c](step));
  }
  return trace;
}

TraceChannel Channel(const std::string& name, const std::string& panel, TraceScale scale) {
  TraceChannel channel;
  channel.name = name;
  channel.panel = panel;
  channel.plotted = true;
  channel.scale = scale;
  return channel;
}

double Square(int step) { return step % 4 < 2 ? 0.0 : 5.0; }
double SlowSquare(int step) { return step % 8 < 4 ? 5.0 : 0.0; }
double AlwaysHigh(int) { return 5.0; }

TEST(TraceSvgTest, EachDigitalChannelHasALaneOfItsOwn) {
  const Trace trace = MakeTrace(20,
                                {Channel("in Pin6", "levels", TraceScale::kLevel),
                                 Channel("in Pin7", "levels", TraceScale::kLevel),
                                 Channel("in Pin8", "levels", TraceScale::kLevel)},
                                {Square, SlowSquare, AlwaysHigh});
  std::map<std::string, std::vector<Point>> lines = Lines(RenderSvgPlot(trace));
  ASSERT_EQ(lines.size(), 3u);
  const std::vector<Point>&six = lines["in Pin6"], &seven = lines["in Pin7"],
        &eight = lines["in Pin8"];
  ASSERT_FALSE(six.empty());
  ASSERT_FALSE(seven.empty());
  ASSERT_FALSE(eight.empty());
  // Lanes one below the other, none reaching into the next: levels 0 and 5
  // of two channels never share a height.
  EXPECT_LT(MaxY(six), MinY(seven));
  EXPECT_LT(MaxY(seven), MinY(eight));
  // Within its lane a channel still shows both levels, high above low.
  EXPECT_GT(MaxY(six) - MinY(six), 10.0);
  EXPECT_GT(MaxY(seven) - MinY(seven), 10.0);
  // A channel that stays high stays at its lane's high level: the same
  // height above its lane's bottom as the others' highs.
  EXPECT_DOUBLE_EQ(MinY(eight), MaxY(eight));
  EXPECT_NEAR(MinY(eight) - MinY(seven), MinY(seven) - MinY(six), 0.2);
}

double Low(int) { return 0.0; }
double UpTo600(int step) { return step * 30.0; }
double Full(int) { return 1023.0; }
double Beyond(int) { return 2000.0; }

TEST(TraceSvgTest, CountsRunOnAnAxisOf0To1023) {
  const Trace trace = MakeTrace(
      20,
      {Channel("low", "pwm", TraceScale::kCount), Channel("up to 600", "pwm", TraceScale::kCount),
       Channel("full", "pwm", TraceScale::kCount), Channel("beyond", "pwm", TraceScale::kCount)},
      {Low, UpTo600, Full, Beyond});
  const std::string svg = RenderSvgPlot(trace);
  std::map<std::string, std::vector<Point>> lines = Lines(svg);
  // The axis does not stretch to what the values reach: 1023 is its top,
  // 600 sits at 600/1023 of it, and a value past 1023 stays at the top.
  const double bottom = MaxY(lines["low"]);
  const double top = MinY(lines["full"]);
  ASSERT_GT(bottom - top, 100.0);
  EXPECT_NEAR((bottom - MinY(lines["up to 600"])) / (bottom - top), 570.0 / 1023, 0.005);
  EXPECT_DOUBLE_EQ(MinY(lines["beyond"]), top);
  // The axis is labelled up to 1023 and no further.
  const std::regex label(">([0-9]+)</text>");
  double highest = 0;
  for (auto it = std::sregex_iterator(svg.begin(), svg.end(), label); it != std::sregex_iterator();
       ++it) {
    highest = std::max(highest, std::stod((*it)[1]));
  }
  EXPECT_EQ(highest, 1023);
}

TEST(TraceSvgTest, OpenPauseIsMarkedOverItsStretchOnly) {
  // The first step took 2 s (a serial port opening), the rest 50 ms each.
  Trace trace = MakeTrace(40,
                          {Channel("in Pin6", "levels", TraceScale::kLevel),
                           Channel("up to 600", "pwm", TraceScale::kCount)},
                          {Square, UpTo600});
  for (size_t i = 1; i < trace.time_ms.size(); ++i) trace.time_ms[i] = 2000.0 + i * 50.0;
  const std::regex mark(
      "<rect class=\"open-pause\" x=\"([0-9.]+)\" y=\"[0-9.]+\" width=\"([0-9.]+)\"");

  const std::string without = RenderSvgPlot(trace);
  EXPECT_FALSE(std::regex_search(without, mark)) << "a run without the wait is marked";

  trace.open_pause_ms = 2040.0;
  const std::string with = RenderSvgPlot(trace);
  const std::vector<Point> line = Lines(with)["in Pin6"];
  ASSERT_GE(line.size(), 3u);
  const double start_x = line[0].x;  // time 0
  const double step1_x = line[1].x;  // time 2050
  int marks = 0;
  for (auto it = std::sregex_iterator(with.begin(), with.end(), mark); it != std::sregex_iterator();
       ++it, ++marks) {
    const double x = std::stod((*it)[1]), width = std::stod((*it)[2]);
    EXPECT_NEAR(x, start_x, 0.1);
    // It ends where the first step did, just before the second began.
    EXPECT_NEAR(x + width, start_x + (step1_x - start_x) * 2040.0 / 2050.0, 0.2);
  }
  EXPECT_EQ(marks, 2) << "one mark in each panel";
}

// A sine around 2.5 V on a digital output, with a NaN among its values.
double SineAround2V5(int step) {
  return step == 7 ? std::numeric_limits<double>::quiet_NaN() : 2.5 + 2.5 * std::sin(step * 0.7);
}

TEST(TraceSvgTest, ADigitalOutputsLaneDrawsTheLevelSentAndTheInputDashedBeside) {
  TraceChannel sent = Channel("in Pin7", "levels", TraceScale::kLevel);
  sent.high_above = 2.5;
  const Trace trace = MakeTrace(20, {sent, Channel("in Pin8", "levels", TraceScale::kLevel)},
                                {SineAround2V5, Square});
  const std::string svg = RenderSvgPlot(trace);
  std::map<std::string, std::vector<Point>> lines = Lines(svg);
  const std::vector<Point>& level = lines["in Pin7"];
  const std::vector<Point>& input = lines["in Pin7 (input)"];
  ASSERT_EQ(level.size(), input.size());
  // The level takes two heights only, its lane's high and low, the same as
  // a square wave's in the next lane, one lane above it.
  const std::vector<Point>& square = lines["in Pin8"];
  const double lane = MaxY(square) - MaxY(level);
  ASSERT_GT(lane, 10.0);
  for (size_t i = 0; i < level.size(); ++i) {
    const double y = level[i].y;
    EXPECT_TRUE(std::abs(y - MinY(square) + lane) < 0.01 ||
                std::abs(y - MaxY(square) + lane) < 0.01)
        << "point " << i << " at " << y;
  }
  // Each step's value above 2.5 is high, at or below it and NaN low; each
  // step is drawn as two points, its start and its end.
  for (int step = 1; step < 20; ++step) {
    const double v = SineAround2V5(step);
    const bool high = level[2 * step].y < MaxY(level) - 1.0;
    EXPECT_EQ(high, v > 2.5) << "step " << step << " value " << v;
  }
  // The input lies between the two, not only on them.
  const auto between = std::count_if(input.begin(), input.end(), [&](Point p) {
    return p.y > MinY(level) + 1.0 && p.y < MaxY(level) - 1.0;
  });
  EXPECT_GT(between, 4);
  EXPECT_NE(svg.find("the level sent, high 5 V, low 0 V; dashed, the input"), std::string::npos);
  EXPECT_EQ(lines.count("in Pin8 (input)"), 0u) << "a level drawn as it is has no second line";
}

TEST(TraceSvgTest, NotesAndNamesAreEscaped) {
  Trace trace = MakeTrace(3, {Channel("in <Pin6>", "levels", TraceScale::kLevel)}, {Square});
  trace.notes = {"pins 6 & 7 wired back to 2 & 3"};
  const std::string svg = RenderSvgPlot(trace);
  EXPECT_NE(svg.find(">pins 6 &amp; 7 wired back to 2 &amp; 3<"), std::string::npos) << svg;
  EXPECT_EQ(svg.find("<Pin6>"), std::string::npos);
  EXPECT_EQ(Lines(svg).count("in &lt;Pin6&gt;"), 1u);
}

}  // namespace
}  // namespace blockhost
