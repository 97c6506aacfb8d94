#include "sim/simulatedsensor.h"

#include "rtu/crc16.h"
#include "sim/posixline.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

#include <poll.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr int kRequestBytes = 8;
constexpr int kDefaultLateMs = 300;
constexpr int kDefaultSplitGapMs = 10;
constexpr int kDefaultTruncatedBytes = 4;
constexpr int kDefaultOverlongExtra = 4;

struct FaultNameEntry {
    Fault fault;
    const char *name;
};

constexpr FaultNameEntry kFaultNames[] = {
    {Fault::None, "None"},
    {Fault::NoReply, "NoReply"},
    {Fault::BadCrc, "BadCrc"},
    {Fault::SplitReply, "SplitReply"},
    {Fault::LateReply, "LateReply"},
    {Fault::ExtraBytesBefore, "ExtraBytesBefore"},
    {Fault::ExtraBytesAfter, "ExtraBytesAfter"},
    {Fault::ExceptionReply, "ExceptionReply"},
    {Fault::WrongEcho, "WrongEcho"},
    {Fault::DoubleReply, "DoubleReply"},
    {Fault::TruncatedReply, "TruncatedReply"},
    {Fault::OverlongByteCount, "OverlongByteCount"},
    {Fault::OtherAddress, "OtherAddress"},
    {Fault::RawReply, "RawReply"},
};

struct BaudCode {
    std::uint16_t code;
    int baudRate;
};

constexpr BaudCode kBaudCodes[] = {
    {1, 2400}, {2, 4800}, {3, 9600}, {4, 19200}, {5, 38400}, {6, 115200},
};

// Replaces the CRC of a reply whose bytes were changed on purpose, so only the intended
// fault shows.
QByteArray recrc(const QByteArray &reply) {
    return withCrc(reply.left(reply.size() - 2));
}

QByteArray defaultStray(const FaultSpec &fault) {
    return fault.bytes.isEmpty() ? QByteArray(1, '\0') : fault.bytes;
}

}  // namespace

const char *faultName(Fault fault) {
    for (const auto &entry : kFaultNames) {
        if (entry.fault == fault)
            return entry.name;
    }
    return "?";
}

std::optional<Fault> faultFromName(const QString &name) {
    for (const auto &entry : kFaultNames) {
        if (name.compare(QLatin1String(entry.name), Qt::CaseInsensitive) == 0)
            return entry.fault;
    }
    return std::nullopt;
}

FaultSpec FaultSpec::of(Fault kind) {
    FaultSpec spec;
    spec.kind = kind;
    return spec;
}

FaultSpec FaultSpec::late(int delayMs) {
    FaultSpec spec = of(Fault::LateReply);
    spec.delayMs = delayMs;
    return spec;
}

FaultSpec FaultSpec::lateBetween(int minDelayMs, int maxDelayMs) {
    FaultSpec spec = late(minDelayMs);
    spec.maxDelayMs = maxDelayMs;
    return spec;
}

FaultSpec FaultSpec::split(int firstChunkBytes, int gapMs) {
    FaultSpec spec = of(Fault::SplitReply);
    spec.byteCount = firstChunkBytes;
    spec.delayMs = gapMs;
    return spec;
}

FaultSpec FaultSpec::truncated(int keptBytes) {
    FaultSpec spec = of(Fault::TruncatedReply);
    spec.byteCount = keptBytes;
    return spec;
}

FaultSpec FaultSpec::raw(const QByteArray &reply) {
    FaultSpec spec = of(Fault::RawReply);
    spec.bytes = reply;
    return spec;
}

FaultSpec FaultSpec::exception(std::uint8_t code) {
    FaultSpec spec = of(Fault::ExceptionReply);
    spec.exceptionCode = code;
    return spec;
}

FaultSpec FaultSpec::otherAddressReply(std::uint8_t address) {
    FaultSpec spec = of(Fault::OtherAddress);
    spec.otherAddress = address;
    return spec;
}

FaultSpec FaultSpec::extraBefore(const QByteArray &stray) {
    FaultSpec spec = of(Fault::ExtraBytesBefore);
    spec.bytes = stray;
    return spec;
}

FaultSpec FaultSpec::extraAfter(const QByteArray &stray) {
    FaultSpec spec = of(Fault::ExtraBytesAfter);
    spec.bytes = stray;
    return spec;
}

