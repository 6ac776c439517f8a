// A small stand-in for the Arduino core, enough to compile the sketch on the
// PC and watch what it does: every pin call is recorded, serial input comes
// from a queue the test fills, and millis() reads a clock the test sets.
// Only this header is seen by the sketch, so it stays C++11 like the board's
// compiler; the test side talks to the fake through fake_board.h.
#pragma once

#include <stddef.h>
#include <stdint.h>

typedef uint8_t byte;

#define LOW 0x0
#define HIGH 0x1
#define INPUT 0x0
#define OUTPUT 0x1
#define INPUT_PULLUP 0x2
// On the PC, data in flash is data like any other.
#define PROGMEM
#define pgm_read_byte(address) (*reinterpret_cast<const uint8_t*>(address))

// The Mega's analog inputs start at 54, the Uno's at 14; the sketch must not
// care, so the fake can be built as either.
#ifdef FAKE_ARDUINO_MEGA
static const uint8_t A0 = 54;
#else
static const uint8_t A0 = 14;
#endif

void pinMode(uint8_t pin, uint8_t mode);
void digitalWrite(uint8_t pin, uint8_t value);
int digitalRead(uint8_t pin);
int analogRead(uint8_t pin);
void analogWrite(uint8_t pin, int value);
unsigned long millis();

class HardwareSerial {
 public:
  void begin(unsigned long baud);
  int available();
  int read();
  size_t write(uint8_t value);
  size_t write(const uint8_t* buffer, size_t size);
  size_t write(const char* text);
};

extern HardwareSerial Serial;
