// The settings block in the host's project file.
#include "tool_api/settings_block.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "base/convert.h"
#include "default_settings.h"
#include "settings_record.h"
#include "test_support.h"

namespace arduino {
namespace {

using hostmodel::SettingsText;
using testing::HostBlock;
using testing::ScratchFile;

const char kDefaultBlock[] =
    "0\r\n1\r\n9600\r\n192.168.0.121\r\n1600\r\n"
    "1\r\n1\r\n1\r\n1\r\n2\r\n2\r\n2\r\n2\r\n"
    "1\r\n1\r\n1\r\n1\r\n1\r\n1\r\n";

// The same defaults line by line.
const std::vector<std::string> kDefaultLines = [] {
  std::vector<std::string> lines;
  const std::string block = kDefaultBlock;
  for (size_t start = 0, end; (end = block.find("\r\n", start)) != std::string::npos;
       start = end + 2) {
    lines.push_back(block.substr(start, end - start));
  }
  return lines;
}();

// The default lines with some replaced: {line (1-based), its text}.
std::vector<std::string> DefaultsWith(std::initializer_list<std::pair<int, std::string>> replaced) {
  std::vector<std::string> lines = kDefaultLines;
  for (const auto& [line, text] : replaced) lines[line - 1] = text;
  return lines;
}

// The 19 fields of a block as text, in file order, for comparing with lines.
std::vector<std::string> FieldsOf(TUserData& d) {
  std::vector<std::string> fields = {std::to_string(d.InterfaceKind), std::to_string(d.ComPort),
                                     std::to_string(d.BaudRate), d.IPAddress,
                                     std::to_string(d.UdpPort)};
  for (int pin = 2; pin <= 9; ++pin) fields.push_back(std::to_string(d.PinMode[pin]));
  for (int32_t used : d.AnalogUsed) fields.push_back(std::to_string(used));
  return fields;
}

// Puts a value in every field that no line of a test file holds, so that a
// field the reader did not reach is told apart from one it stored.
void MarkUntouched(TUserData& d) {
  d.InterfaceKind = d.ComPort = d.BaudRate = d.UdpPort = -7;
  d.IPAddress = "untouched";
  for (int pin = 2; pin <= 9; ++pin) d.PinMode[pin] = -7;
  d.AnalogUsed.fill(-7);
}

// What reading `text` came to, into a block whose every field was marked
// untouched: the error (empty when none), whether a conversion raised it,
// where the file was left, and the fields.
struct ReadOutcome {
  std::string error;
  bool conversion = false;
  off_t position = 0;
  std::vector<std::string> fields;
};

ReadOutcome ReadBlock(const std::string& text) {
  ScratchFile file;
  file.Replace(text);
  HostBlock block;
  MarkUntouched(block.data());
  ReadOutcome outcome;
  try {
    ReadFromFile(file.handle(), block.record());
  } catch (const EConvertError& e) {
    outcome.conversion = true;
    outcome.error = e.what();
  } catch (const Exception& e) {
    outcome.error = e.what();
  }
  outcome.position = file.Position();
  outcome.fields = FieldsOf(block.data());
  return outcome;
}

// The fields of such a block once the first `read` of `lines` were stored.
std::vector<std::string> FieldsAfter(const std::vector<std::string>& lines, int read) {
  HostBlock block;
  MarkUntouched(block.data());
  std::vector<std::string> fields = FieldsOf(block.data());
  std::copy(lines.begin(), lines.begin() + read, fields.begin());
  return fields;
}

TEST(SettingsBlockTest, DefaultsAreTheseSeventyFiveBytes) {
  HostBlock block;
  ScratchFile file;
  WriteToFile(file.handle(), block.record());
  EXPECT_EQ(file.Contents(), kDefaultBlock);
  EXPECT_EQ(file.Contents().size(), 75u);
  EXPECT_EQ(SettingsText(kDefaultLines), kDefaultBlock);
  EXPECT_EQ(hostmodel::FormatSettingsLines(testing::DefaultFields()), kDefaultBlock);
}

TEST(SettingsBlockTest, OddValuesSurviveARoundTrip) {
  HostBlock writer;
  TUserData& w = writer.data();
  w.InterfaceKind = 7;
  w.ComPort = -1;
  w.BaudRate = 57600;
  w.IPAddress = "";
  w.UdpPort = INT32_MIN;
  w.PinMode[2] = -1;
  w.PinMode[3] = pmPWMOutput;
  w.PinMode[9] = INT32_MAX;
  w.AnalogUsed[5] = 0;
  w.AnalogUsed[0] = 42;
  ScratchFile file;
  WriteToFile(file.handle(), writer.record());
  file.Rewind();
  HostBlock reader;
  ReadFromFile(file.handle(), reader.record());
  TUserData& r = reader.data();
  EXPECT_EQ(r.InterfaceKind, 7);
  EXPECT_EQ(r.ComPort, -1);
  EXPECT_EQ(r.BaudRate, 57600);
  EXPECT_EQ(r.IPAddress, "");
  EXPECT_EQ(r.UdpPort, INT32_MIN);
  for (int pin = 2; pin <= 9; ++pin) EXPECT_EQ(r.PinMode[pin], w.PinMode[pin]) << pin;
  EXPECT_EQ(r.AnalogUsed, w.AnalogUsed);
  EXPECT_EQ(file.Position(), static_cast<off_t>(file.Contents().size()));
}

TEST(SettingsBlockTest, ReadingStopsRightAfterTheLastLine) {
  ScratchFile file;
  file.Replace(std::string(kDefaultBlock) + "HOST DATA");
  HostBlock block;
  block.data().InterfaceKind = 3;
  ReadFromFile(file.handle() | 0xABCD0000u, block.record());  // only the low 16 bits count
  EXPECT_EQ(file.Position(), 75);
  EXPECT_EQ(block.data().InterfaceKind, 0);
}

TEST(SettingsBlockTest, LinesEndOnlyAtCarriageReturnLineFeed) {
  ScratchFile file;
  std::string address = std::string("a\rb\nc") + '\0' + "hidden";
  file.Replace(SettingsText(DefaultsWith({{1, " 12"}, {4, address}})));
  HostBlock block;
  ReadFromFile(file.handle(), block.record());
  EXPECT_EQ(block.data().InterfaceKind, 12);
  EXPECT_EQ(block.data().IPAddress, "a\rb\nc");
}

TEST(SettingsBlockTest, ConversionFailureStopsAtItsLine) {
  for (const std::string bad : {"", "12 ", "x", "1.5"}) {
    const std::string first_two = SettingsText({"1", bad});
    const ReadOutcome read = ReadBlock(first_two + SettingsText({"115200", "10.0.0.1", "8888"}));
    EXPECT_TRUE(read.conversion);
    EXPECT_EQ(read.error, "'" + bad + "' ist kein g" + testing::kUUmlaut + "ltiger Integerwert");
    EXPECT_EQ(read.fields, FieldsAfter({"1"}, 1)) << "line 1 was stored before line 2 failed";
    EXPECT_EQ(read.position, static_cast<off_t>(first_two.size()));
  }
}

TEST(SettingsBlockTest, TruncatedBlockFailsClearlyWithoutWaiting) {
  const std::string full = kDefaultBlock;
  for (size_t cut : {size_t{0}, size_t{1}, size_t{4}, full.size() - 1}) {
    const ReadOutcome read = ReadBlock(full.substr(0, cut));
    EXPECT_NE(read.error.find("ends inside"), std::string::npos) << cut << ": " << read.error;
  }
}

// A file that ends early says what it lacks: a whole line (deleted, say the
// address) shows as the last line missing, a cut one as that line cut.
TEST(SettingsBlockTest, AnEarlyEndNamesTheLineItLacks) {
  std::vector<std::string> without_address = kDefaultLines;
  without_address.erase(without_address.begin() + 3);
  const struct {
    const char* name;
    std::string text;
    const char* message;
  } kCases[] = {
      {"address deleted", SettingsText(without_address),
       "it holds 18 of their 19 lines, so line 19, the use of A5, is missing"},
      {"cut after line 7", SettingsText({"0", "1", "9600", "10.0.0.1", "1600", "1", "1"}),
       "it holds 7 of their 19 lines, so line 8, the mode of pin 4, is missing"},
      {"cut inside line 2", "0\r\n1", "line 2 of 19, the COM port, is incomplete"},
  };
  for (const auto& c : kCases) {
    const ReadOutcome read = ReadBlock(c.text);
    EXPECT_NE(read.error.find(c.message), std::string::npos) << c.name << ": " << read.error;
  }
}

TEST(SettingsBlockTest, OverlongLinesAreRefusedAtTheBufferLimit) {
  std::string longest(kMaxReadLineText, 'h');
  ScratchFile file;
  file.Replace(SettingsText(DefaultsWith({{4, longest}})));
  HostBlock block;
  ReadFromFile(file.handle(), block.record());
  EXPECT_EQ(block.data().IPAddress, longest);

  const ReadOutcome overlong =
      ReadBlock(SettingsText({"0", "1", "9600", std::string(10000, 'h'), "1600"}));
  EXPECT_NE(overlong.error.find("longer than 999"), std::string::npos) << overlong.error;
  EXPECT_LE(overlong.position, 3 + 2 + 3 + 6 + kLineBufferSize);
}

// One line of an otherwise good block replaced by something hostile.  Each
// row says how reading ends: stored (the field reads `stored`), a conversion
// error naming the line's text up to any zero byte, or a line too long for
// the buffer, which reads exactly the buffer's 1001 bytes of that line.
TEST(SettingsBlockTest, HostileLinesFailAtTheirLineAndKeepWhatCameBefore) {
  enum class Ends { kStored, kNotAnInteger, kTooLong };
  const struct {
    int line;  // 1-based
    std::string text;
    Ends ends;
    std::string stored;  // the field's value for kStored
  } kRows[] = {
      {1, "2147483648", Ends::kNotAnInteger, ""},
      {3, "-2147483649", Ends::kNotAnInteger, ""},
      {5, "99999999999999999999", Ends::kNotAnInteger, ""},
      {12, "0x80000000", Ends::kNotAnInteger, ""},
      {19,
       std::string("\0"
                   "7",
                   2),
       Ends::kNotAnInteger, ""},
      {6, "\x80\xff\xfe\x01", Ends::kNotAnInteger, ""},
      {2, std::string("12\0junk", 7), Ends::kStored, "12"},
      {4, std::string("10.0.0.1\0\xff\xfe", 11), Ends::kStored, "10.0.0.1"},
      {5, "2147483647", Ends::kStored, "2147483647"},
      {1, std::string(10000, '7'), Ends::kTooLong, ""},
      {7, std::string(1000, '1'), Ends::kTooLong, ""},
      {4, std::string(1000, '\0'), Ends::kTooLong, ""},
      {19, std::string(10000, '\xff'), Ends::kTooLong, ""},
  };
  for (const auto& row : kRows) {
    SCOPED_TRACE("line " + std::to_string(row.line) + ", " + std::to_string(row.text.size()) +
                 " bytes");
    const std::vector<std::string> lines = DefaultsWith({{row.line, row.text}});
    const std::string before = SettingsText({lines.begin(), lines.begin() + row.line - 1});
    const ReadOutcome read = ReadBlock(SettingsText(lines) + "HOST DATA");
    std::vector<std::string> expected = FieldsAfter(kDefaultLines, row.line - 1);
    switch (row.ends) {
      case Ends::kStored:
        EXPECT_EQ(read.error, "");
        expected = DefaultsWith({{row.line, row.stored}});
        EXPECT_EQ(read.position, static_cast<off_t>(SettingsText(lines).size()));
        break;
      case Ends::kNotAnInteger:
        EXPECT_EQ(read.error, "'" + std::string(row.text.c_str()) + "' ist kein g" +
                                  testing::kUUmlaut + "ltiger Integerwert");
        EXPECT_EQ(read.position, static_cast<off_t>(before.size() + row.text.size() + 2));
        break;
      case Ends::kTooLong:
        EXPECT_EQ(read.error, "Line " + std::to_string(row.line) +
                                  " of the block's settings in the project file is longer than "
                                  "999 characters");
        EXPECT_EQ(read.position, static_cast<off_t>(before.size() + kLineBufferSize));
        break;
    }
    EXPECT_EQ(read.fields, expected);
  }
}

// Blocks of random damage against a line-by-line model of the reader: good
// lines with some replaced by random bytes (CR, LF and zero among them), some
// near the buffer's limit, some files cut short.  Every one must end as the
// model says, at the model's position, with the model's fields stored.
TEST(SettingsBlockTest, RandomBytesEndWhereALineByLineModelSays) {
  std::mt19937 random(20261208);
  auto chance = [&](int percent) {
    return std::uniform_int_distribution<int>(0, 99)(random) < percent;
  };
  auto byte = [&] {
    static const char kLikely[] = {'\r', '\n', '\0', '0', '1', '-', '$', ' '};
    return chance(30) ? kLikely[std::uniform_int_distribution<size_t>(0, 7)(random)]
                      : static_cast<char>(std::uniform_int_distribution<int>(0, 255)(random));
  };
  int outcomes[4] = {};
  for (int round = 0; round < 400; ++round) {
    std::vector<std::string> lines = kDefaultLines;
    for (std::string& line : lines) {
      if (chance(8)) {
        line.clear();
        const int length = std::uniform_int_distribution<int>(0, 12)(random);
        for (int k = 0; k < length; ++k) line += byte();
      } else if (chance(2)) {
        line = std::string(std::uniform_int_distribution<size_t>(995, 1003)(random), '5');
        if (chance(50)) line.back() = '\r';
      }
    }
    std::string text = SettingsText(lines);
    if (chance(15)) text.resize(std::uniform_int_distribution<size_t>(0, text.size())(random));

    // The model: a line ends at the first CR LF and its text stops at a
    // zero byte; the end of the file inside a line is a truncated block.
    enum Outcome { kRead, kNotAnInteger, kTooLong, kTruncated };
    Outcome outcome = kRead;
    size_t position = 0;
    std::vector<std::string> fields;
    for (int k = 0; k < kSettingsLines && outcome == kRead; ++k) {
      const size_t end = text.find("\r\n", position);
      // The buffer is full after 1001 bytes: a line whose CR LF comes later,
      // or 1001 bytes left without any, cannot be read.
      const bool too_long = end == std::string::npos
                                ? text.size() - position >= static_cast<size_t>(kLineBufferSize)
                                : end + 2 - position > static_cast<size_t>(kLineBufferSize);
      if (too_long) {
        outcome = kTooLong;
        position += kLineBufferSize;
      } else if (end == std::string::npos) {
        outcome = kTruncated;
        position = text.size();
      } else {
        const std::string value = text.substr(position, end - position).c_str();
        position = end + 2;
        if (k == 3) {
          fields.push_back(value);
        } else if (std::optional<int32_t> number = TryStrToInt(value)) {
          fields.push_back(std::to_string(*number));
        } else {
          outcome = kNotAnInteger;
        }
      }
    }
    ++outcomes[outcome];

    const ReadOutcome read = ReadBlock(text);
    const Outcome got = read.conversion                                       ? kNotAnInteger
                        : read.error.empty()                                  ? kRead
                        : read.error.find("longer than") != std::string::npos ? kTooLong
                                                                              : kTruncated;
    SCOPED_TRACE("round " + std::to_string(round));
    ASSERT_EQ(got, outcome);
    ASSERT_EQ(read.position, static_cast<off_t>(position));
    ASSERT_EQ(read.fields, FieldsAfter(fields, static_cast<int>(fields.size())));
  }
  // The damage is varied enough to reach every ending.
  for (int outcome = 0; outcome < 4; ++outcome) EXPECT_GT(outcomes[outcome], 0) << outcome;
}

// A block whose line ends a program rewrote.  Where the lines run together
// to the file's end or past the line buffer, the failure names the cause in
// words and carries no raw line break.  Where a line still ends in CR LF but
// its text holds a lone CR or LF, it is an integer line that does not
// convert, with the framework's message quoting the text as read.  Either
// way the load stops where a damaged block always stops, with the fields
// before the damaged line read.
TEST(SettingsBlockTest, LinesThatLostOrGainedACrFailAsTheirReadingFindsThem) {
  std::string lf_block = kDefaultBlock;
  for (size_t at; (at = lf_block.find("\r\n")) != std::string::npos;) lf_block.erase(at, 1);
  std::string lf_after_line5 = kDefaultBlock;
  const size_t port = lf_after_line5.find("1600\r\n");
  lf_after_line5.erase(port + 4, 1);
  std::string cr_cr_lf = kDefaultBlock;
  cr_cr_lf.insert(cr_cr_lf.find("\r\n9600"), "\r");
  std::string cr_block = kDefaultBlock;
  for (size_t at; (at = cr_block.find("\r\n")) != std::string::npos;) cr_block.erase(at + 1, 1);
  std::string lone_cr_in_line3 = kDefaultBlock;
  lone_cr_in_line3.replace(lone_cr_in_line3.find("9600"), 4, "96\r00");
  const std::string not_integer =
      std::string("' ist kein g") + testing::kUUmlaut + "ltiger Integerwert";
  const struct {
    const char* what;
    std::string text;
    bool conversion;  // EConvertError rather than the file's end or a long line
    int lines_read;   // the fields stored before the damaged line
    std::string message;
  } cases[] = {
      {"every line, file ends", lf_block, false, 0, "end in LF instead of CR LF (from line 1 "},
      {"every line, host data follows", lf_block + std::string(1200, 'h'), false, 0,
       "end in LF instead of CR LF (from line 1 "},
      {"CR alone, every line", cr_block, false, 0, "end in CR instead of CR LF (from line 1 "},
      {"LF alone after line 5", lf_after_line5, true, 4, "'1600\n1" + not_integer},
      {"CR CR LF", cr_cr_lf, true, 1, "'1\r" + not_integer},
      {"a lone CR in line 3", lone_cr_in_line3, true, 2, "'96\r00" + not_integer},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const ReadOutcome read = ReadBlock(c.text);
    EXPECT_EQ(read.conversion, c.conversion);
    if (c.conversion) {
      EXPECT_EQ(read.error, c.message);
    } else {
      EXPECT_NE(read.error.find(c.message), std::string::npos) << read.error;
      EXPECT_EQ(read.error.find_first_of("\r\n"), std::string::npos) << read.error;
    }
    EXPECT_EQ(read.fields, FieldsAfter(kDefaultLines, c.lines_read));
  }
}

TEST(SettingsBlockTest, AddressTooLongToStoreWritesNothing) {
  HostBlock block;
  ScratchFile file;
  block.data().IPAddress = std::string(kMaxWrittenLineText, 'x');
  WriteToFile(file.handle(), block.record());
  EXPECT_EQ(file.Contents().size(), 75u - 13u + kMaxWrittenLineText);

  ScratchFile second;
  block.data().IPAddress += 'x';
  EXPECT_THROW(WriteToFile(second.handle(), block.record()), Exception);
  EXPECT_EQ(second.Contents(), "");
}

}  // namespace
}  // namespace arduino
