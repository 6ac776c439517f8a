// Compiles the sketch the way the Arduino IDE does: the core's header first,
// then the .ino as C++.  Which link the sketch uses, and which board the fake
// core pretends to be, come from the compile definitions in CMakeLists.txt.
#include <Arduino.h>

#include "arduino_block.ino"
