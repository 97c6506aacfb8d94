#include "sim/simulatedsensor.h"

#include "rtu/crc16.h"

#include <QStringList>

#include <algorithm>
#include <cmath>

namespace {

constexpr std::uint8_t kReadHoldingRegisters = 0x03;
constexpr std::uint8_t kWriteSingleRegister = 0x06;
// The most registers one read reply can carry (byte count is one byte).
constexpr int kMaxReadCount = 125;
constexpr std::uint16_t kMaxDeviceAddress = 249;
constexpr std::uint16_t kMaxBaudRateCode = 6;
constexpr auto kLiveStep = std::chrono::milliseconds(100);
// After a long pause the readings need not replay every missed step.
constexpr int kMaxLiveStepsPerRead = 600;

constexpr int kRegTestAmount = 101;
constexpr int kRegCommunicationMode = 104;
constexpr int kRegProtocolType = 105;
constexpr int kRegUpdateTime = 106;
constexpr int kRegSmokeOffset = 107;
constexpr int kRegTemOffset = 108;
constexpr int kRegHumOffset = 109;
constexpr int kRegAdMax = 113;
constexpr int kRegAdMin = 114;
constexpr int kRegRangeMax = 115;
constexpr int kRegRangeMin = 116;
constexpr int kRegSmokeVMax = 117;
constexpr int kRegSmokeVMin = 118;
constexpr int kRegSmokeCMax = 119;
constexpr int kRegSmokeCMin = 120;

constexpr std::int16_t kRestingTemperature = 2350;
constexpr std::int16_t kRestingHumidity = 4500;
constexpr int kRestingSmoke = 8;

std::uint16_t bigEndianAt(const QByteArray &frame, int offset) {
    return std::uint16_t(std::uint8_t(frame[offset]) << 8 | std::uint8_t(frame[offset + 1]));
}

void appendBigEndian(QByteArray &frame, std::uint16_t value) {
    frame.append(char(value >> 8));
    frame.append(char(value & 0xFF));
}

bool isLiveRegister(int reg) {
    return reg == SensorModel::kRegSmokePpm || reg == SensorModel::kRegTemperature ||
           reg == SensorModel::kRegHumidity || reg == SensorModel::kRegAlarmStatus ||
           reg == SensorModel::kRegSmokeAd;
}

QString hexNumber(unsigned value, int digits) {
    return QStringLiteral("0x") +
           QString::number(value, 16).rightJustified(digits, QLatin1Char('0')).toUpper();
}

QString hex4(std::uint16_t value) {
    return hexNumber(value, 4);
}

void describe(QString *description, const QString &text) {
    if (description)
        *description = text;
}

}  // namespace

QByteArray withCrc(const QByteArray &frame) {
    const std::uint16_t crc = crc16ByteTable(
        reinterpret_cast<const std::uint8_t *>(frame.constData()), std::uint16_t(frame.size()));
    QByteArray result = frame;
    result.append(char(crc & 0xFF));
    result.append(char(crc >> 8));
    return result;
}

namespace {

QByteArray requestStart(int address, int function, int reg) {
    QByteArray frame;
    frame.append(char(address));
    frame.append(char(function));
    frame.append(char(reg >> 8));
    frame.append(char(reg & 0xFF));
    return frame;
}

}  // namespace

QByteArray readRequestFrame(int address, int reg) {
    return withCrc(requestStart(address, 0x03, reg) + QByteArray::fromHex("0001"));
}

QByteArray writeRequestFrame(int address, int reg, const QByteArray &data) {
    return withCrc(requestStart(address, 0x06, reg) + data);
}

QString hexBytes(const QByteArray &bytes) {
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

SensorModel::SensorModel(std::uint32_t seed)
    : random_(seed), lastAdvance_(std::chrono::steady_clock::now()) {
    registers_ = {
        {kRegSmokePpm, kRestingSmoke},
        {kRegTemperature, std::uint16_t(kRestingTemperature)},
        {kRegHumidity, std::uint16_t(kRestingHumidity)},
        {kRegAlarmStatus, 0},
        {kRegSerialNumber, 0x2107},
        {kRegTestAmount, 3},
        {kRegBaudRateCode, kDefaultBaudRateCode},
        {kRegCommunicationMode, 1},
        {kRegProtocolType, 1},
        {kRegUpdateTime, 10},
        {kRegSmokeOffset, 0},
        {kRegTemOffset, 0},
        {kRegHumOffset, 0},
        {kRegSmokeWarning, 300},
        {kRegSmokeAd, 0},
        {kRegAdMax, 3600},
        {kRegAdMin, 400},
        {kRegRangeMax, 1000},
        {kRegRangeMin, 0},
        {kRegSmokeVMax, 1000},
        {kRegSmokeVMin, 0},
        {kRegSmokeCMax, 1000},
        {kRegSmokeCMin, 200},
        {kRegOutputChange, 0},
    };
    // The address lives in address_; register 102 only mirrors it.
    std::lock_guard<std::mutex> lock(mutex_);
    registers_[kRegSmokeAd] = valueLocked(kRegSmokeAd);
}

bool SensorModel::hasRegister(int reg) {
    return (reg >= 0 && reg <= 3) || (reg >= 100 && reg <= 109) || (reg >= 111 && reg <= 120) ||
           reg == kRegOutputChange;
}

std::uint8_t SensorModel::address() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return address_;
}

