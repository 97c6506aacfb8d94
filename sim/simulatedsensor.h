#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <thread>
#include <vector>

// The sensor's registers and its answers to Modbus RTU requests, without any I/O.
// Thread-safe: every public member may be called from any thread.
class SensorModel {
public:
    static constexpr std::uint8_t kScanAddress = 250;
    static constexpr std::uint8_t kDefaultAddress = 1;
    static constexpr std::uint8_t kDefaultBaudRateCode = 3;  // 9600

    // Live readings (temperature, humidity in hundredths, signed).
    static constexpr int kRegSmokePpm = 0;
    static constexpr int kRegTemperature = 1;
    static constexpr int kRegHumidity = 2;
    static constexpr int kRegAlarmStatus = 3;
    static constexpr int kRegSerialNumber = 100;
    static constexpr int kRegDeviceAddress = 102;
    static constexpr int kRegBaudRateCode = 103;
    static constexpr int kRegSmokeWarning = 111;
    static constexpr int kRegSmokeAd = 112;
    static constexpr int kRegOutputChange = 255;

    static constexpr std::uint16_t kAlarmSmoke = 0x0001;

    static constexpr std::uint8_t kIllegalFunction = 0x01;
    static constexpr std::uint8_t kIllegalDataAddress = 0x02;
    static constexpr std::uint8_t kIllegalDataValue = 0x03;

    explicit SensorModel(std::uint32_t seed = 1);

    // One whole request frame in, the reply frame out; empty when the sensor stays silent
    // (bad CRC, another address, malformed frame). *description, when given, says in a few
    // words what happened ("read reg 100 = 0x1234", "scan", "write reg 103 = 0x0004", ...).
    QByteArray handleRequest(const QByteArray &frame, QString *description = nullptr);
    // Whether handleRequest() would answer this frame (valid, and for this sensor or a scan).
    bool wouldAnswer(const QByteArray &frame) const;

    std::uint8_t address() const;
    void setAddress(std::uint8_t address);
    std::uint16_t baudRateCode() const;

    static bool hasRegister(int reg);
    // Current value; nullopt for a register the sensor does not have.
    std::optional<std::uint16_t> registerValue(int reg) const;
    // Sets a register exactly (no range check); false for a register the sensor lacks.
    // Register 102 changes the address, 103 the baud-rate code.
    bool setRegister(int reg, std::uint16_t value);

    // While moving, temperature, humidity and smoke drift with time, and the smoke AD value
    // and the smoke alarm bit follow the smoke reading. Frozen, every register keeps what
    // was set. Moving is the default.
    void setLiveValuesMoving(bool moving);
    bool liveValuesMoving() const;

    // Number of requests this sensor answered (scan included), for tests.
    int answeredCount() const;

private:
    void advanceLiveValuesLocked() const;
    std::uint16_t valueLocked(int reg) const;
    QByteArray exceptionReply(std::uint8_t address, std::uint8_t function, std::uint8_t code) const;

    mutable std::mutex mutex_;
    // Mutable because a read catches the live readings up with the time that has passed.
    mutable std::map<int, std::uint16_t> registers_;
    std::uint8_t address_ = kDefaultAddress;
    bool moving_ = true;
    int answered_ = 0;
    mutable std::mt19937 random_;
    mutable std::chrono::steady_clock::time_point lastAdvance_;
};

// Appends the CRC-16/MODBUS of frame to it, low byte first.
QByteArray withCrc(const QByteArray &frame);
// What a master sends: a read of one register, and a write of the given data bytes.
QByteArray readRequestFrame(int address, int reg);
QByteArray writeRequestFrame(int address, int reg, const QByteArray &data);
// Upper-case hex pairs separated by blanks, "01 03 00 64".
QString hexBytes(const QByteArray &bytes);

// A misbehaviour injected into the reply to one request.
enum class Fault {
    None,
    NoReply,            // the request is lost: not applied, nothing sent
    BadCrc,             // last CRC byte inverted
    SplitReply,         // two chunks: byteCount bytes, a gap of delayMs, the rest
    LateReply,          // the whole reply after delayMs
    ExtraBytesBefore,   // bytes (default one 0x00) sent just before the reply
    ExtraBytesAfter,    // bytes (default one 0x00) sent just after the reply
    ExceptionReply,     // function | 0x80 with exceptionCode; the request is not applied
    WrongEcho,          // data bytes changed (value + 1), CRC valid; writes are still stored
    DoubleReply,        // the reply twice, delayMs apart (0: in one write)
    TruncatedReply,     // only the first byteCount bytes
    OverlongByteCount,  // byte count raised by byteCount (default 4), CRC valid
    OtherAddress,       // address byte replaced by otherAddress, CRC valid
    RawReply,           // exactly bytes, whatever was asked; the request is applied
};

