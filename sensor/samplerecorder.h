#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QString>

#include <cstdint>
#include <memory>

struct SharedState;

// One acquisition sample as the chart presents it: the registers of the cycle as read, and
// which of those reads succeeded (CycleRead bits).
struct CycleSample {
    std::int32_t smoke = 0;
    std::int32_t temperature = 0;  // signed hundredths in the low 16 bits
    std::int32_t humidity = 0;
    std::int32_t alarmStatus = 0;
    std::int32_t smokeAd = 0;
    std::uint8_t readsOk = 0;
};
CycleSample cycleSampleFrom(const SharedState &state);

// The file's header and one line for a sample, RFC 4180 with CRLF, UTF-8, '.' as the decimal
// point whatever the locale: the local time of the moment (milliseconds since 1970 in UTC, and
// the local offset from UTC in seconds), the milliseconds since recording began, the values.
// A value whose read failed is an empty cell.
QByteArray csvHeader();
QByteArray csvLine(qint64 utcMs, int utcOffsetS, qint64 elapsedMs, const CycleSample &sample);

// Lines wait this long at most before they are synced to the disk, plus the time until the main
// loop next finds the worker's run finished. Measured at five samples a second: writing the
// lines costs about 0.25 ms of CPU a second, with a sync a second about 0.5 ms, with a sync for
// every line about 1 ms.
constexpr qint64 kSyncIntervalMs = 1000;

// Records presented samples to a CSV file, one line each. Every line is handed to the system
// as it is written, so a crash of the program loses at most the line being written; the file
// is synced to the disk, on a thread of its own, within kSyncIntervalMs, which bounds what a
// power cut loses. Each sync also checks that the file is still where it was chosen. A failure
// stops the recording; errorString() then says why, in the system's words.
class SampleRecorder {
public:
    SampleRecorder();
    ~SampleRecorder();
    SampleRecorder(const SampleRecorder &) = delete;
    SampleRecorder &operator=(const SampleRecorder &) = delete;

    // Creates (or empties) the file and writes the header; the clock of the second column
    // starts here.
    bool start(const QString &path);
    // Appends the sample. False when the line could not be kept; recording has then stopped.
    bool record(const CycleSample &sample);
    // Syncs the lines written since the last sync once kSyncIntervalMs has passed since it;
    // false as record().
    bool syncIfDue();
    // Syncs what is left, waiting for it, and closes the file; false when the last lines could
    // not be kept.
    bool stop();

    bool isRecording() const { return file.isOpen(); }
    QString fileName() const { return file.fileName(); }
    QString errorString() const { return error; }

private:
    class DiskSync;

    bool writeLine(const QByteArray &line);
    // Checks the file and the last sync, and asks for the next.
    bool sync();
    bool fail(const QString &reason);

    QFile file;
    std::unique_ptr<DiskSync> diskSync;
    QByteArray nativePath;
    QElapsedTimer clock;
    QElapsedTimer sinceSync;
    bool unsynced = false;
    // Taken again at every sync: looking the local time up costs more than the rest of a line.
    int utcOffsetS = 0;
    QString error;
};
