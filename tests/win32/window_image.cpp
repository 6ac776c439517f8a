#include "window_image.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace arduino::testing {
namespace {

uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc = 0) {
  static const std::array<uint32_t, 256> table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t n = 0; n < 256; ++n) {
      uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[n] = c;
    }
    return t;
  }();
  crc = ~crc;
  for (size_t i = 0; i < size; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

void PutBigEndian(std::vector<uint8_t>& out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

void PutChunk(std::vector<uint8_t>& file, const char type[4], const std::vector<uint8_t>& data) {
  PutBigEndian(file, static_cast<uint32_t>(data.size()));
  size_t start = file.size();
  file.insert(file.end(), type, type + 4);
  file.insert(file.end(), data.begin(), data.end());
  PutBigEndian(file, Crc32(file.data() + start, file.size() - start));
}

// A zlib stream of stored blocks: no compression, so no zlib.
std::vector<uint8_t> StoredZlib(const std::vector<uint8_t>& raw) {
  std::vector<uint8_t> out = {0x78, 0x01};
  size_t offset = 0;
  do {
    size_t length = std::min<size_t>(raw.size() - offset, 65535);
    bool last = offset + length == raw.size();
    out.push_back(last ? 1 : 0);
    out.push_back(static_cast<uint8_t>(length));
    out.push_back(static_cast<uint8_t>(length >> 8));
    out.push_back(static_cast<uint8_t>(~length));
    out.push_back(static_cast<uint8_t>(~length >> 8));
    out.insert(out.end(), raw.begin() + static_cast<ptrdiff_t>(offset),
               raw.begin() + static_cast<ptrdiff_t>(offset + length));
    offset += length;
  } while (offset < raw.size());
  uint32_t a = 1, b = 0;
  for (uint8_t byte : raw) {
    a = (a + byte) % 65521;
    b = (b + a) % 65521;
  }
  PutBigEndian(out, (b << 16) | a);
  return out;
}

}  // namespace

RgbImage CaptureWindow(HWND window) {
  RECT r;
  if (!GetWindowRect(window, &r)) return {};
  RgbImage image{r.right - r.left, r.bottom - r.top, {}};
  HDC source = GetWindowDC(window);
  if (source == nullptr) return {};
  HDC memory = CreateCompatibleDC(source);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = image.width;
  info.bmiHeader.biHeight = -image.height;  // top-down rows
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  bool copied = false;
  if (bitmap != nullptr) {
    HGDIOBJ old = SelectObject(memory, bitmap);
    copied = BitBlt(memory, 0, 0, image.width, image.height, source, 0, 0, SRCCOPY) != FALSE;
    GdiFlush();
    if (copied) {
      const auto* bgrx = static_cast<const uint8_t*>(bits);
      image.pixels.reserve(static_cast<size_t>(image.width) * image.height * 3);
      for (int i = 0; i < image.width * image.height; ++i) {
        image.pixels.push_back(bgrx[4 * i + 2]);
        image.pixels.push_back(bgrx[4 * i + 1]);
        image.pixels.push_back(bgrx[4 * i]);
      }
    }
    SelectObject(memory, old);
    DeleteObject(bitmap);
  }
  DeleteDC(memory);
  ReleaseDC(window, source);
  return copied ? image : RgbImage{};
}

bool SavePng(const RgbImage& image, const std::string& path) {
  if (image.width <= 0 || image.height <= 0) return false;
  std::vector<uint8_t> raw;
  const size_t row = static_cast<size_t>(image.width) * 3;
  for (int y = 0; y < image.height; ++y) {
    raw.push_back(0);  // no filter
    auto start = image.pixels.begin() + static_cast<ptrdiff_t>(row * y);
    raw.insert(raw.end(), start, start + static_cast<ptrdiff_t>(row));
  }
  std::vector<uint8_t> file = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<uint8_t> header;
  PutBigEndian(header, static_cast<uint32_t>(image.width));
  PutBigEndian(header, static_cast<uint32_t>(image.height));
  header.insert(header.end(), {8, 2, 0, 0, 0});  // 8-bit RGB, no interlace
  PutChunk(file, "IHDR", header);
  PutChunk(file, "IDAT", StoredZlib(raw));
  PutChunk(file, "IEND", {});
  FILE* out = std::fopen(path.c_str(), "wb");
  if (out == nullptr) return false;
  bool written = std::fwrite(file.data(), 1, file.size(), out) == file.size();
  return std::fclose(out) == 0 && written;
}

}  // namespace arduino::testing
