// The stub's icon: where its image lies in the stub (found through the
// stub's resource directory, never at a fixed offset), putting a user's icon
// there in the same form, and telling a stub that differs from ours only in
// that image.
//
// The stub must stay 26,112 bytes and keep its structure, so the icon image
// keeps its size, header and palette: a user's .ico is converted to exactly
// that form (its 32 x 32 image, colours reduced to the stub's palette by the
// nearest colour, transparency kept as the mask). The first 16,384 bytes of
// the stub are the first file's context, so an archive is coded against the
// stub with its new icon.
#pragma once
#include <stdint.h>

#include <string>

struct StubIconPlace {
  uint32_t offset;  // file offset of the icon image (the RT_ICON data)
  uint32_t length;  // its length in bytes
  uint32_t width, height, bitCount, paletteColours;
};

// Finds the image of the stub's icon group (the one named MAIN_ICON, or the
// only group): false with *why when the stub has no such icon, or one whose
// form the conversion cannot fill (a 32 x 32 image with a palette of up to
// 256 colours and a mask).
bool findStubIcon(const uint8_t* stub, uint32_t size, StubIconPlace* place, std::string* why);

// Puts the icon of `ico` (the bytes of an .ico file) into `stub` (the whole
// stub, changed in place only on success). Accepted: a 32 x 32 image of 1,
// 4, 8, 24 or 32 bits per pixel in the BMP form (of several, the one with
// the most bits, the first on a tie). False with *why (a clause that names
// no file) when the file cannot be converted.
bool replaceStubIcon(std::string* stub, const std::string& ico, std::string* why);

enum StubKind : uint8_t {
  StubOurs,           // byte for byte `ours`
  StubOursOtherIcon,  // `ours` but for the icon image
  StubOther,          // any other stub
};
StubKind compareStub(const uint8_t* stub, const uint8_t* ours, uint32_t size);
