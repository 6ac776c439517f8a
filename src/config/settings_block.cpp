#include "config/settings_block.h"

#include <cstring>
#include <string>
#include <string_view>

#include "arduino_block.h"
#include "base/convert.h"
#include "block/user_data.h"
#include "config/file_io.h"

namespace arduino {
namespace {

// An editor or a transfer that changed the file's line ends leaves lone LFs
// or lone CRs where the pairs were, so the lines run together until the
// file or the line buffer ends.  Said in words, because the bytes read would
// put raw line breaks into the message.
std::string LineEndsMessage(const char* found, int line_number) {
  return std::string("The block's settings in the project file have lines that end in ") + found +
         " instead of CR LF (from line " + std::to_string(line_number) + " of " +
         std::to_string(kSettingsLines) +
         " on), as when a program has changed the file's line ends";
}

// Which of those the bytes of a line that never found its CR LF show, or
// nothing.  A CR as the very last byte may be half of a pair that a cut
// file lost, and proves nothing.  The bytes hold no CR LF pair, so every LF
// among them is a lone one.
const char* ChangedLineEnds(std::string_view text) {
  if (text.find('\n') != std::string_view::npos) return "LF";
  if (!text.empty()) text.remove_suffix(1);
  if (text.find('\r') != std::string_view::npos) return "CR";
  return nullptr;
}

// What each line of the block holds, so that a message can say what is
// missing rather than only where.
std::string LineContent(int line_number) {
  static const char* const kFirstLines[] = {"the interface", "the COM port", "the speed",
                                            "the IP address", "the UDP port"};
  constexpr int kFirstPinLine = 6;
  constexpr int kFirstAnalogLine = kFirstPinLine + kLastPin - kFirstPin + 1;
  if (line_number < kFirstPinLine) return kFirstLines[line_number - 1];
  if (line_number < kFirstAnalogLine) {
    return "the mode of pin " + std::to_string(line_number - kFirstPinLine + kFirstPin);
  }
  return "the use of A" + std::to_string(line_number - kFirstAnalogLine);
}

// A file that ends before line `line_number` is whole.  The lines are read
// in order, so a line deleted anywhere shows as the last one missing.
std::string EndInsideMessage(int line_number, bool begun) {
  const std::string total = std::to_string(kSettingsLines);
  if (begun) {
    return "The project file ends inside the block's settings (line " +
           std::to_string(line_number) + " of " + total + ", " + LineContent(line_number) +
           ", is incomplete: the file was cut)";
  }
  return "The project file ends inside the block's settings (it holds " +
         std::to_string(line_number - 1) + " of their " + total + " lines, so line " +
         std::to_string(line_number) + ", " + LineContent(line_number) +
         ", is missing: a line was deleted or the file was cut)";
}

void WriteLine(uint32_t handle, const std::string& text) {
  char buffer[kLineBufferSize];
  std::string line = text + "\r\n";
  std::memcpy(buffer, line.c_str(), line.size() + 1);
  // The line goes out up to its first zero byte, as the text it is.
  (void)FileWrite(handle, buffer, static_cast<uint32_t>(std::strlen(buffer)));
}

// Reads one line byte by byte, so that nothing past the LF of the last line
// is ever taken from the host's file.  Only the pair CR LF ends a line.
std::string ReadLine(uint32_t handle, int line_number) {
  char buffer[kLineBufferSize];
  int count = 0;
  while (true) {
    if (count == kLineBufferSize) {
      std::string message = "Line " + std::to_string(line_number) +
                            " of the block's settings in the project file is longer than " +
                            std::to_string(kMaxReadLineText) + " characters";
      // Lines that lost their CRs run together until the buffer is full.
      if (const char* found = ChangedLineEnds({buffer, static_cast<size_t>(count)})) {
        message += ". " + LineEndsMessage(found, line_number);
      }
      throw Exception(message);
    }
    if (FileRead(handle, buffer + count, 1) != 1) {
      if (const char* found = ChangedLineEnds({buffer, static_cast<size_t>(count)})) {
        throw Exception(LineEndsMessage(found, line_number));
      }
      throw Exception(EndInsideMessage(line_number, count > 0));
    }
    ++count;
    if (count >= 2 && buffer[count - 1] == '\n' && buffer[count - 2] == '\r') break;
  }
  buffer[count - 2] = '\0';
  return std::string(buffer);  // a zero byte inside the line cuts it there
}

}  // namespace

void WriteSettingsBlock(uint32_t handle, const TUserData& d) {
  if (d.IPAddress.size() > static_cast<size_t>(kMaxWrittenLineText)) {
    throw Exception("The IP address is " + std::to_string(d.IPAddress.size()) +
                    " characters long; the project file holds at most " +
                    std::to_string(kMaxWrittenLineText) + ". Nothing was written.");
  }
  WriteLine(handle, IntToStr(d.InterfaceKind));
  WriteLine(handle, IntToStr(d.ComPort));
  WriteLine(handle, IntToStr(d.BaudRate));
  WriteLine(handle, d.IPAddress);
  WriteLine(handle, IntToStr(d.UdpPort));
  for (int pin = kFirstPin; pin <= kLastPin; ++pin) WriteLine(handle, IntToStr(d.PinMode[pin]));
  for (int32_t used : d.AnalogUsed) WriteLine(handle, IntToStr(used));
}

void ReadSettingsBlock(uint32_t handle, TUserData& d) {
  int line_number = 0;
  // A line whose text holds a lone CR or LF fails as any other line that is
  // no number does, with its text as read: the host shows the framework's
  // message, and a tool that reads the file itself can explain the cause.
  auto next_integer = [&] { return StrToInt(ReadLine(handle, ++line_number)); };
  d.InterfaceKind = next_integer();
  d.ComPort = next_integer();
  d.BaudRate = next_integer();
  d.IPAddress = ReadLine(handle, ++line_number);
  d.UdpPort = next_integer();
  for (int pin = kFirstPin; pin <= kLastPin; ++pin) d.PinMode[pin] = next_integer();
  for (int32_t& used : d.AnalogUsed) used = next_integer();
}

}  // namespace arduino
