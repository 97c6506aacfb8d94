#include "sensor/registermap.h"

const RegisterEntry *entryForReadCode(std::uint32_t code) {
    if (code == AcquisitionCycle)
        return nullptr;
    for (const RegisterEntry &entry : kRegisterMap) {
        if (entry.readCode == code)
            return &entry;
    }
    return nullptr;
}

const RegisterEntry *entryForWriteCode(std::uint32_t code) {
    if (code == 0)
        return nullptr;
    for (const RegisterEntry &entry : kRegisterMap) {
        if (entry.writeCode == code)
            return &entry;
    }
    return nullptr;
}

std::int32_t decodeRegister(RegisterFormat format, std::uint8_t high, std::uint8_t low) {
    const std::uint16_t raw = std::uint16_t((high << 8) | low);
    switch (format) {
        case RegisterFormat::Signed16:
            return std::int16_t(raw);
        case RegisterFormat::LowByte:
            return low;
        case RegisterFormat::Unsigned:
            break;
    }
    return raw;
}
