// A picture of a window as it is on the screen, saved as a PNG file, for the
// screenshots in the documentation.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace arduino::testing {

// Top-down rows of 8-bit red, green and blue.
struct RgbImage {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> pixels;
};

// Copies the whole window, frame included, from the screen.  Empty when the
// window cannot be read.
RgbImage CaptureWindow(HWND window);

// Writes a PNG without compression (stored deflate blocks), which any viewer
// reads and which needs no zlib.  Returns false when the file cannot be
// written.
bool SavePng(const RgbImage& image, const std::string& path);

}  // namespace arduino::testing