FaultSpec FaultSpec::doubled(int gapMs) {
    FaultSpec spec = of(Fault::DoubleReply);
    spec.delayMs = gapMs;
    return spec;
}

QByteArray Exchange::reply() const {
    QByteArray all;
    for (const auto &chunk : replyChunks)
        all += chunk.bytes;
    return all;
}

std::optional<Exchange::Clock::time_point> Exchange::firstSentAt() const {
    if (replyChunks.empty())
        return std::nullopt;
    return replyChunks.front().sentAt;
}

std::optional<Exchange::Clock::time_point> Exchange::lastSentAt() const {
    if (replyChunks.empty())
        return std::nullopt;
    return replyChunks.back().sentAt;
}

SimulatedSensor::SimulatedSensor(std::uint32_t seed) : model_(seed), faultRandom_(seed) {}

SimulatedSensor::~SimulatedSensor() {
    stop();
}

std::optional<int> SimulatedSensor::baudRateForCode(std::uint16_t code) {
    for (const auto &entry : kBaudCodes) {
        if (entry.code == code)
            return entry.baudRate;
    }
    return std::nullopt;
}

std::optional<std::uint16_t> SimulatedSensor::codeForBaudRate(int baudRate) {
    for (const auto &entry : kBaudCodes) {
        if (entry.baudRate == baudRate)
            return entry.code;
    }
    return std::nullopt;
}

bool SimulatedSensor::openPty(QString *error, int baudRate) {
    if (running_) {
        simposix::setError(error, QStringLiteral("already serving %1").arg(path_));
        return false;
    }
    if (baudRate <= 0) {
        simposix::setError(error, QStringLiteral("bad baud rate %1").arg(baudRate));
        return false;
    }
    int master = -1;
    int slave = -1;
    QString slavePath;
    if (!simposix::openRawPty(&master, &slave, &slavePath, error))
        return false;
    isPty_ = true;
    slaveFd_ = slave;
    path_ = slavePath;
    return startServing(master, baudRate, error);
}

bool SimulatedSensor::openDevice(const QString &path, int baudRate, QString *error) {
    if (running_) {
        simposix::setError(error, QStringLiteral("already serving %1").arg(path_));
        return false;
    }
    const int fd = simposix::openSerialDevice(path, baudRate, error);
    if (fd < 0)
        return false;
    isPty_ = false;
    path_ = path;
    return startServing(fd, baudRate, error);
}

bool SimulatedSensor::startServing(int fd, int baudRate, QString *error) {
    wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd_ < 0) {
        simposix::setError(error, QStringLiteral("eventfd: %1").arg(strerror(errno)));
        ::close(fd);
        if (slaveFd_ >= 0)
            ::close(slaveFd_);
        slaveFd_ = -1;
        return false;
    }
    fd_ = fd;
    baudRate_ = baudRate;
    if (const auto code = codeForBaudRate(baudRate))
        model_.setRegister(SensorModel::kRegBaudRateCode, *code);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        failure_.clear();
    }
    rxPending_.clear();
    schedule_.clear();
    writing_.reset();
    writeLeft_.clear();
    nextUploadAt_.reset();
    stopRequested_ = false;
    running_ = true;
    thread_ = std::thread(&SimulatedSensor::serve, this);
    return true;
}

QString SimulatedSensor::portPath() const {
    return path_;
}

bool SimulatedSensor::isRunning() const {
    return running_;
}

QString SimulatedSensor::failure() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return failure_;
}

void SimulatedSensor::stop() {
    if (thread_.joinable()) {
        stopRequested_ = true;
        wakeServingThread();
        thread_.join();
    }
    running_ = false;
    for (int *fd : {&fd_, &slaveFd_, &wakeFd_}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
}

void SimulatedSensor::hangUp() {
    // Closing the master (and the slave end held here) is what a client sees as the cable
    // being pulled: its reads end in a hang-up.
    stop();
}

void SimulatedSensor::queueFault(const FaultSpec &fault) {
    std::lock_guard<std::mutex> lock(mutex_);
    faultQueue_.push_back(fault);
}

void SimulatedSensor::clearFaultQueue() {
    std::lock_guard<std::mutex> lock(mutex_);
    faultQueue_.clear();
}

void SimulatedSensor::setFaultRate(const FaultSpec &fault, double probability) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto &rate : faultRates_) {
        if (rate.first.kind == fault.kind) {
            rate = {fault, probability};
            return;
        }
    }
    faultRates_.emplace_back(fault, probability);
}

