#include "sensor/samplerecorder.h"

#include <QDate>
#include <QDateTime>
#include <QFileInfo>
#include <QtGlobal>

#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif
#ifdef Q_OS_WIN
#include <io.h>
#endif

#include "sensor/csv.h"
#include "sensor/sharedstate.h"
#include "sensor/uitext.h"

namespace {

// Signed hundredths as a decimal with two places, from the integer: no rounding, no locale.
QByteArray hundredthsCell(std::int32_t registerValue) {
    const int value = std::int16_t(registerValue & 0xFFFF);
    const int magnitude = std::abs(value);
    QByteArray cell;
    if (value < 0)
        cell += '-';
    cell += QByteArray::number(magnitude / 100);
    cell += '.';
    cell += char('0' + magnitude % 100 / 10);
    cell += char('0' + magnitude % 10);
    return cell;
}

QByteArray digits(qint64 value, int width) {
    return QByteArray::number(value).rightJustified(width, '0');
}

// "2026-12-07T15:30:00.123+08:00". With the offset, a night that crosses a change of summer
// time stays in order.
QByteArray localTimeCell(qint64 utcMs, int utcOffsetS) {
    constexpr qint64 kDayMs = 24 * 3600 * 1000;
    const qint64 localMs = utcMs + qint64(utcOffsetS) * 1000;
    qint64 days = localMs / kDayMs;
    qint64 msOfDay = localMs % kDayMs;
    if (msOfDay < 0) {
        msOfDay += kDayMs;
        --days;
    }
    const QDate date = QDate(1970, 1, 1).addDays(days);
    const int offsetMinutes = std::abs(utcOffsetS) / 60;
    return digits(date.year(), 4) + '-' + digits(date.month(), 2) + '-' + digits(date.day(), 2) +
           'T' + digits(msOfDay / 3600000, 2) + ':' + digits(msOfDay / 60000 % 60, 2) + ':' +
           digits(msOfDay / 1000 % 60, 2) + '.' + digits(msOfDay % 1000, 3) +
           (utcOffsetS < 0 ? '-' : '+') + digits(offsetMinutes / 60, 2) + ':' +
           digits(offsetMinutes % 60, 2);
}

QByteArray unsignedCell(std::int32_t value) {
    return QByteArray::number(std::uint32_t(value));
}

// Hands what was written to the disk: 0, or the errno. A FIFO or a device cannot be synced
// and needs not be.
int syncToDisk(int fd) {
#if defined(Q_OS_LINUX)
    const int result = ::fdatasync(fd);
#elif defined(Q_OS_UNIX)
    const int result = ::fsync(fd);
#elif defined(Q_OS_WIN)
    const int result = ::_commit(fd);  // FlushFileBuffers on the file's handle
#else
    const int result = 0;
    (void)fd;
#endif
    return result == 0 || errno == EINVAL ? 0 : errno;
}

#ifdef Q_OS_UNIX
// A new file's name survives a power cut only once its folder has been written too.
void syncFolderOf(const QString &path) {
    const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        (void)::fsync(fd);
        ::close(fd);
    }
}
#endif

}  // namespace

// Syncs the file on a thread of its own: on a slow medium (a USB stick) a sync can take a good
// part of a second, which the GUI thread, which also gathers the sensor's replies, cannot spare.
class SampleRecorder::DiskSync {
public:
    explicit DiskSync(int fd) : fd(fd), thread([this] { run(); }) {}
    ~DiskSync() {
        {
            std::lock_guard<std::mutex> lock(mutex);
            quit = true;
        }
        wake.notify_one();
        thread.join();
    }

    // Asks for a sync of everything written so far; does not wait for it.
    void request() {
        {
            std::lock_guard<std::mutex> lock(mutex);
            wanted = true;
        }
        wake.notify_one();
    }
    // Waits until everything asked for is synced.
    void waitUntilSynced() {
        std::unique_lock<std::mutex> lock(mutex);
        synced.wait(lock, [this] { return !wanted && !busy; });
    }
    // The errno of the first sync that failed, or 0.
    int error() {
        std::lock_guard<std::mutex> lock(mutex);
        return failed;
    }

private:
    void run() {
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            wake.wait(lock, [this] { return wanted || quit; });
            if (!wanted)
                return;
            wanted = false;
            busy = true;
            lock.unlock();
            const int result = syncToDisk(fd);
            lock.lock();
            busy = false;
            if (failed == 0)
                failed = result;
            synced.notify_all();
        }
    }

    const int fd;
    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable synced;
    bool wanted = false;
    bool busy = false;
    bool quit = false;
    int failed = 0;
    std::thread thread;  // last: starts once the rest is there
};

