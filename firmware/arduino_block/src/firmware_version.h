// The version of this firmware.  firmware/build.sh passes it on the compiler's
// command line; the sketch folder that ./run dist ships carries it in this
// file instead, so that an image built in the Arduino IDE carries it too.
#pragma once

#ifndef ARDUINO_BLOCK_VERSION
#define ARDUINO_BLOCK_VERSION "unreleased"
#endif

// What precedes the version in flash; avrboard looks for it in an image.
#define ARDUINO_BLOCK_FIRMWARE_MARK "@(#)arduino-block firmware "