void SimulatedSensor::clearFaultRates() {
    std::lock_guard<std::mutex> lock(mutex_);
    faultRates_.clear();
}

void SimulatedSensor::setLineTiming(bool enabled, int turnaroundMs) {
    std::lock_guard<std::mutex> lock(mutex_);
    lineTiming_ = enabled;
    turnaroundMs_ = std::max(0, turnaroundMs);
}

void SimulatedSensor::setReplyDelay(int delayMs) {
    std::lock_guard<std::mutex> lock(mutex_);
    replyDelayMs_ = std::max(0, delayMs);
}

void SimulatedSensor::setUploadInterval(int intervalMs) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        uploadIntervalMs_ = std::max(0, intervalMs);
    }
    // The new interval applies at once, not after whatever the thread sleeps through now.
    if (running_)
        wakeServingThread();
}

void SimulatedSensor::wakeServingThread() {
    const std::uint64_t one = 1;
    if (::write(wakeFd_, &one, sizeof one) < 0) {
        // An eventfd write fails only on counter overflow; the thread is being woken anyway.
    }
}

QByteArray SimulatedSensor::uploadFrame() const {
    QByteArray frame;
    frame.append(char(model_.address()));
    frame.append(char(0x03));
    frame.append(char(4));
    for (const int reg : {SensorModel::kRegTemperature, SensorModel::kRegHumidity}) {
        const std::uint16_t value = model_.registerValue(reg).value_or(0);
        frame.append(char(value >> 8));
        frame.append(char(value & 0xFF));
    }
    return withCrc(frame);
}

int SimulatedSensor::baudRate() const {
    return baudRate_;
}

std::vector<Exchange> SimulatedSensor::exchanges() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return {exchanges_.begin(), exchanges_.end()};
}

void SimulatedSensor::clearExchanges() {
    std::lock_guard<std::mutex> lock(mutex_);
    firstExchangeId_ += exchanges_.size();
    exchanges_.clear();
    exchangeComplete_.clear();
}

bool SimulatedSensor::waitForExchanges(std::size_t count, int timeoutMs) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return exchangesChanged_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        if (exchanges_.size() < count)
            return false;
        return std::all_of(exchangeComplete_.begin(), exchangeComplete_.begin() + count,
                           [](bool complete) { return complete; });
    });
}

void SimulatedSensor::setFrameLogger(std::function<void(const Exchange &)> logger) {
    std::lock_guard<std::mutex> lock(mutex_);
    logger_ = std::move(logger);
}

int SimulatedSensor::silenceMs() const {
    // 3.5 characters of 10 bits end a frame; a pty delivers a write whole, so a couple of
    // milliseconds are enough at high rates.
    return std::max(2, int(std::ceil(35000.0 / std::max(1, baudRate_.load()))));
}

FaultSpec SimulatedSensor::pickFault(const QByteArray &frame) {
    std::lock_guard<std::mutex> lock(mutex_);
    FaultSpec fault;
    if (!faultQueue_.empty()) {
        fault = faultQueue_.front();
        faultQueue_.pop_front();
    } else if (!faultRates_.empty()) {
        const double draw = std::uniform_real_distribution<double>(0.0, 1.0)(faultRandom_);
        double cumulative = 0.0;
        for (const auto &rate : faultRates_) {
            cumulative += rate.second;
            if (draw < cumulative) {
                fault = rate.first;
                break;
            }
        }
    }
    const std::uint8_t function = frame.size() > 1 ? std::uint8_t(frame[1]) : 0;
    if (fault.onlyFunction != 0 && fault.onlyFunction != function)
        return {};
    if (fault.kind == Fault::LateReply && fault.maxDelayMs > fault.delayMs)
        fault.delayMs =
            std::uniform_int_distribution<int>(fault.delayMs, fault.maxDelayMs)(faultRandom_);
    return fault;
}

std::uint64_t SimulatedSensor::logExchange(Exchange exchange) {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::uint64_t id = firstExchangeId_ + exchanges_.size();
    exchanges_.push_back(std::move(exchange));
    exchangeComplete_.push_back(false);
    return id;
}

