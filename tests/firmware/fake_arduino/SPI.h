// The Ethernet shield talks SPI; the fake needs nothing from it.
#ifndef FAKE_ARDUINO_SPI_H_
#define FAKE_ARDUINO_SPI_H_
#endif  // FAKE_ARDUINO_SPI_H_
