// SHA-256 of a byte run (FIPS 180-4), for `vellicor --version` to name the
// stub it embeds.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <string>

void sha256(const uint8_t* bytes, size_t count, uint8_t digest[32]);
// The digest as 64 lower-case hexadecimal digits.
std::string sha256Hex(const uint8_t* bytes, size_t count);
