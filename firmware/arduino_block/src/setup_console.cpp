#include "setup_console.h"

#include "flash_text.h"

namespace board {
namespace {

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool IsSpace(char c) { return c == ' ' || c == '\t'; }

// Whether `text` starts with the command word `word` (in flash), followed by
// a space or the end.  Sets *rest to what follows, spaces skipped.
bool TakeWord(const char* text, const char* word, const char** rest) {
  for (; FlashByte(word) != '\0'; ++word, ++text) {
    if (Lower(*text) != FlashByte(word)) return false;
  }
  if (*text != '\0' && !IsSpace(*text)) return false;
  while (IsSpace(*text)) ++text;
  *rest = text;
  return true;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = Lower(c);
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Formats `value` in decimal into `text`, which has room for six bytes,
// and returns where the digits start.
const char* FormatNumber(uint16_t value, char* text) {
  uint8_t start = 5;
  text[start] = '\0';
  do {
    text[--start] = static_cast<char>('0' + value % 10);
    value = static_cast<uint16_t>(value / 10);
  } while (value != 0);
  return text + start;
}

}  // namespace

bool ParseAddress(const char* text, uint8_t address[4]) {
  uint8_t parsed[4];
  for (uint8_t part = 0; part < 4; ++part) {
    if (part > 0 && *text++ != '.') return false;
    uint16_t value = 0;
    uint8_t digits = 0;
    while (*text >= '0' && *text <= '9') {
      if (++digits > 3) return false;
      value = static_cast<uint16_t>(value * 10 + (*text++ - '0'));
    }
    if (digits == 0 || value > 255) return false;
    parsed[part] = static_cast<uint8_t>(value);
  }
  if (*text != '\0') return false;
  for (uint8_t i = 0; i < 4; ++i) address[i] = parsed[i];
  return true;
}

bool ParseMac(const char* text, uint8_t mac[6]) {
  uint8_t parsed[6];
  char separator = '\0';
  for (uint8_t part = 0; part < 6; ++part) {
    if (part > 0) {
      // One separator throughout: "DE:AD-BE..." is a typing slip.
      if (part == 1 && (*text == ':' || *text == '-')) separator = *text;
      if (*text++ != separator) return false;
    }
    const int high = HexValue(text[0]);
    if (high < 0) return false;
    const int low = HexValue(text[1]);
    if (low < 0) return false;
    parsed[part] = static_cast<uint8_t>(high << 4 | low);
    text += 2;
  }
  if (*text != '\0') return false;
  for (uint8_t i = 0; i < 6; ++i) mac[i] = parsed[i];
  return true;
}

SetupConsole::SetupConsole(SettingsStorage& storage, NetworkSettings& settings,
                           ConsoleOutput& output)
    : storage_(storage), settings_(settings), output_(output), length_(0), overflowed_(false) {}

bool SetupConsole::Feed(char byte) {
  if (byte != '\r' && byte != '\n') {
    if (length_ < kConsoleLineCapacity) {
      line_[length_++] = byte;
    } else {
      overflowed_ = true;
    }
    return false;
  }
  // The line is complete.  CR LF ends a line and then an empty one, which
  // earns no answer, so a terminal's line ends of any kind work.
  const bool overflowed = overflowed_;
  const uint8_t length = length_;
  length_ = 0;
  overflowed_ = false;
  if (overflowed) {
    output_.WriteFlash(BOARD_FLASH_TEXT("error: line too long; try help"));
    output_.EndLine();
    return false;
  }
  line_[length] = '\0';
  return HandleLine();
}

bool SetupConsole::HandleLine() {
  // Spaces around the command do not count.
  char* line = line_;
  while (IsSpace(*line)) ++line;
  char* end = line;
  while (*end != '\0') ++end;
  while (end > line && IsSpace(end[-1])) *--end = '\0';
  if (*line == '\0') return false;

  const char* argument = nullptr;
  if (TakeWord(line, BOARD_FLASH_TEXT("show"), &argument) && *argument == '\0') {
    WriteShowLine();
    return false;
  }
  if (TakeWord(line, BOARD_FLASH_TEXT("address"), &argument)) return HandleAddress(argument);
  if (TakeWord(line, BOARD_FLASH_TEXT("mac"), &argument)) return HandleMac(argument);
  if (TakeWord(line, BOARD_FLASH_TEXT("reset"), &argument)) return HandleReset(argument);
  if (TakeWord(line, BOARD_FLASH_TEXT("help"), &argument) && *argument == '\0') {
    output_.WriteFlash(BOARD_FLASH_TEXT(
        "commands: show, address [A.B.C.D], mac [XX:XX:XX:XX:XX:XX], reset (to the defaults)"));
    output_.EndLine();
    return false;
  }
  WriteError(BOARD_FLASH_TEXT("unknown command; try help: "), line);
  return false;
}

bool SetupConsole::HandleAddress(const char* argument) {
  if (*argument == '\0') {
    WriteAddress();
    output_.EndLine();
    return false;
  }
  uint8_t address[4];
  if (!ParseAddress(argument, address)) {
    WriteError(BOARD_FLASH_TEXT("not an address A.B.C.D with each part 0..255: "), argument);
    return false;
  }
  if (!IsUsableAddress(address)) {
    WriteError(BOARD_FLASH_TEXT(
                   "the board cannot take this address (0.x, 127.x, 224 and up, .0 or .255): "),
               argument);
    return false;
  }
  for (uint8_t i = 0; i < 4; ++i) settings_.address[i] = address[i];
  SaveNetworkSettings(storage_, settings_);
  WriteAddress();
  output_.WriteFlash(BOARD_FLASH_TEXT(" saved"));
  output_.EndLine();
  return true;
}

bool SetupConsole::HandleMac(const char* argument) {
  if (*argument == '\0') {
    WriteMac();
    output_.EndLine();
    return false;
  }
  uint8_t mac[6];
  if (!ParseMac(argument, mac)) {
    WriteError(BOARD_FLASH_TEXT("not a MAC address XX:XX:XX:XX:XX:XX: "), argument);
    return false;
  }
  if (!IsUsableMac(mac)) {
    WriteError(BOARD_FLASH_TEXT("the board cannot take an all-zero or group MAC address: "),
               argument);
    return false;
  }
  for (uint8_t i = 0; i < 6; ++i) settings_.mac[i] = mac[i];
  SaveNetworkSettings(storage_, settings_);
  WriteMac();
  output_.WriteFlash(BOARD_FLASH_TEXT(" saved"));
  output_.EndLine();
  return true;
}

bool SetupConsole::HandleReset(const char* argument) {
  if (*argument != '\0') {
    WriteError(BOARD_FLASH_TEXT("reset takes nothing after it: "), argument);
    return false;
  }
  settings_ = DefaultNetworkSettings();
  SaveNetworkSettings(storage_, settings_);
  output_.WriteFlash(BOARD_FLASH_TEXT("defaults saved: "));
  WriteAddress();
  output_.WriteFlash(BOARD_FLASH_TEXT(" "));
  WriteMac();
  output_.EndLine();
  return true;
}

void SetupConsole::WriteShowLine() {
  // The port is the protocol's, not a setting, but a person checking the
  // board wants it on the same line.
  output_.WriteFlash(BOARD_FLASH_TEXT("arduino-block ethernet "));
  WriteAddressDigits();
  output_.WriteFlash(BOARD_FLASH_TEXT(" port "));
  char number[6];
  output_.Write(FormatNumber(kUdpPort, number));
  output_.WriteFlash(BOARD_FLASH_TEXT(" "));
  WriteMac();
  output_.EndLine();
}

void SetupConsole::WriteAddress() {
  output_.WriteFlash(BOARD_FLASH_TEXT("address "));
  WriteAddressDigits();
}

void SetupConsole::WriteAddressDigits() {
  char number[6];
  for (uint8_t i = 0; i < 4; ++i) {
    if (i > 0) output_.WriteFlash(BOARD_FLASH_TEXT("."));
    output_.Write(FormatNumber(settings_.address[i], number));
  }
}

void SetupConsole::WriteMac() {
  output_.WriteFlash(BOARD_FLASH_TEXT("mac "));
  static const char kHex[] = "0123456789ABCDEF";
  char pair[4];
  for (uint8_t i = 0; i < 6; ++i) {
    pair[0] = kHex[settings_.mac[i] >> 4];
    pair[1] = kHex[settings_.mac[i] & 0x0F];
    pair[2] = i < 5 ? ':' : '\0';
    pair[3] = '\0';
    output_.Write(pair);
  }
}

void SetupConsole::WriteError(const char* flash_text, const char* argument) {
  output_.WriteFlash(BOARD_FLASH_TEXT("error: "));
  output_.WriteFlash(flash_text);
  output_.Write(argument);
  output_.EndLine();
}

}  // namespace board
