#pragma once

#include <cstdint>

// Modbus RTU frames of the two requests this tool sends. Multi-byte fields are big-endian;
// the CRC closes every frame low byte first.

constexpr std::uint8_t kFunctionReadHoldingRegisters = 0x03;
constexpr std::uint8_t kFunctionWriteSingleRegister = 0x06;

// Room for the data part of a write request and of the replies kept.
constexpr int kFrameDataCapacity = 600;

constexpr int kReadRequestSize = 8;
// A read reply is address, function, byte count, N data bytes, CRC.
constexpr int kReadReplyHeaderSize = 3;
constexpr int kReadReplyOverhead = kReadReplyHeaderSize + 2;
// A write request or its echo is address, function, register, L data bytes, CRC.
constexpr int kWriteFrameHeaderSize = 4;
constexpr int kWriteFrameOverhead = kWriteFrameHeaderSize + 2;
// Anything this short cannot hold even a CRC over one address and function byte.
constexpr int kMinCheckedFrameSize = 4;

struct ReadRequest {
    std::uint8_t address = 0;
    std::uint8_t function = kFunctionReadHoldingRegisters;
    std::uint8_t startHi = 0;
    std::uint8_t startLo = 0;
    std::uint8_t countHi = 0;
    std::uint8_t countLo = 0;
    std::uint8_t crcLo = 0;
    std::uint8_t crcHi = 0;
};

struct WriteRequest {
    std::uint8_t address = 0;
    std::uint8_t function = kFunctionWriteSingleRegister;
    std::uint8_t registerHi = 0;
    std::uint8_t registerLo = 0;
    std::uint8_t data[kFrameDataCapacity] = {};
    std::uint8_t crcLo = 0;
    std::uint8_t crcHi = 0;
};

struct ReadReply {
    std::uint8_t address = 0;
    std::uint8_t function = 0;
    std::uint8_t byteCount = 0;
    std::uint8_t data[kFrameDataCapacity] = {};
    std::uint8_t crcLo = 0;
    std::uint8_t crcHi = 0;
};

struct WriteReply {
    std::uint8_t address = 0;
    std::uint8_t function = 0;
    std::uint8_t registerHi = 0;
    std::uint8_t registerLo = 0;
    std::uint8_t data[kFrameDataCapacity] = {};
    std::uint8_t crcLo = 0;
    std::uint8_t crcHi = 0;
};