const char *faultName(Fault fault);
// Accepts the names faultName() gives ("NoReply", ...), case-insensitive.
std::optional<Fault> faultFromName(const QString &name);

struct FaultSpec {
    Fault kind = Fault::None;
    int delayMs = -1;    // -1: the fault's default (LateReply 300, SplitReply 10, DoubleReply 0)
    int byteCount = -1;  // -1: default (SplitReply half, TruncatedReply 4, OverlongByteCount 4)
    QByteArray bytes;    // RawReply: the reply; ExtraBytes*: the stray bytes
    std::uint8_t exceptionCode = 0x04;
    std::uint8_t otherAddress = 0x02;
    int maxDelayMs = -1;            // LateReply: above delayMs, a seeded draw from the range
    std::uint8_t onlyFunction = 0;  // not 0: only requests of this function code get it

    static FaultSpec of(Fault kind);
    static FaultSpec late(int delayMs);
    static FaultSpec lateBetween(int minDelayMs, int maxDelayMs);
    static FaultSpec split(int firstChunkBytes, int gapMs);
    static FaultSpec truncated(int keptBytes);
    static FaultSpec raw(const QByteArray &reply);
    static FaultSpec exception(std::uint8_t code);
    static FaultSpec otherAddressReply(std::uint8_t address);
    static FaultSpec extraBefore(const QByteArray &stray);
    static FaultSpec extraAfter(const QByteArray &stray);
    static FaultSpec doubled(int gapMs);
};

// What went over the wire for one request.
struct Exchange {
    using Clock = std::chrono::steady_clock;
    struct Chunk {
        QByteArray bytes;
        Clock::time_point sentAt;
    };

    QByteArray request;            // a discarded fragment too (see description)
    Clock::time_point receivedAt;  // when the request's last byte was read
    Fault fault = Fault::None;
    std::vector<Chunk> replyChunks;  // in the order written; empty when nothing was sent
    QString description;

    QByteArray reply() const;  // all chunks joined
    std::optional<Clock::time_point> firstSentAt() const;
    std::optional<Clock::time_point> lastSentAt() const;
};

// Serves a SensorModel on a pseudo-terminal it creates or on a named serial device, from a
// thread of its own (poll() on the descriptor), so it answers while the caller's thread is
// blocked or busy. Requests are 8-byte frames; anything else is delimited by line silence.
class SimulatedSensor {
public:
    using Clock = std::chrono::steady_clock;

    explicit SimulatedSensor(std::uint32_t seed = 1);
    ~SimulatedSensor();
    SimulatedSensor(const SimulatedSensor &) = delete;
    SimulatedSensor &operator=(const SimulatedSensor &) = delete;

    // Creates a pseudo-terminal and starts serving its master side. portPath() then names
    // the slave ("/dev/pts/7") for QSerialPort or libmodbus. baudRate only matters for line
    // timing and the silence that ends a fragment.
    bool openPty(QString *error = nullptr, int baudRate = 9600);
    // Opens a serial device at baudRate, 8-N-1, raw, no flow control, and serves it.
    bool openDevice(const QString &path, int baudRate, QString *error = nullptr);
    QString portPath() const;
    // False before opening, after stop() or hangUp(), and after the device failed.
    bool isRunning() const;
    // Why serving ended on its own (device error), empty otherwise.
    QString failure() const;
    // Stops the thread and closes the descriptors. Also done by the destructor.
    void stop();
    // Closes the line as an unplugged adapter would: a client of the pty then sees a hang-up.
    void hangUp();

    SensorModel &model() { return model_; }

    // The next request this sensor answers gets the queued fault (one per request, in order).
    void queueFault(const FaultSpec &fault);
    void clearFaultQueue();
    // Each answered request without a queued fault gets this fault with this probability
    // (several rates add up; seeded, so a run repeats).
    void setFaultRate(const FaultSpec &fault, double probability);
    void clearFaultRates();

    // Delay every reply by the time both frames take on the wire (10 bits a byte at the
    // baud rate) plus the turnaround.
    void setLineTiming(bool enabled, int turnaroundMs = 2);
    // Every reply starts this much later, as behind a USB adapter that holds received bytes
    // for its latency timer (16 ms on FTDI chips by default). 0 turns it off.
    void setReplyDelay(int delayMs);
    // Sends a frame of its own every intervalMs (0: never), as a sensor in upload mode: the
    // temperature and humidity registers in a read-reply layout, 9 bytes. Uploads are not
    // exchanges; uploadedBytes() counts what went out.
    void setUploadInterval(int intervalMs);
    std::uint64_t uploadedBytes() const { return uploadedBytes_; }
    QByteArray uploadFrame() const;