void SimulatedSensor::completeExchange(std::uint64_t id) {
    std::function<void(const Exchange &)> logger;
    std::optional<Exchange> finished;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (id >= firstExchangeId_ && id < firstExchangeId_ + exchanges_.size())
            finished = exchanges_[std::size_t(id - firstExchangeId_)];
        logger = logger_;
    }
    // The logger runs before the exchange counts as complete, so whoever waited for it
    // finds the logger done too.
    if (logger && finished)
        logger(*finished);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (id >= firstExchangeId_ && id < firstExchangeId_ + exchanges_.size())
            exchangeComplete_[std::size_t(id - firstExchangeId_)] = true;
    }
    exchangesChanged_.notify_all();
}

void SimulatedSensor::onFrame(const QByteArray &frame, Clock::time_point at) {
    Exchange exchange;
    exchange.request = frame;
    exchange.receivedAt = at;
    if (!model_.wouldAnswer(frame)) {
        model_.handleRequest(frame, &exchange.description);
        completeExchange(logExchange(exchange));
        return;
    }

    const FaultSpec fault = pickFault(frame);
    exchange.fault = fault.kind;
    const std::uint16_t baudCodeBefore = model_.baudRateCode();
    QByteArray reply;
    switch (fault.kind) {
        case Fault::NoReply:
            exchange.description = QStringLiteral("request dropped");
            break;
        case Fault::ExceptionReply: {
            QByteArray exception;
            exception.append(char(model_.address()));
            exception.append(char(std::uint8_t(frame[1]) | 0x80));
            exception.append(char(fault.exceptionCode));
            reply = withCrc(exception);
            exchange.description = QStringLiteral("exception %1")
                                       .arg(int(fault.exceptionCode), 2, 10, QLatin1Char('0'));
            break;
        }
        default:
            reply = model_.handleRequest(frame, &exchange.description);
            break;
    }

    // A normal read reply or write echo, as opposed to an exception (function | 0x80).
    const bool isRegisterReply = reply.size() >= 7 && (std::uint8_t(reply[1]) & 0x80) == 0;
    // Each entry: milliseconds after the reply would normally go out, and the bytes.
    std::vector<std::pair<int, QByteArray>> chunks;
    switch (fault.kind) {
        case Fault::None:
        case Fault::ExceptionReply:
            chunks.push_back({0, reply});
            break;
        case Fault::NoReply:
            break;
        case Fault::BadCrc:
            if (!reply.isEmpty())
                reply[reply.size() - 1] = char(~std::uint8_t(reply[reply.size() - 1]));
            chunks.push_back({0, reply});
            break;
        case Fault::SplitReply: {
            const int first = fault.byteCount < 0
                                  ? reply.size() / 2
                                  : std::clamp(fault.byteCount, 0, int(reply.size()));
            const int gap = fault.delayMs < 0 ? kDefaultSplitGapMs : fault.delayMs;
            if (first > 0)
                chunks.push_back({0, reply.left(first)});
            if (first < reply.size())
                chunks.push_back({first > 0 ? gap : 0, reply.mid(first)});
            break;
        }
        case Fault::LateReply:
            chunks.push_back({fault.delayMs < 0 ? kDefaultLateMs : fault.delayMs, reply});
            break;
        case Fault::ExtraBytesBefore:
            chunks.push_back({0, defaultStray(fault) + reply});
            break;
        case Fault::ExtraBytesAfter:
            chunks.push_back({0, reply + defaultStray(fault)});
            break;
        case Fault::WrongEcho:
            if (isRegisterReply) {
                // The first register's value in a read reply (offset 3), the data in an echo.
                const int valueAt = std::uint8_t(reply[1]) == 0x03 ? 3 : 4;
                const std::uint16_t value = std::uint16_t(std::uint8_t(reply[valueAt]) << 8 |
                                                          std::uint8_t(reply[valueAt + 1])) +
                                            1;
                reply[valueAt] = char(value >> 8);
                reply[valueAt + 1] = char(value & 0xFF);
                reply = recrc(reply);
            }
            chunks.push_back({0, reply});
            break;
        case Fault::DoubleReply: {
            const int gap = fault.delayMs < 0 ? 0 : fault.delayMs;
            if (gap == 0) {
                chunks.push_back({0, reply + reply});
            } else {
                chunks.push_back({0, reply});
                chunks.push_back({gap, reply});
            }
            break;
        }
        case Fault::TruncatedReply:
            chunks.push_back({0, reply.left(fault.byteCount < 0 ? kDefaultTruncatedBytes
                                                                : std::max(0, fault.byteCount))});
            break;
        case Fault::OverlongByteCount:
            if (isRegisterReply && std::uint8_t(reply[1]) == 0x03) {
                const int extra = fault.byteCount < 0 ? kDefaultOverlongExtra : fault.byteCount;
                reply[2] = char(std::uint8_t(reply[2]) + extra);
                reply = recrc(reply);
            }
            chunks.push_back({0, reply});
            break;
        case Fault::OtherAddress:
            if (!reply.isEmpty()) {
                reply[0] = char(fault.otherAddress);
                reply = recrc(reply);
            }
            chunks.push_back({0, reply});
            break;
        case Fault::RawReply:
            chunks.push_back({0, fault.bytes});
            break;
    }
    chunks.erase(std::remove_if(chunks.begin(), chunks.end(),
                                [](const auto &chunk) { return chunk.second.isEmpty(); }),
                 chunks.end());
    if (fault.kind != Fault::None) {
        exchange.description += QStringLiteral("; fault %1 injected").arg(faultName(fault.kind));
    }

    int baudRateAfter = 0;
    const std::uint16_t baudCodeAfter = model_.baudRateCode();
    if (baudCodeAfter != baudCodeBefore)
        baudRateAfter = baudRateForCode(baudCodeAfter).value_or(0);

    if (chunks.empty()) {
        completeExchange(logExchange(exchange));
        if (baudRateAfter > 0)
            applyBaudRate(baudRateAfter);
        return;
    }

    double lineDelayMs = 0.0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        lineDelayMs = replyDelayMs_;
        if (lineTiming_) {
            int bytesOnWire = frame.size();
            for (const auto &chunk : chunks)
                bytesOnWire += chunk.second.size();
            lineDelayMs += bytesOnWire * 10 * 1000.0 / baudRate_ + turnaroundMs_;
        }
    }
    const std::uint64_t id = logExchange(exchange);
    const auto start = at + std::chrono::microseconds(std::lround(lineDelayMs * 1000.0));
    for (std::size_t i = 0; i < chunks.size(); ++i) {
        const bool last = i + 1 == chunks.size();
        schedule({start + std::chrono::milliseconds(chunks[i].first), chunks[i].second, id, last,
                  last ? baudRateAfter : 0});
    }
}