SampleRecorder::SampleRecorder() = default;

SampleRecorder::~SampleRecorder() {
    stop();
}

CycleSample cycleSampleFrom(const SharedState &state) {
    CycleSample sample;
    sample.smoke = state.smokeValue.load();
    sample.temperature = state.temValue.load();
    sample.humidity = state.humValue.load();
    sample.alarmStatus = state.alarmStatus.load();
    sample.smokeAd = state.smokeAdValue.load();
    sample.readsOk = state.cycleReadsOk.load();
    return sample;
}

QByteArray csvHeader() {
    const char *const columns[] = {"时间",      "记录时长(s)", "温度(℃)", "湿度(RH%)",
                                   "烟雾(PPM)", "报警状态位",  "烟雾AD值"};
    QByteArray header;
    for (const char *column : columns) {
        if (!header.isEmpty())
            header += ',';
        header += csvField(uiText(column));
    }
    return header + "\r\n";
}

QByteArray csvLine(qint64 utcMs, int utcOffsetS, qint64 elapsedMs, const CycleSample &sample) {
    QByteArray line = localTimeCell(utcMs, utcOffsetS);
    line += ',';
    line += QByteArray::number(elapsedMs / 1000);
    line += '.';
    line += digits(elapsedMs % 1000, 3);
    line += ',';
    if (sample.readsOk & CycleRead::Temperature)
        line += hundredthsCell(sample.temperature);
    line += ',';
    if (sample.readsOk & CycleRead::Humidity)
        line += hundredthsCell(sample.humidity);
    line += ',';
    if (sample.readsOk & CycleRead::Smoke)
        line += unsignedCell(sample.smoke);
    line += ',';
    if (sample.readsOk & CycleRead::AlarmStatus)
        line += unsignedCell(sample.alarmStatus);
    line += ',';
    if (sample.readsOk & CycleRead::SmokeAd)
        line += unsignedCell(sample.smokeAd);
    line += "\r\n";
    return line;
}

bool SampleRecorder::start(const QString &path) {
    stop();
    error.clear();
    file.setFileName(path);
    // Unbuffered: every line is one write to the system, nothing waits in this process.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
        return fail(file.errorString());
    nativePath = QFile::encodeName(path);
#ifdef Q_OS_UNIX
    syncFolderOf(path);
#endif
    diskSync = std::make_unique<DiskSync>(file.handle());
    clock.start();
    // The byte-order mark first: Excel takes a file without one for the system's code page.
    return writeLine(kUtf8ByteOrderMark + csvHeader()) && sync();
}

bool SampleRecorder::record(const CycleSample &sample) {
    if (!isRecording())
        return false;
    const QByteArray line =
        csvLine(QDateTime::currentMSecsSinceEpoch(), utcOffsetS, clock.elapsed(), sample);
    return writeLine(line) && syncIfDue();
}

bool SampleRecorder::syncIfDue() {
    if (!isRecording() || !unsynced || sinceSync.elapsed() < kSyncIntervalMs)
        return true;
    return sync();
}

bool SampleRecorder::stop() {
    if (!isRecording())
        return true;
    if (unsynced && !sync())
        return false;
    diskSync->waitUntilSynced();
    if (const int syncError = diskSync->error())
        return fail(qt_error_string(syncError));
    diskSync.reset();
    file.close();
    return true;
}

bool SampleRecorder::writeLine(const QByteArray &line) {
    if (file.write(line) != line.size())
        return fail(file.errorString());
    unsynced = true;
    return true;
}

bool SampleRecorder::sync() {
    // A sync that failed is told at the next one.
    if (const int syncError = diskSync->error())
        return fail(qt_error_string(syncError));
#ifdef Q_OS_UNIX
    // A file whose folder was removed, or that was moved away, still takes writes, which then
    // reach nobody: the name chosen must still lead to this file.
    struct stat opened {};
    struct stat named {};
    if (::fstat(file.handle(), &opened) != 0 || ::stat(nativePath.constData(), &named) != 0)
        return fail(qt_error_string(errno));
    if (opened.st_dev != named.st_dev || opened.st_ino != named.st_ino)
        return fail(uiText("文件已被替换"));
#endif
    diskSync->request();
    unsynced = false;
    sinceSync.start();
    utcOffsetS = QDateTime::currentDateTime().offsetFromUtc();
    return true;
}

bool SampleRecorder::fail(const QString &reason) {
    error = reason;
    diskSync.reset();  // before the file it syncs is closed
    file.close();
    return false;
}
