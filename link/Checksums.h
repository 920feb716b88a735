// The published checksums the tool and the simulator both rely on.
#pragma once
#include <cstddef>
#include <cstdint>

// 8-bit wrapping sum of count bytes from start (the reader command frame).
uint8_t RangeSum(const uint8_t* buffer, uint16_t start, uint16_t count);

// CRC-16/XMODEM: poly 0x1021, init 0, no reflection (check value 0x31C3).
uint16_t Crc16Xmodem(const uint8_t* data, size_t count);

// CRC-16/X-25: poly 0x1021 reflected, init and xorout 0xFFFF (check value 0x906E).
uint16_t Crc16X25(const uint8_t* data, size_t count);

// 8-bit two's-complement sum: the byte that makes the whole frame add up to 0.
uint8_t TwosComplementSum(const uint8_t* data, size_t count);
