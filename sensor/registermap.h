#pragma once

#include <cstdint>
#include <iterator>
#include <type_traits>

#include "sensor/sharedstate.h"

// How the two data bytes of a read reply become the stored value.
enum class RegisterFormat {
    Unsigned,  // data[0] * 256 + data[1]
    Signed16,  // the same 16 bits as two's complement
    LowByte,   // data[1] only
};

// Registers that a profile applied to a sensor leaves alone unless the operator ticks them.
enum class ProfileGuard {
    None,
    Identity,  // writing it changes what the sensor is (model code, protocol type)
    Line,      // writing it moves the sensor off this line (address, baud rate, mode)
};

// Load and store of one SharedState field, whatever its width and signedness.
struct FieldAccess {
    std::int32_t (*load)(const SharedState &state);
    void (*store)(SharedState &state, std::int32_t value);
};

template <auto member>
constexpr FieldAccess fieldOf() {
    return {[](const SharedState &state) -> std::int32_t {
                return std::int32_t((state.*member).load());
            },
            [](SharedState &state, std::int32_t value) {
                using Value = typename std::remove_reference_t<decltype(state.*member)>::value_type;
                (state.*member).store(Value(value));
            }};
}

// One register of the sensor and everything the program does with it.
struct RegisterEntry {
    std::uint32_t readCode;   // 0: never read on its own; AcquisitionCycle: read by the cycle
    std::uint32_t writeCode;  // 0: not written
    std::uint16_t address;    // the register; the scan reads kScanRegister at kScanAddress instead
    FieldAccess field;
    RegisterFormat format;
    const char *lineEdit;  // object name of the entry field; nullptr for live values
    int minimum;           // accepted write values, both inclusive
    int maximum;
    bool inReducedBuild;  // the reduced window has no buttons for it
    bool marksSample;     // a successful cycle read makes a chart sample ready
    const char *caption;  // object name of the entry field's caption label; nullptr for live values
    ProfileGuard guard;   // left alone by a profile unless ticked
};

constexpr std::uint16_t kScanRegister = 100;