void SimulatedSensor::schedule(const Scheduled &chunk) {
    const auto position =
        std::upper_bound(schedule_.begin(), schedule_.end(), chunk.due,
                         [](Clock::time_point due, const Scheduled &s) { return due < s.due; });
    schedule_.insert(position, chunk);
}

std::optional<SimulatedSensor::Clock::time_point> SimulatedSensor::scheduleUpload(
    Clock::time_point now) {
    int intervalMs = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        intervalMs = uploadIntervalMs_;
    }
    if (intervalMs <= 0) {
        nextUploadAt_.reset();
        return std::nullopt;
    }
    const auto interval = std::chrono::milliseconds(intervalMs);
    if (!nextUploadAt_ || *nextUploadAt_ > now + interval)
        nextUploadAt_ = now + interval;
    if (now >= *nextUploadAt_) {
        Scheduled upload{now, uploadFrame(), 0, false, 0};
        upload.upload = true;
        schedule(upload);
        nextUploadAt_ = *nextUploadAt_ + interval;
        if (*nextUploadAt_ <= now)
            nextUploadAt_ = now + interval;
    }
    return nextUploadAt_;
}

void SimulatedSensor::chunkWritten(const Scheduled &chunk, Clock::time_point at) {
    if (chunk.upload) {
        uploadedBytes_ += std::uint64_t(chunk.bytes.size());
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (chunk.exchangeId >= firstExchangeId_ &&
            chunk.exchangeId < firstExchangeId_ + exchanges_.size())
            exchanges_[std::size_t(chunk.exchangeId - firstExchangeId_)].replyChunks.push_back(
                {chunk.bytes, at});
    }
    if (chunk.baudRateAfter > 0)
        applyBaudRate(chunk.baudRateAfter);
    if (chunk.lastChunk)
        completeExchange(chunk.exchangeId);
}

