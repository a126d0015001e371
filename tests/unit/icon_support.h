// Icon files and stub images for the tests of the archive's own icon: .ico
// files written from a picture, and a small Windows image whose resources
// hold a manifest before the icon (so the icon sits elsewhere than in ours).
#pragma once
#include <stdint.h>

#include <functional>
#include <string>
#include <vector>

#include "core_support.h"

// The stub's palette (res/make_icon.py): the 16 VGA colours as 0xRRGGBB.
extern const uint32_t kVga[16];
std::vector<uint32_t> vga();

// One image of an .ico file. `pixel` gives a palette index (bits <= 8) or
// 0xAARRGGBB (24 and 32 bits; alpha only for 32); `clear` the mask bit.
struct IcoImage {
  uint32_t side = 32;
  uint32_t bits = 4;
  std::vector<uint32_t> palette;  // 0xRRGGBB
  std::function<uint32_t(uint32_t x, uint32_t y)> pixel;
  std::function<bool(uint32_t x, uint32_t y)> clear = [](uint32_t, uint32_t) { return false; };
  bool png = false;  // the image as PNG data (only its signature)
};

// The image's bytes as an .ico file holds them (BMP form), and a whole file.
Bytes imageBytes(const IcoImage& im);
std::string makeIco(const std::vector<IcoImage>& images);
// A 4-bit picture in the stub's own palette: colour (x + 3y) mod 16, with a
// clear square of 4 x 4 in the top left corner.
IcoImage pattern4();
// A PE32 image of 26,112 bytes whose resource section holds a manifest of
// `manifestBytes` before the icon image (x mod 16 in the VGA palette) and
// the icon group named MAIN_ICON, all within its first 16,384 bytes.
std::string peWithResources(size_t manifestBytes);