void SensorModel::setAddress(std::uint8_t address) {
    std::lock_guard<std::mutex> lock(mutex_);
    address_ = address;
}

std::uint16_t SensorModel::baudRateCode() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return registers_.at(kRegBaudRateCode);
}

std::optional<std::uint16_t> SensorModel::registerValue(int reg) const {
    if (!hasRegister(reg))
        return std::nullopt;
    std::lock_guard<std::mutex> lock(mutex_);
    advanceLiveValuesLocked();
    return valueLocked(reg);
}

bool SensorModel::setRegister(int reg, std::uint16_t value) {
    if (!hasRegister(reg))
        return false;
    std::lock_guard<std::mutex> lock(mutex_);
    if (reg == kRegDeviceAddress)
        address_ = std::uint8_t(value);
    else
        registers_[reg] = value;
    return true;
}

void SensorModel::setLiveValuesMoving(bool moving) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (moving_ && !moving) {
        // Freeze what a read would show now, derived values included.
        registers_[kRegSmokeAd] = valueLocked(kRegSmokeAd);
        registers_[kRegAlarmStatus] = valueLocked(kRegAlarmStatus);
    }
    moving_ = moving;
    // Movement resumes from now, not from when it was frozen.
    lastAdvance_ = std::chrono::steady_clock::now();
}

bool SensorModel::liveValuesMoving() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return moving_;
}

int SensorModel::answeredCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return answered_;
}

std::uint16_t SensorModel::valueLocked(int reg) const {
    if (reg == kRegDeviceAddress)
        return address_;
    if (reg == kRegAlarmStatus && moving_) {
        // The smoke bit follows the reading and the alarm value; other bits stay as set.
        const std::uint16_t warning = registers_.at(kRegSmokeWarning);
        std::uint16_t alarm = registers_.at(kRegAlarmStatus) & ~kAlarmSmoke;
        if (warning > 0 && registers_.at(kRegSmokePpm) >= warning)
            alarm |= kAlarmSmoke;
        return alarm;
    }
    if (reg == kRegSmokeAd && moving_) {
        // The AD value follows the smoke reading through the sensor's calibration.
        const int adMax = registers_.at(kRegAdMax);
        const int adMin = registers_.at(kRegAdMin);
        const int rangeMax = registers_.at(kRegRangeMax);
        const int rangeMin = registers_.at(kRegRangeMin);
        const int smoke = registers_.at(kRegSmokePpm);
        if (rangeMax <= rangeMin)
            return std::uint16_t(adMin);
        const long ad = adMin + long(smoke - rangeMin) * (adMax - adMin) / (rangeMax - rangeMin);
        return std::uint16_t(std::clamp<long>(ad, 0, 0xFFFF));
    }
    return registers_.at(reg);
}

void SensorModel::advanceLiveValuesLocked() const {
    if (!moving_)
        return;
    const auto now = std::chrono::steady_clock::now();
    const auto steps = (now - lastAdvance_) / kLiveStep;
    if (steps <= 0)
        return;
    lastAdvance_ += steps * kLiveStep;
    std::normal_distribution<double> noise(0.0, 1.0);
    double temperature = std::int16_t(registers_[kRegTemperature]);
    double humidity = std::int16_t(registers_[kRegHumidity]);
    double smoke = registers_[kRegSmokePpm];
    for (long i = 0; i < std::min<long>(steps, kMaxLiveStepsPerRead); ++i) {
        // A random walk pulled back towards a resting value: slow, plausible drift.
        temperature += 0.02 * (kRestingTemperature - temperature) + 3.0 * noise(random_);
        humidity += 0.02 * (kRestingHumidity - humidity) + 8.0 * noise(random_);
        smoke += 0.05 * (kRestingSmoke - smoke) + 1.0 * noise(random_);
    }
    registers_[kRegTemperature] =
        std::uint16_t(std::int16_t(std::clamp(std::lround(temperature), -4000L, 12500L)));
    registers_[kRegHumidity] = std::uint16_t(std::clamp(std::lround(humidity), 0L, 10000L));
    registers_[kRegSmokePpm] = std::uint16_t(std::clamp(std::lround(smoke), 0L, 10000L));
}

QByteArray SensorModel::exceptionReply(std::uint8_t address, std::uint8_t function,
                                       std::uint8_t code) const {
    QByteArray reply;
    reply.append(char(address));
    reply.append(char(function | 0x80));
    reply.append(char(code));
    return withCrc(reply);
}