// The whole register map. The worker's dispatch, the main loop's field update, the button
// handlers and the profiles all go by it; the acquisition cycle reads its rows in the order
// given here, a profile its configuration rows.
inline constexpr RegisterEntry kRegisterMap[] = {
    // clang-format off
    // The configuration registers, in the order of the form: tab by tab, top to bottom.
    {ReadSerialNumber, WriteSerialNumber, 100, fieldOf<&SharedState::serialNumber>(), RegisterFormat::Unsigned, "lineEdit_serial_number", 0, 65535, true, false, "label_18", ProfileGuard::Identity},
    {ScanDevice, WriteDeviceAddress, 102, fieldOf<&SharedState::slaveAddress>(), RegisterFormat::Unsigned, "lineEdit_device_address", 1, 249, true, false, "label_19", ProfileGuard::Line},
    {ReadCommunicationMode, WriteCommunicationMode, 104, fieldOf<&SharedState::communicationMode>(), RegisterFormat::LowByte, "lineEdit_communication_mode", 0, 254, true, false, "label_20", ProfileGuard::Line},
    {ReadTestAmount, WriteTestAmount, 101, fieldOf<&SharedState::testAmount>(), RegisterFormat::LowByte, "lineEdit_test_amount", 0, 254, true, false, "label_21", ProfileGuard::None},
    {ReadBaudRate, WriteBaudRate, 103, fieldOf<&SharedState::baudRateCode>(), RegisterFormat::LowByte, "lineEdit_baud_rate", 1, 6, true, false, "label_22", ProfileGuard::Line},
    {ReadProtocolType, WriteProtocolType, 105, fieldOf<&SharedState::protocolType>(), RegisterFormat::LowByte, "lineEdit_protocol_type", 0, 254, true, false, "label_23", ProfileGuard::Identity},
    {ReadUpdateTime, WriteUpdateTime, 106, fieldOf<&SharedState::updateTime>(), RegisterFormat::Unsigned, "lineEdit_update_time", 0, 35999, true, false, "label_24", ProfileGuard::None},
    {ReadTemOffset, WriteTemOffset, 108, fieldOf<&SharedState::temOffset>(), RegisterFormat::Signed16, "lineEdit_tem_offset_value", -1000, 1000, true, false, "label_25", ProfileGuard::None},
    {ReadHumOffset, WriteHumOffset, 109, fieldOf<&SharedState::humOffset>(), RegisterFormat::Signed16, "lineEdit_hum_offset_value", -2000, 2000, true, false, "label_28", ProfileGuard::None},
    {ReadSmokeOffset, WriteSmokeOffset, 107, fieldOf<&SharedState::smokeOffset>(), RegisterFormat::Signed16, "lineEdit_smoke_offset", -1000, 1000, true, false, "label_42", ProfileGuard::None},
    {ReadSmokeWarning, WriteSmokeWarning, 111, fieldOf<&SharedState::smokeWarning>(), RegisterFormat::Unsigned, "lineEdit_smoke_warning", 0, 5000, true, false, "label_50", ProfileGuard::None},
    {ReadAdMin, WriteAdMin, 114, fieldOf<&SharedState::adMin>(), RegisterFormat::Unsigned, "line_edit_ad_min", 0, 4096, true, false, "label_55", ProfileGuard::None},
    {ReadAdMax, WriteAdMax, 113, fieldOf<&SharedState::adMax>(), RegisterFormat::Unsigned, "line_edit_ad_max", 0, 4096, true, false, "label_56", ProfileGuard::None},
    {ReadRangeMin, WriteRangeMin, 116, fieldOf<&SharedState::rangeMin>(), RegisterFormat::Unsigned, "line_range_min", 0, 5000, true, false, "label_57", ProfileGuard::None},
    {ReadRangeMax, WriteRangeMax, 115, fieldOf<&SharedState::rangeMax>(), RegisterFormat::Unsigned, "line_edit_range_max", 0, 5000, true, false, "label_58", ProfileGuard::None},
    {ReadOutputChange, WriteOutputChange, 255, fieldOf<&SharedState::outputChange>(), RegisterFormat::Unsigned, "line_edit_output_change", 0, 100, true, false, "label_63", ProfileGuard::None},
    {ReadSmokeVMin, WriteSmokeVMin, 118, fieldOf<&SharedState::smokeVMin>(), RegisterFormat::Unsigned, "line_edit_smoke_v_min", 0, 10000, false, false, "label_38", ProfileGuard::None},
    {ReadSmokeVMax, WriteSmokeVMax, 117, fieldOf<&SharedState::smokeVMax>(), RegisterFormat::Unsigned, "line_edit_smoke_v_max", 0, 10000, false, false, "label_33", ProfileGuard::None},
    {ReadSmokeCMin, WriteSmokeCMin, 120, fieldOf<&SharedState::smokeCMin>(), RegisterFormat::Unsigned, "line_edit_smoke_c_min", 0, 10000, false, false, "label_31", ProfileGuard::None},
    {ReadSmokeCMax, WriteSmokeCMax, 119, fieldOf<&SharedState::smokeCMax>(), RegisterFormat::Unsigned, "line_edit_smoke_c_max", 0, 10000, false, false, "label_35", ProfileGuard::None},
    // Live values: stored as the raw 16 bits; the read-outs and the chart take temperature
    // and humidity as signed hundredths.
    {AcquisitionCycle, 0, 0, fieldOf<&SharedState::smokeValue>(), RegisterFormat::Unsigned, nullptr, 0, 0, true, false, nullptr, ProfileGuard::None},
    {AcquisitionCycle, 0, 1, fieldOf<&SharedState::temValue>(), RegisterFormat::Unsigned, nullptr, 0, 0, true, true, nullptr, ProfileGuard::None},
    {AcquisitionCycle, 0, 2, fieldOf<&SharedState::humValue>(), RegisterFormat::Unsigned, nullptr, 0, 0, true, true, nullptr, ProfileGuard::None},
    {AcquisitionCycle, 0, 3, fieldOf<&SharedState::alarmStatus>(), RegisterFormat::Unsigned, nullptr, 0, 0, true, true, nullptr, ProfileGuard::None},
    {AcquisitionCycle, 0, 112, fieldOf<&SharedState::smokeAdValue>(), RegisterFormat::Unsigned, nullptr, 0, 0, true, true, nullptr, ProfileGuard::None},
    // clang-format on
};

// The entry a button code belongs to; nullptr for codes without one (the cycle, Idle, ...).
const RegisterEntry *entryForReadCode(std::uint32_t code);
const RegisterEntry *entryForWriteCode(std::uint32_t code);

// The value a read reply's first two data bytes stand for, in the entry's format.
std::int32_t decodeRegister(RegisterFormat format, std::uint8_t high, std::uint8_t low);
