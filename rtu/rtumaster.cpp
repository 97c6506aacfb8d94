#include "rtu/rtumaster.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "rtu/crc16.h"
#include "transport/serial.h"

namespace {

void appendCrc(QByteArray &frame, std::uint8_t *crcLo, std::uint8_t *crcHi) {
    const std::uint16_t crc = crc16ByteTable(
        reinterpret_cast<const std::uint8_t *>(frame.constData()), std::uint16_t(frame.size()));
    *crcLo = std::uint8_t(crc & 0xFF);
    *crcHi = std::uint8_t(crc >> 8);
    frame.append(char(*crcLo));
    frame.append(char(*crcHi));
}

}  // namespace

RtuMaster::RtuMaster(Serial &serial) : serial(serial) {}

int RtuMaster::readRegisters(int slave, int startRegister, int registerCount, std::uint8_t *data,
                             std::uint8_t *byteCount) {
    if (data == nullptr || byteCount == nullptr)
        return 0;

    serial.clearRxBuffer();
    txFrame.clear();

    readRequest.address = std::uint8_t(slave);
    readRequest.startHi = std::uint8_t(startRegister >> 8);
    readRequest.startLo = std::uint8_t(startRegister);
    readRequest.countHi = std::uint8_t(registerCount >> 8);
    readRequest.countLo = std::uint8_t(registerCount);
    const std::uint8_t header[] = {readRequest.address, readRequest.function, readRequest.startHi,
                                   readRequest.startLo, readRequest.countHi,  readRequest.countLo};
    txFrame.append(reinterpret_cast<const char *>(header), sizeof header);
    appendCrc(txFrame, &readRequest.crcLo, &readRequest.crcHi);

    // A failed write is not reported to the caller: it shows as a missing reply.
    const int waitMs = serial.replyWaitMs.load();
    sendWhenQuiet(waitMs);
    waitForReply(waitMs);

    const int result = acceptReadReply(serial.closeReplyWindow(), data, byteCount);
    // A frame with another byte count passes its CRC but answers some other request (or none:
    // a frame the slave uploaded on its own), so this request's own reply may still be coming.
    noteOutcome(result == 1 && readReply.byteCount == 2 * (registerCount & 0xFFFF), waitMs);
    return result;
}

int RtuMaster::acceptReadReply(const QByteArray &gathered, std::uint8_t *data,
                               std::uint8_t *byteCount) {
    if (data == nullptr || byteCount == nullptr)
        return 0;
    if (!takeGatheredReply(gathered) || parseReadReply() == 0)
        return 0;
    *byteCount = readReply.byteCount;
    std::memcpy(data, readReply.data, readReply.byteCount);
    return 1;
}

int RtuMaster::writeRegister(int slave, int registerAddress, const std::uint8_t *data,
                             int dataLength) {
    if (data == nullptr || dataLength < 1 || dataLength > kMaxDataBytes)
        return 0;

    serial.clearRxBuffer();
    txFrame.clear();

    writeRequest.address = std::uint8_t(slave);
    writeRequest.registerHi = std::uint8_t(registerAddress >> 8);
    writeRequest.registerLo = std::uint8_t(registerAddress);
    std::memcpy(writeRequest.data, data, std::size_t(dataLength));
    const std::uint8_t header[] = {writeRequest.address, writeRequest.function,
                                   writeRequest.registerHi, writeRequest.registerLo};
    txFrame.append(reinterpret_cast<const char *>(header), sizeof header);
    txFrame.append(reinterpret_cast<const char *>(writeRequest.data), dataLength);
    appendCrc(txFrame, &writeRequest.crcLo, &writeRequest.crcHi);

    sendWhenQuiet(kWriteReplyWaitMs);
    waitForReply(kWriteReplyWaitMs);

    // Compared with the copy that went out: the caller's bytes may have changed meanwhile.
    bool validEcho = false;
    const int result =
        acceptWriteReply(serial.closeReplyWindow(), writeRequest.data, dataLength, &validEcho);
    // An echo that passed its CRC but carries other data is still this request's answer.
    noteOutcome(validEcho, kWriteReplyWaitMs);
    return result;
}

int RtuMaster::acceptWriteReply(const QByteArray &gathered, const std::uint8_t *sent,
                                int dataLength, bool *validEcho) {
    if (validEcho != nullptr)
        *validEcho = false;
    if (sent == nullptr || dataLength < 1 || dataLength > kMaxDataBytes)
        return 0;
    if (!takeGatheredReply(gathered) || parseWriteReply(dataLength) == 0)
        return 0;
    if (validEcho != nullptr)
        *validEcho = true;
    return std::memcmp(writeReply.data, sent, std::size_t(dataLength)) == 0 ? 1 : 0;
}

std::uint8_t RtuMaster::replyAddress() const {
    return readReply.address;
}