bool SensorModel::wouldAnswer(const QByteArray &frame) const {
    if (frame.size() < 4 ||
        !frameCrcMatches(reinterpret_cast<const std::uint8_t *>(frame.constData()),
                         std::size_t(frame.size())))
        return false;
    const std::uint8_t requestAddress = std::uint8_t(frame[0]);
    const std::uint8_t function = std::uint8_t(frame[1]);
    const bool fixedLength = function == kReadHoldingRegisters || function == kWriteSingleRegister;
    if (fixedLength && frame.size() != 8)
        return false;
    std::lock_guard<std::mutex> lock(mutex_);
    return requestAddress == address_ ||
           (requestAddress == kScanAddress && function == kReadHoldingRegisters);
}

QByteArray SensorModel::handleRequest(const QByteArray &frame, QString *description) {
    if (frame.size() < 4) {
        describe(description, QStringLiteral("ignored: %1 stray bytes").arg(frame.size()));
        return {};
    }
    if (!frameCrcMatches(reinterpret_cast<const std::uint8_t *>(frame.constData()),
                         std::size_t(frame.size()))) {
        describe(description, QStringLiteral("ignored: bad CRC"));
        return {};
    }
    const std::uint8_t requestAddress = std::uint8_t(frame[0]);
    const std::uint8_t function = std::uint8_t(frame[1]);

    std::lock_guard<std::mutex> lock(mutex_);
    const bool scan = requestAddress == kScanAddress && requestAddress != address_;
    if (requestAddress != address_ && !(scan && function == kReadHoldingRegisters)) {
        describe(description, QStringLiteral("ignored: for address %1").arg(requestAddress));
        return {};
    }
    const QString scanPrefix = scan ? QStringLiteral("scan: ") : QString();

    if (function == kReadHoldingRegisters) {
        if (frame.size() != 8) {
            describe(description, QStringLiteral("ignored: read of %1 bytes").arg(frame.size()));
            return {};
        }
        const int start = bigEndianAt(frame, 2);
        const int count = bigEndianAt(frame, 4);
        ++answered_;
        if (count < 1 || count > kMaxReadCount) {
            describe(description,
                     scanPrefix + QStringLiteral("exception 03: read of %1 registers").arg(count));
            return exceptionReply(address_, function, kIllegalDataValue);
        }
        for (int reg = start; reg < start + count; ++reg) {
            if (!hasRegister(reg)) {
                describe(description,
                         scanPrefix + QStringLiteral("exception 02: no register %1").arg(reg));
                return exceptionReply(address_, function, kIllegalDataAddress);
            }
        }
        advanceLiveValuesLocked();
        // A scan is answered with the sensor's own address: that is how it is found.
        QByteArray reply;
        reply.append(char(address_));
        reply.append(char(function));
        reply.append(char(2 * count));
        QStringList values;
        for (int reg = start; reg < start + count; ++reg) {
            const std::uint16_t value = valueLocked(reg);
            appendBigEndian(reply, value);
            values << hex4(value);
        }
        if (count == 1) {
            describe(description,
                     scanPrefix + QStringLiteral("read reg %1 = %2").arg(start).arg(values[0]));
        } else {
            describe(description, scanPrefix + QStringLiteral("read reg %1..%2 = %3")
                                                   .arg(start)
                                                   .arg(start + count - 1)
                                                   .arg(values.join(QLatin1Char(' '))));
        }
        return withCrc(reply);
    }

    if (function == kWriteSingleRegister) {
        if (frame.size() != 8) {
            describe(description, QStringLiteral("ignored: write of %1 bytes").arg(frame.size()));
            return {};
        }
        const int reg = bigEndianAt(frame, 2);
        const std::uint16_t value = bigEndianAt(frame, 4);
        ++answered_;
        if (!hasRegister(reg) || isLiveRegister(reg)) {
            describe(description, QStringLiteral("exception 02: cannot write reg %1").arg(reg));
            return exceptionReply(address_, function, kIllegalDataAddress);
        }
        // 0 is the broadcast address and 250 the scan address: a sensor set to either could
        // not be reached any more.
        const bool badAddress =
            reg == kRegDeviceAddress && (value < 1 || value > kMaxDeviceAddress);
        const bool badBaudCode = reg == kRegBaudRateCode && (value < 1 || value > kMaxBaudRateCode);
        if (badAddress || badBaudCode) {
            describe(description,
                     QStringLiteral("exception 03: reg %1 refuses %2").arg(reg).arg(value));
            return exceptionReply(address_, function, kIllegalDataValue);
        }
        if (reg == kRegDeviceAddress)
            address_ = std::uint8_t(value);
        else
            registers_[reg] = value;
        describe(description, QStringLiteral("write reg %1 = %2").arg(reg).arg(hex4(value)));
        // The echo goes out under the address the request used, even after a change of it.
        return frame;
    }

    ++answered_;
    describe(description, QStringLiteral("exception 01: function %1").arg(hexNumber(function, 2)));
    return exceptionReply(address_, function, kIllegalFunction);
}