    // The line's baud rate; a successful write of the baud-rate code changes it once the
    // echo is out, as the sensor would.
    int baudRate() const;

    // Log of exchanges, oldest first.
    std::vector<Exchange> exchanges() const;
    void clearExchanges();
    // Blocks until at least count exchanges are logged, their replies fully written and the
    // frame logger has seen them, or the timeout passes. Returns whether the count was reached.
    bool waitForExchanges(std::size_t count, int timeoutMs) const;

    // Called on the serving thread after each exchange is complete (reply fully written).
    void setFrameLogger(std::function<void(const Exchange &)> logger);

    static std::optional<int> baudRateForCode(std::uint16_t code);
    static std::optional<std::uint16_t> codeForBaudRate(int baudRate);

private:
    struct Scheduled {
        Clock::time_point due;
        QByteArray bytes;
        std::uint64_t exchangeId;
        bool lastChunk;
        int baudRateAfter;  // 0: unchanged
        bool upload = false;
    };

    bool startServing(int fd, int baudRate, QString *error);
    void serve();
    void takeFrames(Clock::time_point now);
    void onFrame(const QByteArray &frame, Clock::time_point at);
    FaultSpec pickFault(const QByteArray &frame);
    std::uint64_t logExchange(Exchange exchange);
    void completeExchange(std::uint64_t id);
    void writeDue(Clock::time_point now);
    void schedule(const Scheduled &chunk);
    // Schedules the upload when it is due; the next time it falls due, if any.
    std::optional<Clock::time_point> scheduleUpload(Clock::time_point now);
    void chunkWritten(const Scheduled &chunk, Clock::time_point at);
    void applyBaudRate(int baudRate);
    void wakeServingThread();
    void fail(const QString &why);
    int silenceMs() const;

    SensorModel model_;
    int fd_ = -1;       // pty master or device
    int slaveFd_ = -1;  // kept open so that clients may close and reopen the pty
    int wakeFd_ = -1;   // eventfd that stops the thread
    bool isPty_ = false;
    QString path_;
    std::thread thread_;
    std::atomic<bool> running_{false};
    std::atomic<bool> stopRequested_{false};
    std::atomic<int> baudRate_{9600};

    mutable std::mutex mutex_;  // guards everything down to the serving thread's own state
    mutable std::condition_variable exchangesChanged_;
    std::deque<FaultSpec> faultQueue_;
    std::vector<std::pair<FaultSpec, double>> faultRates_;
    std::mt19937 faultRandom_;
    bool lineTiming_ = false;
    int turnaroundMs_ = 2;
    int replyDelayMs_ = 0;
    int uploadIntervalMs_ = 0;
    std::atomic<std::uint64_t> uploadedBytes_{0};
    std::deque<Exchange> exchanges_;
    std::deque<bool> exchangeComplete_;
    std::uint64_t firstExchangeId_ = 0;  // id of exchanges_.front(); ids survive a clear
    std::function<void(const Exchange &)> logger_;
    QString failure_;

    // The serving thread's own state.
    QByteArray rxPending_;
    Clock::time_point lastByteAt_;
    std::vector<Scheduled> schedule_;   // sorted by due time, stable
    std::optional<Scheduled> writing_;  // chunk being written
    QByteArray writeLeft_;              // its bytes the line has not taken yet
    std::optional<Clock::time_point> nextUploadAt_;
};

// Two pseudo-terminals joined like a null-modem cable: what is written to one slave is read
// from the other. Lets two programs that each want a device path talk to each other.
class PtyBridge {
public:
    PtyBridge() = default;
    ~PtyBridge();
    PtyBridge(const PtyBridge &) = delete;
    PtyBridge &operator=(const PtyBridge &) = delete;

    bool open(QString *error = nullptr);
    void close();
    QString pathA() const { return pathA_; }
    QString pathB() const { return pathB_; }
    // Bytes carried so far in each direction.
    std::uint64_t bytesAtoB() const { return bytesAtoB_; }
    std::uint64_t bytesBtoA() const { return bytesBtoA_; }

private:
    void run();

    int masterA_ = -1, slaveA_ = -1, masterB_ = -1, slaveB_ = -1, wakeFd_ = -1;
    QString pathA_, pathB_;
    std::thread thread_;
    std::atomic<std::uint64_t> bytesAtoB_{0};
    std::atomic<std::uint64_t> bytesBtoA_{0};
};
