// The one escaping of bytes that the three tools print: each tool's own
// spelling must stay what scripts and people have read so far.
#include "byte_escape.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>

namespace byte_text {
namespace {

struct Case {
  const char* name;
  std::string bytes;
  HexDigits hex;
  const char* also_escaped;
  std::string escaped;
};

class ByteEscapeTest : public testing::TestWithParam<Case> {};

TEST_P(ByteEscapeTest, EscapesAsTheToolPrints) {
  const Case& c = GetParam();
  EXPECT_EQ(EscapeBytes(c.bytes, c.hex, c.also_escaped), c.escaped);
}

const Case kCases[] = {
    {"PrintableStays", "?14s? ~ OK", HexDigits::kLower, "", "?14s? ~ OK"},
    {"EmptyStaysEmpty", "", HexDigits::kUpper, "\"", ""},
    // boardsim's command log: lower-case digits, a quote is plain text.
    {"CommandLogUsesLowerCase", std::string("a\"\\\r\x00\x7F\xFF", 7), HexDigits::kLower, "",
     "a\"\\\\\\x0d\\x00\\x7f\\xff"},
    // avrboard's exchange log: upper-case digits.
    {"ExchangeLogUsesUpperCase", std::string("\n\x1F \x7E\x80", 5), HexDigits::kUpper, "",
     "\\x0A\\x1F ~\\x80"},
    // blockhost prints a reply inside quotes, so a quote in it is escaped.
    {"QuoteEscapedWhenAsked", std::string("a\"b\\c\x7F\xF0\x01", 8), HexDigits::kUpper, "\"",
     "a\\\"b\\\\c\\x7F\\xF0\\x01"},
};

TEST(ByteUnescapeTest, TakesTheEscapesPeopleWriteOnTheCommandLine) {
  EXPECT_EQ(UnescapeBytes(R"(OK\r\n\t\0\\\x7e\x7E)"),
            std::optional<std::string>(std::string("OK\r\n\t\0\\~~", 9)));
  for (const char* bad :
       {R"(\)", R"(512\)", R"(\q)", R"(\")", R"(\x)", R"(\x4)", R"(\xG0)", R"(\x4g)"}) {
    EXPECT_EQ(UnescapeBytes(bad), std::nullopt) << bad;
  }
}

INSTANTIATE_TEST_SUITE_P(Tools, ByteEscapeTest, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case>& param_info) {
                           return param_info.param.name;
                         });

// What the logs write reads back as the bytes it was written from.
// blockhost's quoted spelling is for people only and is not read back.
TEST(ByteUnescapeTest, GivesBackTheBytesTheLogsEscaped) {
  int read_back = 0;
  for (const Case& c : kCases) {
    if (!std::string_view(c.also_escaped).empty()) continue;
    EXPECT_EQ(UnescapeBytes(c.escaped), std::optional<std::string>(c.bytes)) << c.name;
    ++read_back;
  }
  EXPECT_EQ(read_back, 3);
}

}  // namespace
}  // namespace byte_text
