#pragma once

#include <cstddef>
#include <cstdint>

// CRC-16/MODBUS: preset 0xFFFF, reflected polynomial 0xA001, no final XOR. Sent low byte first.
// Three equivalent forms: the bitwise one needs no table, the byte table builds requests with
// one lookup pair per byte, the 32-byte nibble table checks replies.
std::uint16_t crc16Bitwise(const std::uint8_t *data, std::uint16_t length);
std::uint16_t crc16ByteTable(const std::uint8_t *data, std::uint16_t length);
std::uint16_t crc16NibbleTable(const std::uint8_t *data, std::uint16_t length);

// True when the last two bytes of the frame (low byte first) are the CRC of the bytes before
// them. Frames of three bytes or fewer are rejected untested, and so is a frame whose checked
// part is longer than the 16-bit length the CRC functions take (no reply is that long).
bool frameCrcMatches(const std::uint8_t *frame, std::size_t length);
