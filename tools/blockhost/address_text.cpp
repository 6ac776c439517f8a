#include "address_text.h"

#include <vector>

#include "number_text.h"

namespace blockhost {
namespace {

// One part of a dotted address, in the base its prefix gives; nothing for
// an empty part, a stray character or a value beyond 32 bits.
std::optional<uint64_t> ReadPart(std::string_view part) {
  int base = 10;
  if (part.size() > 1 && part[0] == '0' && (part[1] == 'x' || part[1] == 'X')) {
    base = 16;
    part.remove_prefix(2);
  } else if (part.size() > 1 && part[0] == '0') {
    base = 8;
  }
  std::optional<uint64_t> value = tool_cli::ParseNumber<uint64_t>(part, base);
  if (value && *value > 0xFFFFFFFFu) return std::nullopt;
  return value;
}

std::string Dotted(uint32_t address) {
  return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xFF) + "." +
         std::to_string((address >> 8) & 0xFF) + "." + std::to_string(address & 0xFF);
}

// Digits and dots only: meant as an address, not as a host name (no
// top-level domain is all digits).
bool LooksNumeric(std::string_view text) {
  return !text.empty() && text.find_first_not_of("0123456789.") == std::string_view::npos;
}

}  // namespace

std::optional<uint32_t> ReadDottedAddress(std::string_view text) {
  std::vector<uint64_t> parts;
  while (true) {
    const size_t dot = text.find('.');
    std::optional<uint64_t> part = ReadPart(text.substr(0, dot));
    if (!part) return std::nullopt;
    parts.push_back(*part);
    if (dot == std::string_view::npos) break;
    text.remove_prefix(dot + 1);
  }
  if (parts.size() > 4) return std::nullopt;
  // Every part but the last is one byte; the last fills what is left.
  uint64_t address = 0;
  for (size_t k = 0; k + 1 < parts.size(); ++k) {
    if (parts[k] > 0xFF) return std::nullopt;
    address |= parts[k] << (8 * (3 - k));
  }
  const int last_bits = 8 * (5 - static_cast<int>(parts.size()));
  if (last_bits < 32 && parts.back() >> last_bits != 0) return std::nullopt;
  address |= parts.back();
  if (address == 0xFFFFFFFFu) return std::nullopt;
  return static_cast<uint32_t>(address);
}

std::optional<std::string> AddressNote(std::string_view address) {
  const std::string quoted = "'" + std::string(address) + "'";
  if (address.empty()) {
    return "an empty address names this computer: the block sends to the computer it runs on, "
           "not to a board";
  }
  if (std::optional<uint32_t> read = ReadDottedAddress(address)) {
    if (*read == 0) {
      return quoted + " names no computer: every command fails with \"Null Remote Address\"";
    }
    if (Dotted(*read) != address) {
      return quoted + " is read as " + Dotted(*read) +
             " (a leading 0 makes a number octal, 0x hexadecimal, and fewer than four numbers "
             "fill the bytes left)";
    }
    return std::nullopt;
  }
  if (LooksNumeric(address)) {
    return quoted +
           " is no IPv4 address (four numbers 0..255, and 255.255.255.255 cannot be sent to), "
           "so the block looks it up as a host name, which fails: the run stops with \"Host "
           "Lookup Canceled\"";
  }
  return std::nullopt;
}

}  // namespace blockhost
