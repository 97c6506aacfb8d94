#pragma once

#include <QByteArray>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>

#include "rtu/frames.h"
#include "rtu/waitresolution.h"

class Serial;

// Carries out one Modbus RTU transaction at a time: build the request, hand it to the port,
// wait the fixed time while the owner thread gathers the reply, check it. Knows nothing of
// registers' meanings or of the screen. Called from one thread at a time.
//
// A reply carries no register number, so a reply that comes after its wait would be taken for
// the answer to the next request. After a transaction without a valid reply (or with a read
// reply of another size than asked) the line is therefore suspect: the next request is held until
// the line has been quiet for a recovery time (at least 100 ms, and two fixed waits where that is
// longer), or at most three times that while it keeps talking. Bytes the port finds waiting
// when a request is handed over show the line was not quiet either: the request is held again,
// within the same bound. A reply later than its wait plus the recovery time can still be taken
// for the next request's.
class RtuMaster {
public:
    explicit RtuMaster(Serial &serial);

    // 1 when a valid reply arrived; then *byteCount = N and data[0..N) are its data bytes.
    // 0 otherwise, with both caller buffers untouched. data must have room for 255 bytes.
    int readRegisters(int slave, int startRegister, int registerCount, std::uint8_t *data,
                      std::uint8_t *byteCount);
    // 1 when a valid echo carrying the same dataLength data bytes arrived, 0 otherwise.
    int writeRegister(int slave, int registerAddress, const std::uint8_t *data, int dataLength);

    // Address byte of the last accepted read reply.
    std::uint8_t replyAddress() const;

    // Check the bytes gathered for the current transaction; 1 when accepted. Both empty the
    // gathered bytes.
    int parseReadReply();
    int parseWriteReply(int dataLength);

    // What a transaction does with the bytes its wait gathered. A read: 1 when they are an
    // accepted reply, then *byteCount and data as readRegisters delivers them; 0 leaves both
    // untouched. A write: 1 when they are an accepted echo of the dataLength bytes sent;
    // *validEcho, when given, says whether they passed the checks whatever data they carry.
    int acceptReadReply(const QByteArray &gathered, std::uint8_t *data, std::uint8_t *byteCount);
    int acceptWriteReply(const QByteArray &gathered, const std::uint8_t *sent, int dataLength,
                         bool *validEcho = nullptr);

    // Ends every current and later wait at once (used when the program shuts down).
    void abortWaits();

    static constexpr int kWriteReplyWaitMs = 200;
    static constexpr int kMaxDataBytes = kFrameDataCapacity;
    static constexpr int kMinRecoveryQuietMs = 100;
    static constexpr int kRecoveryBoundFactor = 3;

private:
    using Clock = std::chrono::steady_clock;

    void waitForReply(int milliseconds);
    bool waitsWereAborted();
    // Copies the gathered bytes into rxFrame; false when they are too short to be checked.
    bool takeGatheredReply(const QByteArray &gathered);
    // Hands txFrame to the port once the line is quiet, holding it within the recovery bound.
    void sendWhenQuiet(int waitMs);
    // Holds the caller until the line has been quiet for the recovery time, or giveUpAt.
    void waitForQuietLine(Clock::time_point giveUpAt);
    void holdFromNow(int waitMs);
    void noteOutcome(bool answered, int waitMs);

    Serial &serial;
    // The fixed waits below are only as exact as the system's timer.
    FineWaitResolution waitResolution;
    ReadRequest readRequest;
    WriteRequest writeRequest;
    ReadReply readReply;
    WriteReply writeReply;
    QByteArray txFrame;
    QByteArray rxFrame;

    std::mutex waitMutex;
    std::condition_variable waitWake;
    bool waitsAborted = false;

    bool suspect = false;
    Clock::time_point suspectSince{};
    std::chrono::milliseconds recoveryQuiet{kMinRecoveryQuietMs};
};