void SimulatedSensor::applyBaudRate(int baudRate) {
    baudRate_ = baudRate;
    // A pty has no line speed of its own; its settings are the client's to make.
    if (!isPty_)
        simposix::setLineSpeed(fd_, baudRate, TCSADRAIN);
}

void SimulatedSensor::fail(const QString &why) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        failure_ = why;
    }
    running_ = false;
}

void SimulatedSensor::takeFrames(Clock::time_point now) {
    // A valid 8-byte request is taken at once; anything else waits for line silence and is
    // then handed over whole, which is also how a garbled line resynchronises.
    while (rxPending_.size() >= kRequestBytes &&
           frameCrcMatches(reinterpret_cast<const std::uint8_t *>(rxPending_.constData()),
                           kRequestBytes)) {
        const QByteArray frame = rxPending_.left(kRequestBytes);
        rxPending_.remove(0, kRequestBytes);
        onFrame(frame, lastByteAt_);
    }
    if (!rxPending_.isEmpty() && now - lastByteAt_ >= std::chrono::milliseconds(silenceMs())) {
        const QByteArray fragment = rxPending_;
        rxPending_.clear();
        onFrame(fragment, lastByteAt_);
    }
}

void SimulatedSensor::writeDue(Clock::time_point now) {
    for (;;) {
        if (!writing_) {
            if (schedule_.empty() || schedule_.front().due > now)
                return;
            writing_ = schedule_.front();
            schedule_.erase(schedule_.begin());
            writeLeft_ = writing_->bytes;
        }
        while (!writeLeft_.isEmpty()) {
            const ssize_t written = ::write(fd_, writeLeft_.constData(), writeLeft_.size());
            if (written > 0) {
                writeLeft_.remove(0, int(written));
                continue;
            }
            if (written < 0 && errno == EINTR)
                continue;
            if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                return;  // POLLOUT brings us back
            // The line is gone; what could not be sent is dropped like on a dead cable.
            writeLeft_.clear();
        }
        const Scheduled done = *writing_;
        writing_.reset();
        chunkWritten(done, Clock::now());
    }
}

void SimulatedSensor::serve() {
    char buffer[512];
    while (running_) {
        const auto now = Clock::now();
        takeFrames(now);
        const std::optional<Clock::time_point> uploadAt = scheduleUpload(now);
        writeDue(Clock::now());

        std::optional<Clock::time_point> wakeAt = uploadAt;
        if (!rxPending_.isEmpty()) {
            const auto silenceEnds = lastByteAt_ + std::chrono::milliseconds(silenceMs());
            if (!wakeAt || silenceEnds < *wakeAt)
                wakeAt = silenceEnds;
        }
        if (!writing_ && !schedule_.empty() && (!wakeAt || schedule_.front().due < *wakeAt))
            wakeAt = schedule_.front().due;
        int timeoutMs = -1;
        if (wakeAt) {
            const auto remaining = *wakeAt - Clock::now();
            // Round up so that the loop does not spin through the last fraction of a ms.
            timeoutMs = std::max<long>(
                0, long(std::chrono::ceil<std::chrono::milliseconds>(remaining).count()));
        }

        pollfd fds[2] = {{fd_, short(POLLIN | (writing_ ? POLLOUT : 0)), 0}, {wakeFd_, POLLIN, 0}};
        const int ready = ::poll(fds, 2, timeoutMs);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            fail(QStringLiteral("poll: %1").arg(strerror(errno)));
            break;
        }
        if (fds[1].revents) {
            std::uint64_t wakes = 0;
            if (::read(wakeFd_, &wakes, sizeof wakes) < 0) {
                // Already drained.
            }
            if (stopRequested_)
                break;
            continue;  // woken for a new setting
        }
        if (fds[0].revents & POLLIN) {
            for (;;) {
                const ssize_t got = ::read(fd_, buffer, sizeof buffer);
                if (got > 0) {
                    rxPending_.append(buffer, int(got));
                    lastByteAt_ = Clock::now();
                    continue;
                }
                if (got < 0 && errno == EINTR)
                    continue;
                if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                    break;
                fail(got == 0 ? QStringLiteral("%1: line closed").arg(path_)
                              : QStringLiteral("%1: %2").arg(path_, strerror(errno)));
                break;
            }
        } else if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
            fail(QStringLiteral("%1: line hung up").arg(path_));
        }
    }
    running_ = false;
}
