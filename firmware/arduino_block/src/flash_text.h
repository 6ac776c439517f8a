// Text kept in flash.  On the AVR a string literal is copied into RAM at
// start-up, and the Uno has 2 KB of it, so the setup console's longer texts
// stay in flash and are read from there byte by byte.  On the PC, where the
// same sources are tested, flash is memory like any other.
#pragma once

#include <stdint.h>

#ifdef __AVR__
#include <avr/pgmspace.h>
#define BOARD_FLASH_TEXT(text) PSTR(text)
#else
#define BOARD_FLASH_TEXT(text) (text)
#endif

namespace board {

// The byte at `text`, which BOARD_FLASH_TEXT made.
inline char FlashByte(const char* text) {
#ifdef __AVR__
  return static_cast<char>(pgm_read_byte(text));
#else
  return *text;
#endif
}

}  // namespace board
