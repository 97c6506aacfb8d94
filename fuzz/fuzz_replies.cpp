// libFuzzer target: arbitrary bytes as the reply a transaction gathered, through the master's
// read and write checks and the worker's decoding into a register field. Each outcome is held
// against a plain reading of the frame rules, so a wrong accept or reject traps as well as a
// bad memory access.
#include <cstdint>
#include <cstring>

#include "rtu/crc16.h"
#include "rtu/frames.h"
#include "rtu/rtumaster.h"
#include "sensor/registermap.h"
#include "sensor/sharedstate.h"
#include "sensor/uart_thread.h"
#include "transport/serial.h"

namespace {

constexpr std::uint8_t kUntouched = 0xA5;

void check(bool condition) {
    if (!condition)
        __builtin_trap();
}

bool crcMatches(const std::uint8_t *bytes, std::size_t size) {
    if (size < std::size_t(kMinCheckedFrameSize))
        return false;
    const std::uint16_t received = std::uint16_t(bytes[size - 1] << 8 | bytes[size - 2]);
    return crc16Bitwise(bytes, std::uint16_t(size - 2)) == received;
}

void fuzzRead(RtuMaster &master, const std::uint8_t *bytes, std::size_t size) {
    std::uint8_t data[256];
    std::memset(data, kUntouched, sizeof data);
    std::uint8_t byteCount = kUntouched;
    const QByteArray gathered(reinterpret_cast<const char *>(bytes), int(size));

    const int result = master.acceptReadReply(gathered, data, &byteCount);

    const bool expected = crcMatches(bytes, size) && size >= std::size_t(bytes[2]) + 5;
    check(result == (expected ? 1 : 0));
    if (result == 1) {
        check(byteCount == bytes[2]);
        check(std::memcmp(data, bytes + kReadReplyHeaderSize, byteCount) == 0);
        check(master.replyAddress() == bytes[0]);
    } else {
        check(byteCount == kUntouched);
    }
    for (std::size_t i = result == 1 ? byteCount : 0; i < sizeof data; ++i)
        check(data[i] == kUntouched);

    // The worker takes a value only from a reply of exactly one register.
    const RegisterRead read = registerFromReply(result, data, byteCount);
    check(read.ok == (result == 1 && byteCount == 2));
    if (!read.ok)
        return;
    static SharedState state;
    for (const RegisterEntry &entry : kRegisterMap) {
        // The scan's field is the address, taken from the reply's address byte.
        if (entry.readCode == ScanDevice)
            continue;
        const std::int32_t value = decodeRegister(entry.format, read.high, read.low);
        entry.field.store(state, value);
        check(entry.field.load(state) == value);
        switch (entry.format) {
            case RegisterFormat::Unsigned:
                check(value == (read.high << 8 | read.low));
                break;
            case RegisterFormat::Signed16:
                check(value == std::int16_t(std::uint16_t(read.high << 8 | read.low)));
                break;
            case RegisterFormat::LowByte:
                check(value == read.low);
                break;
        }
    }
}

void fuzzWrite(RtuMaster &master, const std::uint8_t *bytes, std::size_t size) {
    // The data sent: the worker always sends two bytes. Taken from the input where it has
    // them, so that matching echoes are reached as well as mismatching ones.
    std::uint8_t sent[2] = {0x00, 0x0A};
    if (size >= 6)
        std::memcpy(sent, bytes + kWriteFrameHeaderSize, sizeof sent);
    if (size > 0 && (bytes[0] & 1) != 0)
        sent[1] ^= 0x01;
    const QByteArray gathered(reinterpret_cast<const char *>(bytes), int(size));

    const int result = master.acceptWriteReply(gathered, sent, int(sizeof sent));

    const bool expected = crcMatches(bytes, size) && size >= sizeof sent + 6 &&
                          std::memcmp(bytes + kWriteFrameHeaderSize, sent, sizeof sent) == 0;
    check(result == (expected ? 1 : 0));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *bytes, std::size_t size) {
    // Frames are short; the CRC helpers take a 16-bit length.
    if (size > 4096)
        return 0;
    // No port is ever opened: only the reply checks run.
    static Serial *serial = new Serial;
    static RtuMaster *master = new RtuMaster(*serial);
    fuzzRead(*master, bytes, size);
    fuzzWrite(*master, bytes, size);
    return 0;
}