int RtuMaster::parseReadReply() {
    const auto *bytes = reinterpret_cast<const std::uint8_t *>(rxFrame.constData());
    const int size = rxFrame.size();
    if (size < kMinCheckedFrameSize) {
        rxFrame.clear();
        return 0;
    }
    readReply.crcHi = bytes[size - 1];
    readReply.crcLo = bytes[size - 2];

    // The byte count must be backed by real bytes: otherwise the data would be read from the
    // CRC or past the end, and an exception reply (function | 0x80, code, CRC) would pass as
    // a read of its own CRC.
    const int claimedDataBytes = bytes[2];
    const bool accepted =
        frameCrcMatches(bytes, std::size_t(size)) && size >= claimedDataBytes + kReadReplyOverhead;
    if (accepted) {
        readReply.address = bytes[0];
        readReply.function = bytes[1];
        readReply.byteCount = bytes[2];
        std::memcpy(readReply.data, bytes + kReadReplyHeaderSize, std::size_t(claimedDataBytes));
    }
    rxFrame.clear();
    return accepted ? 1 : 0;
}

int RtuMaster::parseWriteReply(int dataLength) {
    const auto *bytes = reinterpret_cast<const std::uint8_t *>(rxFrame.constData());
    const int size = rxFrame.size();
    if (size < kMinCheckedFrameSize || dataLength < 1 || dataLength > kMaxDataBytes) {
        rxFrame.clear();
        return 0;
    }
    writeReply.crcHi = bytes[size - 1];
    writeReply.crcLo = bytes[size - 2];

    // An echo too short for the data sent would be compared against bytes it does not hold.
    const bool accepted =
        frameCrcMatches(bytes, std::size_t(size)) && size >= dataLength + kWriteFrameOverhead;
    if (accepted) {
        writeReply.address = bytes[0];
        writeReply.function = bytes[1];
        writeReply.registerHi = bytes[2];
        writeReply.registerLo = bytes[3];
        std::memcpy(writeReply.data, bytes + kWriteFrameHeaderSize, std::size_t(dataLength));
    }
    rxFrame.clear();
    return accepted ? 1 : 0;
}

void RtuMaster::abortWaits() {
    std::lock_guard<std::mutex> lock(waitMutex);
    waitsAborted = true;
    waitWake.notify_all();
}

bool RtuMaster::waitsWereAborted() {
    std::lock_guard<std::mutex> lock(waitMutex);
    return waitsAborted;
}

void RtuMaster::waitForReply(int milliseconds) {
    // The full wait even when the reply is complete early: the reply is whatever arrived by
    // its end. Only shutdown ends it sooner.
    std::unique_lock<std::mutex> lock(waitMutex);
    waitWake.wait_for(lock, std::chrono::milliseconds(milliseconds),
                      [this] { return waitsAborted; });
}

void RtuMaster::noteOutcome(bool answered, int waitMs) {
    suspect = !answered;
    if (suspect)
        holdFromNow(waitMs);
}

void RtuMaster::holdFromNow(int waitMs) {
    suspectSince = Clock::now();
    recoveryQuiet = std::chrono::milliseconds(std::max(kMinRecoveryQuietMs, 2 * waitMs));
}

void RtuMaster::sendWhenQuiet(int waitMs) {
    // Held at most kRecoveryBoundFactor recovery times from the first hold; after that the
    // request goes out whatever the line does (the port still drops what waits).
    std::optional<Clock::time_point> giveUpAt;
    if (suspect) {
        suspect = false;
        giveUpAt = Clock::now() + kRecoveryBoundFactor * recoveryQuiet;
        waitForQuietLine(*giveUpAt);
    }
    for (;;) {
        if (waitsWereAborted() || (giveUpAt && Clock::now() >= *giveUpAt)) {
            serial.sendData(txFrame);
            return;
        }
        if (serial.sendIfQuiet(txFrame, serial.lastByteTime()) != Serial::SendResult::LineNotQuiet)
            return;
        // Bytes came after the line was judged quiet (or waited in the OS while the owner
        // thread was busy): it is talking, so wait again rather than send on top of it.
        if (giveUpAt) {
            suspectSince = Clock::now();
        } else {
            holdFromNow(waitMs);
            giveUpAt = suspectSince + kRecoveryBoundFactor * recoveryQuiet;
        }
        waitForQuietLine(*giveUpAt);
    }
}

void RtuMaster::waitForQuietLine(Clock::time_point giveUpAt) {
    // What arrives meanwhile is outside any reply window: the port logs it once and drops it.
    std::unique_lock<std::mutex> lock(waitMutex);
    while (!waitsAborted) {
        const Clock::time_point quietAt =
            std::max(serial.lastByteTime(), suspectSince) + recoveryQuiet;
        const Clock::time_point until = std::min(quietAt, giveUpAt);
        if (Clock::now() >= until)
            return;
        waitWake.wait_until(lock, until);
    }
}

bool RtuMaster::takeGatheredReply(const QByteArray &gathered) {
    rxFrame.clear();
    if (gathered.isEmpty())
        return false;
    rxFrame = gathered;
    return rxFrame.size() >= kMinCheckedFrameSize;
}
