// The archive's own icon: the stub's icon image found through its resource
// directory (also where other resources move it), a user's .ico converted
// into exactly that image's form, and a stub told apart from ours.
#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "core_support.h"
#include "icon_support.h"
#include "encode/stub_icon.h"

namespace {

// Reads the stub's image back: palette index and mask bit of a pixel.
struct StubPicture {
  const uint8_t* image;
  StubIconPlace place;
  uint32_t index(uint32_t x, uint32_t y) const {
    const uint8_t* rows = image + 40 + 4 * place.paletteColours;
    const uint8_t byte = rows[(31 - y) * 16 + x / 2];
    return x % 2 ? byte & 15 : byte >> 4;
  }
  bool clear(uint32_t x, uint32_t y) const {
    const uint8_t* mask = image + 40 + 4 * place.paletteColours + 16 * 32;
    return (mask[(31 - y) * 4 + x / 8] >> (7 - x % 8)) & 1;
  }
};

StubPicture pictureOf(const std::string& stub) {
  StubPicture p;
  std::string why;
  EXPECT_TRUE(findStubIcon((const uint8_t*)stub.data(), (uint32_t)stub.size(), &p.place, &why)) << why;
  p.image = (const uint8_t*)stub.data() + p.place.offset;
  return p;
}

std::string realStub() {
  const Bytes b = readFileBytes(VELLICOR_STUB_FILE);
  return std::string(b.begin(), b.end());
}

TEST(StubIcon, TheStubsOwnIconIsFoundThroughItsResourcesInEitherBuild) {
  std::vector<std::string> stubs = {realStub()};
  if (*VELLICOR_STUB64_FILE) {
    const Bytes b = readFileBytes(VELLICOR_STUB64_FILE);
    stubs.push_back(std::string(b.begin(), b.end()));
  }
  for (const std::string& stub : stubs) {
    ASSERT_EQ(stub.size(), 26112u);
    StubIconPlace place;
    std::string why;
    ASSERT_TRUE(findStubIcon((const uint8_t*)stub.data(), 26112, &place, &why)) << why;
    EXPECT_EQ(place.length, 744u);  // header, 16 colours, 32 x 32 at 4 bits, the mask
    EXPECT_EQ(place.bitCount, 4u);
    EXPECT_EQ(place.paletteColours, 16u);
    // The palette there is the one make_icon.py writes.
    for (int k = 0; k < 16; ++k) {
      const uint8_t* c = (const uint8_t*)stub.data() + place.offset + 40 + 4 * k;
      EXPECT_EQ((uint32_t)c[2] << 16 | (uint32_t)c[1] << 8 | c[0], kVga[k]) << k;
    }
  }
}

TEST(StubIcon, AnIconInTheStubsFormIsPutInPlaceAndNothingElseChanges) {
  const std::string ours = realStub();
  std::string stub = ours;
  std::string why;
  ASSERT_TRUE(replaceStubIcon(&stub, makeIco({pattern4()}), &why)) << why;
  ASSERT_EQ(stub.size(), ours.size());
  const StubPicture p = pictureOf(stub);
  for (uint32_t y = 0; y < 32; ++y)
    for (uint32_t x = 0; x < 32; ++x) {
      const bool clear = x < 4 && y < 4;
      ASSERT_EQ(p.clear(x, y), clear) << x << "," << y;
      ASSERT_EQ(p.index(x, y), clear ? 0u : (x + 3 * y) % 16) << x << "," << y;
    }
  // Only the image's bits differ: the header and palette stay.
  const uint32_t bits = p.place.offset + 40 + 64;
  EXPECT_EQ(stub.compare(0, bits, ours, 0, bits), 0);
  const uint32_t after = p.place.offset + p.place.length;
  EXPECT_EQ(stub.compare(after, std::string::npos, ours, after, std::string::npos), 0);
  EXPECT_NE(stub, ours);

  EXPECT_EQ(compareStub((const uint8_t*)ours.data(), (const uint8_t*)ours.data(), 26112), StubOurs);
  EXPECT_EQ(compareStub((const uint8_t*)stub.data(), (const uint8_t*)ours.data(), 26112), StubOursOtherIcon);
  std::string other = stub;
  other[0x200] ^= 1;  // code outside the icon
  EXPECT_EQ(compareStub((const uint8_t*)other.data(), (const uint8_t*)ours.data(), 26112), StubOther);
  other = stub;
  other[p.place.offset + 40] ^= 1;  // the palette: no stub of ours has that
  EXPECT_EQ(compareStub((const uint8_t*)other.data(), (const uint8_t*)ours.data(), 26112), StubOther);
}

TEST(StubIcon, ColoursAreReducedToTheNearestOfThePaletteAndTransparencyKept) {
  // 24 bits: near-red, near-olive, mid grey (nearest 0x808080), a colour
  // halfway between black and navy (the first of equals: black).
  IcoImage deep;
  deep.bits = 24;
  deep.pixel = [](uint32_t x, uint32_t y) -> uint32_t {
    switch ((x + y) % 4) {
      case 0: return 0xF01010;
      case 1: return 0x7A8405;
      case 2: return 0x858585;
      default: return 0x000040;
    }
  };
  deep.clear = [](uint32_t x, uint32_t y) { return y == 31; };
  const uint32_t expected24[4] = {9, 3, 8, 0};
  // 32 bits with alpha: the alpha decides (the mask in the file is ignored).
  IcoImage alpha;
  alpha.bits = 32;
  alpha.pixel = [](uint32_t x, uint32_t y) -> uint32_t { return (x < 16 ? 0xFF000000u : 0x10000000u) | 0x00FFFF; };
  alpha.clear = [](uint32_t, uint32_t) { return true; };
  // 8 bits with a 256-colour palette whose entry k is grey k.
  IcoImage eight;
  eight.bits = 8;
  for (uint32_t k = 0; k < 256; ++k) eight.palette.push_back(k * 0x010101);
  eight.pixel = [](uint32_t x, uint32_t y) { return (x * 8 + y) & 255; };
  // 1 bit: black and white.
  IcoImage one;
  one.bits = 1;
  one.palette = {0x000000, 0xFFFFFF};
  one.pixel = [](uint32_t x, uint32_t y) { return (x ^ y) & 1; };

  const std::string ours = realStub();
  std::string stub = ours, why;
  ASSERT_TRUE(replaceStubIcon(&stub, makeIco({deep}), &why)) << why;
  StubPicture p = pictureOf(stub);
  for (uint32_t y = 0; y < 32; ++y)
    for (uint32_t x = 0; x < 32; ++x) {
      ASSERT_EQ(p.clear(x, y), y == 31);
      ASSERT_EQ(p.index(x, y), y == 31 ? 0u : expected24[(x + y) % 4]) << x << "," << y;
    }

  stub = ours;
  ASSERT_TRUE(replaceStubIcon(&stub, makeIco({alpha}), &why)) << why;
  p = pictureOf(stub);
  for (uint32_t x = 0; x < 32; ++x) {
    EXPECT_EQ(p.clear(x, 5), x >= 16) << x;
    EXPECT_EQ(p.index(x, 5), x < 16 ? 14u : 0u) << x;  // cyan where opaque
  }

  stub = ours;
  ASSERT_TRUE(replaceStubIcon(&stub, makeIco({eight}), &why)) << why;
  p = pictureOf(stub);
  // Grey levels: up to 0x40 black (0x40 is as near to maroon and grey 0x80:
  // the first of equals), below 0xA0 grey 0x80 (at 0xA0 silver comes first),
  // up to 0xDF silver, then white.
  for (uint32_t y = 0; y < 32; ++y)
    for (uint32_t x = 0; x < 32; ++x) {
      const uint32_t g = (x * 8 + y) & 255;
      const uint32_t want = g <= 0x40 ? 0 : g < 0xA0 ? 8 : g <= 0xDF ? 7 : 15;
      ASSERT_EQ(p.index(x, y), want) << "grey " << g;
    }

  stub = ours;
  ASSERT_TRUE(replaceStubIcon(&stub, makeIco({one}), &why)) << why;
  p = pictureOf(stub);
  EXPECT_EQ(p.index(0, 0), 0u);
  EXPECT_EQ(p.index(1, 0), 15u);

  // Converting twice gives the same bytes.
  std::string again = ours;
  ASSERT_TRUE(replaceStubIcon(&again, makeIco({one}), &why));
  EXPECT_EQ(again, stub);
}

TEST(StubIcon, OfSeveralImagesThe32x32OneWithTheMostBitsIsTaken) {
  IcoImage small = pattern4();
  small.side = 16;
  IcoImage red;
  red.bits = 24;
  red.pixel = [](uint32_t, uint32_t) { return 0xFF0000u; };
  IcoImage blue = red;
  blue.pixel = [](uint32_t, uint32_t) { return 0x0000FFu; };
  std::string stub = realStub(), why;
  ASSERT_TRUE(replaceStubIcon(&stub, makeIco({small, pattern4(), red, blue}), &why)) << why;
  EXPECT_EQ(pictureOf(stub).index(7, 7), 9u);  // red: the first 24-bit one
}

TEST(StubIcon, FilesThatCannotBeConvertedAreRefusedWithTheReason) {
  const std::string ours = realStub();
  IcoImage small = pattern4();
  small.side = 16;
  IcoImage big = pattern4();
  big.side = 48;
  IcoImage png = pattern4();
  png.png = true;
  IcoImage sixteen = pattern4();
  sixteen.bits = 16;
  std::string truncated = makeIco({pattern4()});
  truncated.resize(truncated.size() - 200);
  struct Case {
    std::string file, reason;
  } cases[] = {
      {"BM not an icon at all", "it is not an icon file (.ico)"},
      {std::string("\0\0\1\0", 4), "it is not an icon file (.ico)"},
      {makeIco({small, big}), "it holds no 32 x 32 image (only 16 x 16, 48 x 48); the stub's icon is 32 x 32"},
      {makeIco({png}), "its 32 x 32 image is stored as PNG; save the icon with that image in the BMP form"},
      {makeIco({sixteen}), "its image has 16 bits per pixel (1, 4, 8, 24 or 32 can be read)"},
      {truncated, "the file ends inside its image"},
  };
  for (const Case& c : cases) {
    std::string stub = ours, why;
    EXPECT_FALSE(replaceStubIcon(&stub, c.file, &why));
    EXPECT_EQ(why, c.reason);
    EXPECT_EQ(stub, ours);  // unchanged
  }
  // A stub without resources cannot take an icon.
  std::string bare(testStubImage().begin(), testStubImage().end()), why;
  EXPECT_FALSE(replaceStubIcon(&bare, makeIco({pattern4()}), &why));
  EXPECT_EQ(why, "the icon cannot be replaced: the stub has no resource directory");
}

TEST(StubIcon, OtherResourcesBeforeTheIconMoveItAndItIsStillFound) {
  uint32_t offsets[2];
  for (int i = 0; i < 2; ++i) {
    const std::string pe = peWithResources(i ? 1500 : 37);
    std::string stub = pe, why;
    ASSERT_TRUE(replaceStubIcon(&stub, makeIco({pattern4()}), &why)) << why;
    const StubPicture p = pictureOf(stub);
    offsets[i] = p.place.offset;
    EXPECT_EQ(p.index(10, 20), (10u + 60) % 16);
    EXPECT_TRUE(p.clear(1, 1));
    EXPECT_EQ(stub.compare(0, p.place.offset, pe, 0, p.place.offset), 0);
    const uint32_t after = p.place.offset + p.place.length;
    EXPECT_EQ(stub.compare(after, std::string::npos, pe, after, std::string::npos), 0);
    EXPECT_EQ(compareStub((const uint8_t*)stub.data(), (const uint8_t*)pe.data(), 26112), StubOursOtherIcon);
  }
  EXPECT_EQ(offsets[1] - offsets[0], 1500u - 40u);  // the manifests' lengths, each padded to 4
}

}  // namespace

