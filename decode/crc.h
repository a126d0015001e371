// CRC-16/UMTS in shift-in form (generator 0x8005, initial 0, no reflection,
// no final XOR): feeding a message and then two zero bytes leaves its CRC;
// feeding a message and then its CRC, high byte first, leaves 0.
#pragma once
#include <stdint.h>

// Passes one byte through app.crcRegister.
void crcFeed(uint8_t byte);
// The same step on a register of the caller's.
uint32_t crcStep(uint32_t reg, uint8_t byte);
// CRC-16 of a byte run (register from 0, two zero bytes fed after it).
uint16_t crc16(const void* bytes, uint32_t count);
// The register after `count` bytes fed from 0: what crcStep over them
// leaves. 0 for a block followed by its CRC.
uint32_t crcOfBlock(const uint8_t* bytes, uint32_t count);