namespace {

// Every cut of an icon file and damaged bytes anywhere in the stub's
// resources or the icon file are refused or converted, never read beyond
// their ends (the sanitizer build checks the reads).
TEST(StubIcon, CutAndDamagedFilesAndStubsAreReadWithinTheirBounds) {
  const std::string ours = realStub();
  IcoImage deep;
  deep.bits = 32;
  deep.pixel = [](uint32_t x, uint32_t y) { return 0xFF000000u | (x * 8) << 16 | (y * 8); };
  const std::string ico = makeIco({pattern4(), deep});
  for (size_t cut = 0; cut < ico.size(); ++cut) {
    std::string stub = ours, why;
    if (!replaceStubIcon(&stub, ico.substr(0, cut), &why)) {
      EXPECT_EQ(stub, ours) << cut;
    }
    EXPECT_EQ(stub.size(), ours.size());
  }
  StubIconPlace place;
  std::string why;
  ASSERT_TRUE(findStubIcon((const uint8_t*)ours.data(), 26112, &place, &why));
  uint32_t x = 7;
  auto next = [&] { return x = x * 1103515245u + 12345u, x >> 8; };
  for (int round = 0; round < 3000; ++round) {
    std::string stub = ours, file = ico;
    // Damage the headers, the resource tree and the icon image's header,
    // or the icon file's directory and image headers.
    if (round % 2) {
      for (int k = 0; k < 4; ++k) stub[next() % (place.offset + 104)] = (char)next();
    } else {
      for (int k = 0; k < 4; ++k) file[next() % 80] = (char)next();
    }
    StubIconPlace p;
    if (findStubIcon((const uint8_t*)stub.data(), 26112, &p, &why)) {
      EXPECT_LE((uint64_t)p.offset + p.length, 26112u);
    }
    replaceStubIcon(&stub, file, &why);
    EXPECT_EQ(stub.size(), ours.size());
    compareStub((const uint8_t*)stub.data(), (const uint8_t*)ours.data(), 26112);
  }
}

}  // namespace
